#include "network/network_output.h"

#include <QtDebug>

#include "exchange/exchange_file.h"
#include "network/osc_message.h"
#include "network/udp_socket.h"

namespace glove::network {

namespace {

std::vector<Receiver> openReceivers(const std::vector<Endpoint>& endpoints, const char* kind) {
    std::vector<Receiver> receivers;
    for (const Endpoint& endpoint : endpoints) {
        receivers.emplace_back(kind + endpoint.text, std::make_unique<UdpSocket>(endpoint));
    }
    return receivers;
}

}  // namespace

NetworkOutput::NetworkOutput(const NetworkSettings& settings)
    : NetworkOutput(settings.oscPrefix, openReceivers(settings.osc, "OSC receiver "),
                    openReceivers(settings.udp, "UDP receiver ")) {}

NetworkOutput::NetworkOutput(std::string_view oscPrefix, std::vector<Receiver> osc,
                             std::vector<Receiver> udp)
    : frameAddress_(std::string(oscPrefix) + "/frame"),
      statusAddress_(std::string(oscPrefix) + "/status"),
      flexAddress_(std::string(oscPrefix) + "/flex"),
      postureAddress_(std::string(oscPrefix) + "/posture"),
      osc_(std::move(osc)),
      udp_(std::move(udp)) {}

NetworkOutput::~NetworkOutput() {
    for (const auto* receivers : {&osc_, &udp_}) {
        for (const Receiver& receiver : *receivers) {
            if (receiver.dropped() == 0) continue;
            qWarning().noquote() << QStringLiteral(
                                        "glove-monitor: %1: %2 datagrams dropped because sending "
                                        "would have blocked")
                                        .arg(QString::fromStdString(receiver.name()))
                                        .arg(receiver.dropped());
        }
    }
}

void NetworkOutput::frameRead(std::span<const Frame> lines) noexcept {
    const auto now = Receiver::Clock::now();
    if (!osc_.empty()) {
        const std::vector<char> message = oscIntegers(frameAddress_, lines.front());
        for (Receiver& receiver : osc_) receiver.send(message, now);
        if (calibrator_ != nullptr && calibrator_->inForce()) {
            const auto flex = calibration::fractions(*calibrator_->inForce(), lines.front());
            const std::vector<char> flexMessage = oscFloats(flexAddress_, flex);
            for (Receiver& receiver : osc_) receiver.send(flexMessage, now);
        }
        sendPosture(now);
    }
    if (!udp_.empty()) {
        std::string payload;
        for (const Frame& line : lines) {
            payload += exchange::formatLine(line);
            payload += exchange::kLineEnd;
        }
        for (Receiver& receiver : udp_) receiver.send(payload, now);
    }
}

void NetworkOutput::sendPosture(Receiver::Clock::time_point now) noexcept {
    if (postures_ == nullptr) return;
    const long changes = postures_->changes();
    const bool changed = postureSent_ != changes;
    // With none learnt, nothing is said but the "none" after the last one is removed.
    if (postures_->postures().postures().empty() && !(changed && postureSent_)) return;
    if (!changed && now - postureSentAt_ < kPostureRepeat) return;
    const std::string& held = postures_->held();
    const std::vector<char> message =
        oscString(postureAddress_, held.empty() ? std::string(posture::kNone) : held);
    for (Receiver& receiver : osc_) receiver.send(message, now);
    postureSent_ = changes;
    postureSentAt_ = now;
}

void NetworkOutput::textShown(const std::string& text) noexcept {
    if (osc_.empty()) return;
    const auto now = Receiver::Clock::now();
    const std::vector<char> message = oscString(statusAddress_, text);
    for (Receiver& receiver : osc_) receiver.send(message, now);
}

}  // namespace glove::network
