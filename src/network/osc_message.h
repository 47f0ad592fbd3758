#pragma once

#include <span>
#include <string>
#include <vector>

namespace glove::network {

// OSC messages in their wire form, as one datagram each.
std::vector<char> oscIntegers(const std::string& address, std::span<const int> values);
std::vector<char> oscFloats(const std::string& address, std::span<const float> values);
std::vector<char> oscString(const std::string& address, const std::string& text);

}  // namespace glove::network
