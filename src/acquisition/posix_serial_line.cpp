#include "acquisition/posix_serial_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include "acquisition/posix_serial_speed.h"
#include "common/system_error_text.h"
#include "common/unique_fd.h"

namespace glove {

namespace {

// Raw characters as they come, at the settings' size, parity and stop bits. The speed is
// set apart, see setLineSpeed.
termios rawTermios(termios t, const LineSettings& settings) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    constexpr std::array kSizes{CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes.at(static_cast<std::size_t>(settings.dataBits - 5));
    switch (settings.parity) {
        case LineSettings::Parity::None:
            break;
        case LineSettings::Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case LineSettings::Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case LineSettings::Parity::Mark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case LineSettings::Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // A UART sends one and a half stop bits for five data bits where it is asked for two.
    if (settings.stopBits != LineSettings::StopBits::One) t.c_cflag |= CSTOPB;
    // Reads never wait, as the device is non-blocking: the program's event loop and timers
    // decide when to read. A minimum of one character makes a read of an empty line fail with
    // EAGAIN, so that only a hung-up device reads as the end of the file; with none, both
    // would read nothing.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

}  // namespace

PosixSerialLine::PosixSerialLine(qsizetype bufferLimit, QObject* parent)
    : QObject(parent), bufferLimit_(bufferLimit) {}

PosixSerialLine::~PosixSerialLine() {
    close();
}

std::optional<PosixSerialLine::OpenFailure> PosixSerialLine::open(const QString& path,
                                                                  const LineSettings& settings) {
    close();
    UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        using enum OpenFailure::Kind;
        // EBUSY: another program opened it for itself alone. ENXIO, ENODEV, EIO: a device
        // node with no hardware behind it (a serial port the machine does not have).
        const bool missing = error == ENOENT || error == ENXIO || error == ENODEV || error == EIO;
        const OpenFailure::Kind kind = missing                             ? Missing
                                       : error == EACCES || error == EPERM ? Denied
                                       : error == EBUSY                    ? Held
                                                                           : Other;
        return OpenFailure{.kind = kind, .reason = systemErrorText(error)};
    }
    // Another program reading the same device would take characters out of our frames.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return OpenFailure{.kind = OpenFailure::Kind::Held,
                           .reason = QStringLiteral("it holds a lock on it")};
    }
    if (tcgetattr(fd.get(), &found_) != 0) return OpenFailure{.reason = systemErrorText(errno)};
    const termios raw = rawTermios(found_, settings);
    if (tcsetattr(fd.get(), TCSANOW, &raw) != 0 || !setLineSpeed(fd.get(), settings.baud)) {
        const int error = errno;
        tcsetattr(fd.get(), TCSANOW, &found_);
        return OpenFailure{.reason = systemErrorText(error)};
    }
    // What waited on the line came before anyone listened: a port opened now holds nothing
    // older, whatever a pseudo-terminal or an adapter kept meanwhile.
    tcflush(fd.get(), TCIFLUSH);
    // Nor may one open it after us.
    ioctl(fd.get(), TIOCEXCL);
    fd_ = fd.release();
    failed_ = false;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PosixSerialLine::takeIn);
    updateNotifier();
    return std::nullopt;
}

void PosixSerialLine::close() {
    buffer_.clear();
    if (fd_ < 0) return;
    delete notifier_;
    notifier_ = nullptr;
    ioctl(fd_, TIOCNXCL);
    // Best effort: a device that hung up cannot take its settings back, and need not.
    tcsetattr(fd_, TCSANOW, &found_);
    ::close(fd_);
    fd_ = -1;
    failed_ = false;
}

void PosixSerialLine::apply(const LineSettings& settings) {
    if (fd_ < 0 || failed_) return;
    termios current{};
    if (tcgetattr(fd_, &current) != 0) return fail(systemErrorText(errno));
    const termios raw = rawTermios(current, settings);
    if (tcsetattr(fd_, TCSANOW, &raw) != 0 || !setLineSpeed(fd_, settings.baud)) {
        fail(systemErrorText(errno));
    }
}

void PosixSerialLine::takeIn() {
    if (fd_ < 0 || failed_) return;
    const qsizetype before = buffer_.size();
    std::array<char, 4096> chunk{};
    while (buffer_.size() < bufferLimit_) {
        const auto room = static_cast<std::size_t>(bufferLimit_ - buffer_.size());
        const std::size_t asked = std::min(room, chunk.size());
        const ssize_t n = ::read(fd_, chunk.data(), asked);
        if (n > 0) {
            buffer_.append(chunk.data(), n);
            // A short read took all the system held; asking again would only hear "again".
            if (static_cast<std::size_t>(n) < asked) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // End of file: the other end hung up, the adapter was pulled.
        fail(n == 0 ? QStringLiteral("the device hung up") : systemErrorText(errno));
        break;
    }
    updateNotifier();
    if (buffer_.size() > before) emit arrived();
}

void PosixSerialLine::setWatching(bool on) {
    watching_ = on;
    updateNotifier();
}

QByteArray PosixSerialLine::read(qsizetype most) {
    QByteArray head;
    if (most <= 0 || most >= buffer_.size()) {
        head = std::exchange(buffer_, {});
    } else {
        head = buffer_.left(most);
        buffer_.remove(0, most);
    }
    updateNotifier();
    return head;
}

void PosixSerialLine::updateNotifier() {
    // A full buffer leaves characters in the system until the program reads.
    if (notifier_ != nullptr) {
        notifier_->setEnabled(watching_ && !failed_ && buffer_.size() < bufferLimit_);
    }
}

void PosixSerialLine::fail(const QString& reason) {
    // A hung-up device is readable forever: it is not watched again until it is reopened.
    failed_ = true;
    updateNotifier();
    emit failed(reason);
}

}  // namespace glove
