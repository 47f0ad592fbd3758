#include "network/endpoint.h"

#include <netdb.h>

#include <charconv>
#include <cstring>
#include <memory>

namespace glove::network {

namespace {

constexpr int kHighestPort = 65535;

struct AddrInfoFree {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

int parsePort(std::string_view value, std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || port < 1 ||
        port > kHighestPort) {
        throw BadEndpoint(std::string(text) + ": the port must be a number from 1 to 65535");
    }
    return port;
}

}  // namespace

Endpoint resolveEndpoint(std::string_view value) {
    const std::string text(value);
    std::string host;
    std::string_view port;
    bool bracketed = false;
    if (value.starts_with('[')) {
        const auto close = value.find(']');
        if (close == std::string_view::npos || value.substr(close + 1, 1) != ":") {
            throw BadEndpoint(text + ": expected [IPv6 address]:PORT");
        }
        host = value.substr(1, close - 1);
        port = value.substr(close + 2);
        bracketed = true;
    } else {
        const auto colon = value.rfind(':');
        if (colon == std::string_view::npos) throw BadEndpoint(text + ": expected HOST:PORT");
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            throw BadEndpoint(text + ": an IPv6 address goes in brackets, as in [::1]:9000");
        }
    }
    if (host.empty()) throw BadEndpoint(text + ": the host is missing");
    const int number = parsePort(port, text);

    addrinfo hints{};
    hints.ai_family = bracketed ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV | (bracketed ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(number).c_str(), &hints, &found);
    if (status != 0) {
        throw BadEndpoint(text + ": cannot resolve " + host + ": " + ::gai_strerror(status));
    }
    const std::unique_ptr<addrinfo, AddrInfoFree> list(found);
    const addrinfo* chosen = list.get();
    for (const addrinfo* info = list.get(); info; info = info->ai_next) {
        if (info->ai_family == AF_INET) {
            chosen = info;
            break;
        }
    }
    Endpoint endpoint{.text = text};
    std::memcpy(&endpoint.address, chosen->ai_addr, chosen->ai_addrlen);
    endpoint.length = chosen->ai_addrlen;
    return endpoint;
}

bool isOscPrefix(std::string_view prefix) {
    if (!prefix.starts_with('/') || prefix.ends_with('/')) return false;
    for (const char c : prefix) {
        if (c <= ' ' || c > '~' || std::string_view("#*,?[]{}").find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace glove::network
