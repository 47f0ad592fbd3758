#include "support/pty.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <stdexcept>

namespace glove::test {

Pty::Pty() {
    pty::PseudoTerminal pair = pty::openPseudoTerminal(B4800, pty::MasterMode::Blocking);
    master_ = std::move(pair.master);
    slave_ = std::move(pair.slave);
    path_ = QString::fromStdString(pair.path);
}

void Pty::send(const QByteArray& bytes) const {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_.get(), bytes.constData() + done, bytes.size() - done);
        if (n < 0) throw std::runtime_error("write to pty master failed");
        done += n;
    }
}

QByteArray Pty::received(std::chrono::milliseconds timeout) const {
    QByteArray got;
    pollfd p{master_.get(), POLLIN, 0};
    while (::poll(&p, 1, static_cast<int>(timeout.count())) > 0 && (p.revents & POLLIN)) {
        char buffer[256];
        const ssize_t n = ::read(master_.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, n);
    }
    return got;
}

termios Pty::settings() const {
    termios t{};
    if (tcgetattr(slave_.get(), &t) != 0) throw std::runtime_error("tcgetattr on the pty failed");
    return t;
}

void Pty::unplug() {
    slave_.reset();
    master_.reset();
}

void processEventsFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ::usleep(1000);
    }
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values) out.append(static_cast<char>(v));
    return out;
}

}  // namespace glove::test
