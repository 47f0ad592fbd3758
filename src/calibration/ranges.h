#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/glove_frame.h"

// A glove's calibration: the lowest and highest reading of each sensor, values 2 to 10, and
// each reading as a fraction of its sensor's range.
namespace glove::calibration {

inline constexpr int kFirstValue = 2;
inline constexpr int kValueCount = kFrameLength - 1;
// A sensor that moved less than this while the hand opened and closed tells nothing: it is
// dead, stuck or unworn, and its fraction would be noise.
inline constexpr int kLeastSpan = 8;
// What a value that is not calibrated reads as a fraction.
inline constexpr float kNotCalibrated = -1.0F;

struct Range {
    int low = 0;
    int high = 0;

    [[nodiscard]] bool calibrated() const { return high - low >= kLeastSpan; }
    bool operator==(const Range&) const = default;
};

// Value n's range at index n - kFirstValue.
using Ranges = std::array<Range, kValueCount>;
using Fractions = std::array<float, kValueCount>;

// (value - low) / (high - low), clamped to 0..1; kNotCalibrated for a range under kLeastSpan.
// A value may lie between two readings, as a mean of readings does.
float fraction(Range range, float value);
inline float fraction(Range range, int value) {
    return fraction(range, static_cast<float>(value));
}
Fractions fractions(const Ranges& ranges, const Frame& frame);

// The numbers (2 to 10) of the values whose ranges are under kLeastSpan.
std::vector<int> uncalibratedValues(const Ranges& ranges);

// The calibration in words: which values it covers, and which it leaves out.
std::string describe(const std::optional<Ranges>& ranges);
// A hand that did not move (or a line stuck on one frame) calibrates nothing: such ranges
// never replace a calibration.
bool calibratesAnything(const Ranges& ranges);

// How the ranges are kept: "LOW-HIGH" for values 2 to 10, separated by single spaces.
std::string formatRanges(const Ranges& ranges);
// The ranges of that text; nullopt when it is anything else (nine pairs, 0 <= LOW <= HIGH <=
// 255, nothing more).
std::optional<Ranges> parseRanges(std::string_view text);

// The lowest and highest of each value over the frames it is given.
class RangeCollector {
  public:
    void add(const Frame& frame);
    [[nodiscard]] long frames() const { return frames_; }
    // Only with at least one frame.
    [[nodiscard]] const Ranges& ranges() const { return ranges_; }

  private:
    Ranges ranges_{};
    long frames_ = 0;
};

}  // namespace glove::calibration
