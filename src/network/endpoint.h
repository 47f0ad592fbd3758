#pragma once

#include <sys/socket.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace glove::network {

// Where one receiver listens, resolved once when the program starts.
struct Endpoint {
    std::string text;  // as the user gave it, for messages
    sockaddr_storage address{};
    socklen_t length = 0;
};

// A receiver that cannot be used; what() says why, in one line.
class BadEndpoint : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// HOST:PORT, where HOST is a name, an IPv4 address or an IPv6 address in brackets. A name
// with addresses of both families is taken as IPv4, where most receivers listen.
Endpoint resolveEndpoint(std::string_view value);

// An OSC address prefix: a '/' first, printable ASCII, no trailing '/' and none of the
// characters OSC keeps for patterns (space # * , ? [ ] { }).
bool isOscPrefix(std::string_view prefix);

}  // namespace glove::network
