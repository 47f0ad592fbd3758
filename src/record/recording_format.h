#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/glove_frame.h"

// The recording: a CSV file with one row per frame the monitor read whole. The monitor
// writes it and the simulator plays it back, both through this one definition.
namespace glove::record {

inline constexpr std::string_view kHeader = "time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10";
inline constexpr char kLineEnd = '\n';
// No row is longer: 29 characters of time, an elapsed time of at most 15, ten values.
inline constexpr std::size_t kLongestLine = 128;
// About three years: keeps every schedule taken from it well inside 64-bit nanoseconds.
inline constexpr double kLongestElapsedMs = 1e11;

// "2026-12-07T09:31:02.123+01:00": local wall time, milliseconds and the offset from UTC.
std::string formatWallTime(const timespec& wallTime);
// "1234.567": microseconds as milliseconds with three decimals.
std::string formatElapsed(std::int64_t elapsedMicros);
// One whole row, its line end included.
std::string formatRow(const timespec& wallTime, std::int64_t elapsedMicros, const Frame& values);

struct Row {
    std::int64_t elapsedMicros = 0;
    Frame values{};
};

struct Recording {
    std::vector<Row> rows;
    // The line of a last row cut short (no line end): left out of `rows`.
    std::optional<int> cutLine;
};

// What makes a file not a recording; what() reads "FILE:LINE: why", or "FILE: why" when the
// file cannot be read at all.
class BadRecording : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads and checks a whole recording; `name` is how messages call it.
Recording parseRecording(std::string_view text, const std::string& name);
Recording readRecording(const std::string& path);

}  // namespace glove::record
