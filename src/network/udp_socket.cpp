#include "network/udp_socket.h"

#include <netinet/in.h>

#include <cerrno>
#include <system_error>

namespace glove::network {

namespace {

void setOption(int fd, int level, int name, int value) {
    if (::setsockopt(fd, level, name, &value, sizeof value) != 0) {
        throw std::system_error(errno, std::generic_category(), "setsockopt");
    }
}

// Multicast goes to this machine's own listeners too, and not past the first router.
void setMulticastOptions(int fd, const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        if (!IN_MULTICAST(ntohl(v4.sin_addr.s_addr))) return;
        setOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, 1);
        setOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, 1);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (!IN6_IS_ADDR_MULTICAST(&v6.sin6_addr)) return;
        setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, 1);
        setOption(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, 1);
    }
}

}  // namespace

UdpSocket::UdpSocket(const Endpoint& to)
    : fd_(::socket(to.address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)),
      address_(to.address),
      length_(to.length) {
    if (fd_.get() < 0) throw std::system_error(errno, std::generic_category(), "socket");
    // A subnet's broadcast address cannot be told from a host's without asking every
    // interface, and the option changes nothing for a unicast receiver.
    if (to.address.ss_family == AF_INET) setOption(fd_.get(), SOL_SOCKET, SO_BROADCAST, 1);
    setMulticastOptions(fd_.get(), to.address);
}

DatagramSocket::Result UdpSocket::send(std::span<const char> datagram) noexcept {
    // Without a route at start, connect fails; it is tried again until the network is there.
    if (!connected_) {
        if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address_), length_) != 0) {
            return {.sent = false, .error = errno};
        }
        connected_ = true;
    }
    int refused = 0;
    for (;;) {
        if (::send(fd_.get(), datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            return {.sent = true, .error = refused};
        }
        if (errno == EINTR) continue;
        // The refusal came back for an earlier datagram and is cleared by reporting it:
        // this one still goes out, so a receiver that starts up misses nothing.
        if (errno == ECONNREFUSED && refused == 0) {
            refused = errno;
            continue;
        }
        return {.sent = false, .error = errno};
    }
}

}  // namespace glove::network
