#include "network/osc_message.h"

#include <lo/lo_lowlevel.h>

#include <memory>
#include <new>

namespace glove::network {

namespace {

struct MessageFree {
    void operator()(lo_message message) const { lo_message_free(message); }
};

// The message of one argument for each value, as `add` puts it in. The library fails only
// for want of memory.
template <typename Value, typename Add>
std::vector<char> oscMessage(const std::string& address, std::span<const Value> values, Add add) {
    const std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree> message(lo_message_new());
    if (!message) throw std::bad_alloc();
    for (const Value& value : values) {
        if (add(message.get(), value) < 0) throw std::bad_alloc();
    }
    size_t size = lo_message_length(message.get(), address.c_str());
    std::vector<char> datagram(size);
    if (!lo_message_serialise(message.get(), address.c_str(), datagram.data(), &size)) {
        throw std::bad_alloc();
    }
    datagram.resize(size);
    return datagram;
}

}  // namespace

std::vector<char> oscIntegers(const std::string& address, std::span<const int> values) {
    return oscMessage(address, values, lo_message_add_int32);
}

std::vector<char> oscFloats(const std::string& address, std::span<const float> values) {
    return oscMessage(address, values, lo_message_add_float);
}

std::vector<char> oscString(const std::string& address, const std::string& text) {
    return oscMessage(address, std::span(&text, 1), [](lo_message message, const std::string& s) {
        return lo_message_add_string(message, s.c_str());
    });
}

}  // namespace glove::network
