#pragma once

#include <cstdint>

namespace glove_sim {

// On the wire every byte takes a start bit, eight data bits and a stop bit.
inline constexpr std::uint64_t bitsPerByte = 10;
inline constexpr std::uint64_t nanosPerSecond = 1'000'000'000;

// How long `byteCount` bytes take on the line at `baud` (baud > 0), in nanoseconds rounded
// down. Computed for the whole count rather than as a per-byte figure times the count, so
// deadlines taken from it stay exact however long the run is.
constexpr std::int64_t lineTimeNanos(std::uint64_t byteCount, std::uint32_t baud) {
    const std::uint64_t bits = byteCount * bitsPerByte;
    const std::uint64_t wholeSeconds = bits / baud;
    const std::uint64_t restBits = bits % baud;
    return static_cast<std::int64_t>(wholeSeconds * nanosPerSecond +
                                     restBits * nanosPerSecond / baud);
}

}  // namespace glove_sim
