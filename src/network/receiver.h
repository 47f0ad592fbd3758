#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "network/datagram_socket.h"

namespace glove::network {

// One receiver: sends to it, counts what had to be dropped, and reports a failure once per
// episode on stderr while sending goes on.
class Receiver {
  public:
    using Clock = std::chrono::steady_clock;
    // Sends must go this long without an error before a failure counts as over: longer
    // than the one second by which hosts space out their port-unreachable replies.
    static constexpr auto kQuietToRecover = std::chrono::seconds(3);

    // `name` says which receiver in messages, e.g. "OSC receiver 127.0.0.1:9000".
    Receiver(std::string name, std::unique_ptr<DatagramSocket> socket)
        : name_(std::move(name)), socket_(std::move(socket)) {}

    void send(std::span<const char> datagram, Clock::time_point now) noexcept;

    [[nodiscard]] const std::string& name() const { return name_; }
    // Datagrams not sent because sending would have blocked.
    [[nodiscard]] std::uint64_t dropped() const { return dropped_; }

  private:
    std::string name_;
    std::unique_ptr<DatagramSocket> socket_;
    std::uint64_t dropped_ = 0;
    bool failing_ = false;
    Clock::time_point lastFailure_{};
};

}  // namespace glove::network
