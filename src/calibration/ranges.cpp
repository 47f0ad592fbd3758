#include "calibration/ranges.h"

#include <algorithm>
#include <charconv>

namespace glove::calibration {

float fraction(Range range, float value) {
    if (!range.calibrated()) return kNotCalibrated;
    const float f =
        (value - static_cast<float>(range.low)) / static_cast<float>(range.high - range.low);
    return std::clamp(f, 0.0F, 1.0F);
}

Fractions fractions(const Ranges& ranges, const Frame& frame) {
    Fractions result{};
    for (int i = 0; i < kValueCount; ++i) {
        result[i] = fraction(ranges[i], frame[i + kFirstValue - 1]);
    }
    return result;
}

std::vector<int> uncalibratedValues(const Ranges& ranges) {
    std::vector<int> values;
    for (int i = 0; i < kValueCount; ++i) {
        if (!ranges[i].calibrated()) values.push_back(i + kFirstValue);
    }
    return values;
}

bool calibratesAnything(const Ranges& ranges) {
    return static_cast<int>(uncalibratedValues(ranges).size()) < kValueCount;
}

std::string describe(const std::optional<Ranges>& ranges) {
    if (!ranges) return "Not calibrated";
    const std::vector<int> left = uncalibratedValues(*ranges);
    if (left.empty()) return "Calibrated: values 2 to 10";
    if (static_cast<int>(left.size()) == kValueCount) {
        return "Not calibrated: no value moved " + std::to_string(kLeastSpan) + " or more";
    }
    std::string names;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (i > 0) names += i + 1 == left.size() ? " and " : ", ";
        names += std::to_string(left[i]);
    }
    return "Calibrated, except value" + std::string(left.size() > 1 ? "s " : " ") + names +
           " (moved less than " + std::to_string(kLeastSpan) + ")";
}

std::string formatRanges(const Ranges& ranges) {
    std::string text;
    for (const Range& r : ranges) {
        if (!text.empty()) text += ' ';
        text += std::to_string(r.low) + '-' + std::to_string(r.high);
    }
    return text;
}

std::optional<Ranges> parseRanges(std::string_view text) {
    Ranges ranges{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    // Reads one number of 0..255 followed by `after` (none at the very end).
    const auto number = [&](int& into, char after) {
        const auto [next, error] = std::from_chars(at, end, into);
        if (error != std::errc() || next == at || into < 0 || into > 255) return false;
        at = next;
        if (after == '\0') return at == end;
        if (at == end || *at != after) return false;
        ++at;
        return true;
    };
    for (int i = 0; i < kValueCount; ++i) {
        Range& r = ranges[i];
        if (!number(r.low, '-') || !number(r.high, i + 1 < kValueCount ? ' ' : '\0')) {
            return std::nullopt;
        }
        if (r.low > r.high) return std::nullopt;
    }
    return ranges;
}

void RangeCollector::add(const Frame& frame) {
    for (int i = 0; i < kValueCount; ++i) {
        const int v = frame[i + kFirstValue - 1];
        Range& r = ranges_[i];
        r = frames_ == 0 ? Range{v, v} : Range{std::min(r.low, v), std::max(r.high, v)};
    }
    ++frames_;
}

}  // namespace glove::calibration
