#include "acquisition/mscomm.h"

#include <QtDebug>

#include "acquisition/posix_serial_line.h"
#include "common/run_time_error.h"

namespace glove {

namespace {

constexpr int kLongestInput = 32767;

// A device that cannot be opened, as the user reads it: what is wrong and what to do.
QString openProblem(const QString& path, const PosixSerialLine::OpenFailure& failure) {
    const QString choose = QStringLiteral(
        "glove-monitor --list-ports lists this machine's serial devices; --port chooses one");
    const QString cannotOpen = path + ": cannot open the serial device (" + failure.reason + ")";
    switch (failure.kind) {
        case PosixSerialLine::OpenFailure::Kind::Missing:
            return cannotOpen + ": is the glove's receiver plugged in? " + choose;
        case PosixSerialLine::OpenFailure::Kind::Denied:
            return cannotOpen +
                   ": reading a serial device takes the dialout group: sudo adduser "
                   "$USER dialout, then log in again";
        case PosixSerialLine::OpenFailure::Kind::Held:
            return path + ": in use by another program (" + failure.reason +
                   "), which has to let it go first; fuser -v " + path + " names it";
        case PosixSerialLine::OpenFailure::Kind::Other:
            break;
    }
    return cannotOpen + ". " + choose;
}

}  // namespace

QString devicePathForPort(int number) {
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

MSComm::MSComm(QString devicePath, QObject* parent)
    : QObject(parent),
      line_(std::make_unique<PosixSerialLine>(kReceiveBufferSize)),
      devicePath_(std::move(devicePath)),
      settings_(LineSettings::parse(settingsText_)) {
    connect(line_.get(), &PosixSerialLine::arrived, this, [this] {
        emit charactersArrived();
        if (rThreshold_ > 0 && inBufferCount() >= rThreshold_) emit OnComm();
    });
    connect(line_.get(), &PosixSerialLine::failed, this, &MSComm::deviceFailed);
}

MSComm::~MSComm() = default;

QString MSComm::devicePath() const {
    return devicePath_.isEmpty() ? devicePathForPort(commPort_) : devicePath_;
}

void MSComm::setCommPort(int number) {
    if (programOpen_) throw RunTimeError(ErrorNumber::PortAlreadyOpen, "Port already open");
    if (number < 1 || number > kHighestPort) {
        throw RunTimeError(ErrorNumber::InvalidPortNumber,
                           "Invalid port number " + std::to_string(number));
    }
    if (number != commPort_ && devicePath_.isEmpty()) closeDevice();
    commPort_ = number;
}

void MSComm::setSettings(const QString& settings) {
    settings_ = LineSettings::parse(settings);
    settingsText_ = settings;
    line_->apply(settings_);
}

void MSComm::setInputLen(int characters) {
    if (characters < 0 || characters > kLongestInput) {
        throw RunTimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid property value: InputLen " + std::to_string(characters));
    }
    inputLen_ = characters;
}

void MSComm::setRThreshold(int characters) {
    if (characters < 0 || characters > kLongestInput) {
        throw RunTimeError(ErrorNumber::InvalidPropertyValue,
                           "Invalid property value: RThreshold " + std::to_string(characters));
    }
    rThreshold_ = characters;
}

void MSComm::setPortOpen(bool open) {
    if (!open) {
        programOpen_ = false;
        return;
    }
    if (programOpen_) throw RunTimeError(ErrorNumber::PortAlreadyOpen, "Port already open");
    if (failed_) closeDevice();
    if (!line_->isOpen()) openDevice();
    programOpen_ = true;
}

QByteArray MSComm::input() {
    if (!programOpen_) throw RunTimeError(ErrorNumber::PortNotOpen, "Port not open");
    int most = inputLen_;
    if (nextInputLimit_ > 0 && (most == 0 || nextInputLimit_ < most)) most = nextInputLimit_;
    // A read the buffer already holds in full needs nothing more from the system.
    if (most == 0 || inBufferCount() < most) takeInWaiting();
    if (!programOpen_) {
        throw RunTimeError(ErrorNumber::DeviceIoError,
                           "Device I/O error: " + devicePath().toStdString());
    }
    const QByteArray read = line_->read(most);
    if (!read.isEmpty()) {
        nextInputLimit_ = 0;
        emit charactersRead(read);
    }
    return read;
}

bool MSComm::receive() {
    if (line_->isOpen() && !failed_) return true;
    if (failed_) closeDevice();
    try {
        openDevice();
    } catch (const RunTimeError&) {
        return false;
    }
    return true;
}

int MSComm::inBufferCount() const {
    return static_cast<int>(line_->bytesAvailable());
}

void MSComm::watchArrivals(bool on) {
    line_->setWatching(on);
}

void MSComm::openDevice() {
    const QString path = devicePath();
    const std::optional<PosixSerialLine::OpenFailure> failure = line_->open(path, settings_);
    if (!failure) {
        failed_ = false;
        setProblem({});
        return;
    }
    const QString problem = openProblem(path, *failure);
    reportOnce(QString::number(static_cast<int>(failure->kind)) + path, problem);
    setProblem(problem);
    if (failure->kind == PosixSerialLine::OpenFailure::Kind::Denied ||
        failure->kind == PosixSerialLine::OpenFailure::Kind::Held) {
        throw RunTimeError(ErrorNumber::PermissionDenied,
                           "Permission denied: " + path.toStdString());
    }
    throw RunTimeError(ErrorNumber::DeviceUnavailable, "Device unavailable: " + path.toStdString());
}

void MSComm::closeDevice() {
    line_->close();
    failed_ = false;
}

void MSComm::takeInWaiting() {
    // Received characters reach the buffer by themselves only while the line is watched and
    // the program handles its events; a read right after an open, or after a while
    // unwatched, must first take in what the system holds.
    if (!failed_) line_->takeIn();
}

void MSComm::deviceFailed(const QString& reason) {
    // After a hang-up the device keeps reporting read errors as fast as it is asked, so
    // it is closed at the first one: the port reads as closed, and the next open retries.
    failed_ = true;
    programOpen_ = false;
    const QString problem = devicePath() + ": the serial device failed (" + reason +
                            "): was the receiver unplugged? It is opened again once it is back";
    reportOnce("failed " + devicePath(), problem);
    setProblem(problem);
    // Not closed here: the line is still inside its own read when it reports the failure.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (failed_) closeDevice();
        },
        Qt::QueuedConnection);
}

void MSComm::reportOnce(const QString& kind, const QString& message) {
    if (reported_.contains(kind)) return;
    reported_.insert(kind);
    qWarning().noquote() << "glove-monitor:" << message;
}

void MSComm::setProblem(const QString& problem) {
    if (problem == problem_) return;
    problem_ = problem;
    emit problemChanged(problem_);
}

}  // namespace glove
