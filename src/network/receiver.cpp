#include "network/receiver.h"

#include <QtDebug>
#include <cerrno>
#include <system_error>

namespace glove::network {

void Receiver::send(std::span<const char> datagram, Clock::time_point now) noexcept {
    const DatagramSocket::Result result = socket_->send(datagram);
    // A full socket buffer or device queue: this datagram is lost, the next may pass.
    if (!result.sent && (result.error == EAGAIN || result.error == ENOBUFS)) {
        ++dropped_;
        return;
    }
    if (result.error != 0) {
        if (!failing_) {
            qWarning().noquote() << QStringLiteral("glove-monitor: %1: %2; sending goes on")
                                        .arg(QString::fromStdString(name_),
                                             QString::fromStdString(
                                                 std::generic_category().message(result.error)));
        }
        failing_ = true;
        lastFailure_ = now;
        return;
    }
    if (failing_ && now - lastFailure_ >= kQuietToRecover) {
        failing_ = false;
        qWarning().noquote() << QStringLiteral("glove-monitor: %1: sending again")
                                    .arg(QString::fromStdString(name_));
    }
}

}  // namespace glove::network
