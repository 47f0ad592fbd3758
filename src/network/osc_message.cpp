#include "network/osc_message.h"

#include <lo/lo_lowlevel.h>

#include <memory>
#include <new>

namespace glove::network {

namespace {

struct MessageFree {
    void operator()(lo_message message) const { lo_message_free(message); }
};
using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree>;

Message newMessage() {
    Message message(lo_message_new());
    if (!message) throw std::bad_alloc();
    return message;
}

std::vector<char> serialised(const Message& message, const std::string& address) {
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
    const Message message = newMessage();
    for (const int value : values) {
        if (lo_message_add_int32(message.get(), value) < 0) throw std::bad_alloc();
    }
    return serialised(message, address);
}

std::vector<char> oscFloats(const std::string& address, std::span<const float> values) {
    const Message message = newMessage();
    for (const float value : values) {
        if (lo_message_add_float(message.get(), value) < 0) throw std::bad_alloc();
    }
    return serialised(message, address);
}

std::vector<char> oscString(const std::string& address, const std::string& text) {
    const Message message = newMessage();
    if (lo_message_add_string(message.get(), text.c_str()) < 0) throw std::bad_alloc();
    return serialised(message, address);
}

}  // namespace glove::network
