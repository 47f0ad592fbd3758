#include "monitor/bar_graph.h"

#include <array>

namespace glove::bars {

namespace {

constexpr double kThumbLeftBase = 1520;
constexpr double kThumbWidthOffset = -305;
constexpr double kThumbTwipsPerUnit = 3;

struct FingerFormula {
    int value;  // which value of the reading moves the finger
    double base;
    double twipsPerUnit;
};

constexpr std::array<FingerFormula, 4> kFingers{{
    {4, 1400, 4},
    {5, 1410, 4.5},
    {6, 1350, 4},
    {6, 1400, 4},
}};

}  // namespace

float thumbLeft(const Reading& reading) {
    return static_cast<float>(kThumbLeftBase - kThumbTwipsPerUnit * valueOf(reading, 3));
}

float thumbWidth(const Reading& reading) {
    return static_cast<float>(kThumbTwipsPerUnit * valueOf(reading, 3) + kThumbWidthOffset);
}

float fingerTop(const Reading& reading, int finger) {
    const FingerFormula& f = kFingers.at(static_cast<std::size_t>(finger));
    return static_cast<float>(f.base - f.twipsPerUnit * valueOf(reading, f.value));
}

}  // namespace glove::bars
