#pragma once

#include <span>

namespace glove::network {

// One receiver's way out: datagrams sent without ever waiting.
class DatagramSocket {
  public:
    struct Result {
        bool sent = false;
        // Why not, or, with `sent`, that the receiver refused an earlier datagram.
        int error = 0;
    };

    virtual ~DatagramSocket() = default;

    // EAGAIN or EWOULDBLOCK: no room just now; any other error: the receiver or the
    // network is not there.
    virtual Result send(std::span<const char> datagram) noexcept = 0;
};

}  // namespace glove::network
