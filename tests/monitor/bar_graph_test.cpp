#include "monitor/bar_graph.h"

#include <gtest/gtest.h>

#include "support/case_names.h"

namespace glove {
namespace {

struct Bars {
    const char* name;
    Value value3, value4, value5, value6;
    float thumbLeft, thumbWidth;
    std::array<float, 4> fingerTops;
};

class BarFormulas : public ::testing::TestWithParam<Bars> {};

TEST_P(BarFormulas, PlaceTheThumbAndFingersExactly) {
    const Bars& b = GetParam();
    Reading r{};
    r[2] = b.value3;
    r[3] = b.value4;
    r[4] = b.value5;
    r[5] = b.value6;
    EXPECT_EQ(bars::thumbLeft(r), b.thumbLeft);
    EXPECT_EQ(bars::thumbWidth(r), b.thumbWidth);
    for (int finger = 0; finger < 4; ++finger) {
        EXPECT_EQ(bars::fingerTop(r, finger), b.fingerTops[finger]) << "finger " << finger;
    }
    EXPECT_EQ(bars::thumbLeft(r) + bars::thumbWidth(r), 1215.0F) << "the right edge stays";
}

INSTANTIATE_TEST_SUITE_P(
    Readings, BarFormulas,
    ::testing::Values(
        Bars{"Extremes", 255, 0, 255, 100, 755, 460, {1400, 262.5F, 950, 1000}},
        Bars{"MidRange", 102, 170, 200, 160, 1214, 1, {720, 510, 710, 760}},
        Bars{"WidthBelowZeroKept", 101, 1, 1, 1, 1217, -2, {1396, 1405.5F, 1346, 1396}},
        Bars{"AllStillEmpty",
             std::nullopt,
             std::nullopt,
             std::nullopt,
             std::nullopt,
             1520,
             -305,
             {1400, 1410, 1350, 1400}}),
    test::CaseName());

}  // namespace
}  // namespace glove
