#include "monitor/status_text.h"

#include <gtest/gtest.h>

#include "support/case_names.h"

namespace glove {
namespace {

Reading readingOf(std::initializer_list<double> values) {
    Reading r{};
    int i = 0;
    for (const double v : values) r[i++] = v;
    return r;
}

struct Case {
    const char* name;
    double value2, value4, value5, value6;
    bool gesture;
    bool battery;
};

class Thresholds : public ::testing::TestWithParam<Case> {};

TEST_P(Thresholds, AreStrictAndNumeric) {
    const Case& c = GetParam();
    const Reading r = readingOf({128, c.value2, 0, c.value4, c.value5, c.value6, 0, 0, 0, 0});
    EXPECT_EQ(status::gestureTest(r), c.gesture);
    EXPECT_EQ(status::batteryTest(r), c.battery);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Thresholds,
    ::testing::Values(Case{"Gesture", 0, 150, 220, 100, true, false},
                      Case{"GestureWhateverValue2Is", 9, 150, 220, 100, true, true},
                      Case{"Value4Of170IsNotBelow170", 3, 170, 220, 100, false, true},
                      Case{"Value2Of2IsNotAbove2", 2, 170, 220, 100, false, false},
                      Case{"JustInsideEveryBound", 0, 169, 201, 159, true, false},
                      Case{"Value5Of200IsNotAbove200", 0, 150, 200, 100, false, false},
                      Case{"Value6Of160IsNotBelow160", 0, 150, 220, 160, false, false},
                      Case{"FractionalValue2AboveTwo", 2.5, 0, 0, 0, false, true}),
    test::CaseName());

TEST(ValuesLine, SeparatesWithExactlyTwoSpaces) {
    EXPECT_EQ(status::valuesLine(readingOf({128, 1, 40, 50, 60, 70, 80, 90, 100, 110})),
              "128  1  40  50  60  70  80  90  100  110");
    EXPECT_EQ(status::valuesLine(readingOf({128, 0, 255, 4.5, 0, 0, 0, 0, 0, 7})),
              "128  0  255  4.5  0  0  0  0  0  7");
}

TEST(ValuesLine, WritesAnyNumberWithFifteenSignificantDigits) {
    // Whole readings take a shorter way; every number must still read the same.
    for (const double v : {-0.0, -7.0, 999999999999999.0, 1e15, -1e15, 123456789012345678.0, 1e300,
                           0.1, -2.5, 1e-320, 4503599627370497.0}) {
        EXPECT_EQ(status::valuesLine(readingOf({128, v, 0, 0, 0, 0, 0, 0, 0, 0})),
                  "128  " + QString::number(v, 'g', 15) + "  0  0  0  0  0  0  0  0")
            << v;
    }
}

TEST(EmptyReading, IsEighteenSpacesAndCountsAsZero) {
    const Reading empty{};
    EXPECT_EQ(status::valuesLine(empty), QString(18, ' '));
    EXPECT_FALSE(status::gestureTest(empty)) << "value 5 counts as 0, not above 200";
    EXPECT_FALSE(status::batteryTest(empty));
}

}  // namespace
}  // namespace glove
