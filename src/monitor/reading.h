#pragma once

#include <array>
#include <optional>

namespace glove {

// The ten values read back from the exchange file, value 1 to value 10. A value is
// empty until the first read-back succeeds; an empty value counts as 0 in arithmetic.
using Value = std::optional<double>;
using Reading = std::array<Value, 10>;

// Value n of the reading, counted from 1 as the frame counts its values.
inline double valueOf(const Reading& reading, int n) {
    return reading[n - 1].value_or(0.0);
}

}  // namespace glove
