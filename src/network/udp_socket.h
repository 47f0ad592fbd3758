#pragma once

#include "common/unique_fd.h"
#include "network/datagram_socket.h"
#include "network/endpoint.h"

namespace glove::network {

// A non-blocking datagram socket connected to one receiver, so the kernel tells us when
// the receiver's port is closed.
class UdpSocket final : public DatagramSocket {
  public:
    // Throws std::system_error if the system gives no socket for the address's family.
    explicit UdpSocket(const Endpoint& to);
    // Takes over a datagram socket that is already connected.
    explicit UdpSocket(int connectedFd) : fd_(connectedFd), connected_(true) {}

    Result send(std::span<const char> datagram) noexcept override;

  private:
    UniqueFd fd_;
    bool connected_ = false;
    sockaddr_storage address_{};
    socklen_t length_ = 0;
};

}  // namespace glove::network
