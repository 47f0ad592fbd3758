#pragma once

// The glove's frame and line, as the monitor reads them and the simulator sends them.

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace glove {

// Every frame is ten bytes; an aligned one starts with the marker.
inline constexpr int kFrameLength = 10;
inline constexpr int kFrameMarker = 128;

// Ten frame values, 0 to 255 each: an aligned frame starts with the marker.
using Frame = std::array<int, kFrameLength>;

// Half bits one character takes on a line: a start bit, the data bits, a parity bit if there
// is one, and 2, 3 or 4 half stop bits. Half bits keep one and a half stop bits exact.
constexpr int halfBitsPerCharacter(int dataBits, bool parityBit, int stopHalfBits) {
    return 2 * (1 + dataBits + (parityBit ? 1 : 0)) + stopHalfBits;
}

// The glove's receiver line: 4800 baud, no parity, 8 data bits, 1 stop bit; as the serial
// control's Settings text, and as the numbers the simulator paces by.
inline constexpr std::string_view kGloveSettings = "4800,N,8,1";
inline constexpr std::uint32_t kGloveBaud = 4800;
inline constexpr int kGloveHalfBits = halfBitsPerCharacter(8, false, 2);

// How long `characters` characters of `halfBits` half bits each take at `baud` (> 0), rounded
// down. The whole count is divided at once, not a per-character time multiplied, so deadlines
// taken from it stay exact however long a run is; whole seconds are split off first, so nothing
// overflows short of 292 years.
constexpr std::chrono::nanoseconds lineTime(std::uint64_t characters, std::uint32_t baud,
                                            int halfBits = kGloveHalfBits) {
    constexpr std::uint64_t nanosPerSecond = 1'000'000'000;
    const std::uint64_t halfBitsPerSecond = 2ULL * baud;
    const std::uint64_t total = characters * static_cast<std::uint64_t>(halfBits);
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(total / halfBitsPerSecond * nanosPerSecond +
                                  total % halfBitsPerSecond * nanosPerSecond / halfBitsPerSecond));
}

}  // namespace glove
