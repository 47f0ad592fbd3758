#include <gtest/gtest.h>

#include "calibration/calibrator.h"
#include "calibration/ranges.h"
#include "support/case_names.h"

namespace glove::calibration {
namespace {

using namespace std::chrono_literals;

struct FractionCase {
    const char* name;
    Range range;
    int value;
    float fraction;
};

class Fraction : public ::testing::TestWithParam<FractionCase> {};

TEST_P(Fraction, IsThePlaceInTheRangeClampedOrMinusOne) {
    const FractionCase& c = GetParam();
    EXPECT_FLOAT_EQ(fraction(c.range, c.value), c.fraction);
}

INSTANTIATE_TEST_SUITE_P(
    Formula, Fraction,
    ::testing::Values(FractionCase{"Low", {40, 200}, 40, 0.0F},
                      FractionCase{"High", {40, 200}, 200, 1.0F},
                      FractionCase{"Quarter", {40, 200}, 80, 0.25F},
                      FractionCase{"BelowLowIsZero", {40, 200}, 3, 0.0F},
                      FractionCase{"AboveHighIsOne", {40, 200}, 255, 1.0F},
                      FractionCase{"SpanOf8IsCalibrated", {100, 108}, 102, 0.25F},
                      FractionCase{"SpanOf7IsNot", {100, 107}, 102, kNotCalibrated},
                      FractionCase{"StillSensorIsNot", {0, 0}, 0, kNotCalibrated},
                      FractionCase{"WholeByte", {0, 255}, 51, 0.2F}),
    test::CaseName());

TEST(Fractions, ValueNIsAtIndexNMinus2AndValue1IsLeftOut) {
    Ranges ranges{};
    for (int i = 0; i < kValueCount; ++i) ranges[i] = {i * 10, i * 10 + 100};
    ranges[4] = {50, 55};  // value 6: under 8
    const Fractions f = fractions(ranges, {128, 50, 20, 70, 130, 52, 140, 160, 60, 180});
    const Fractions expected{0.5F, 0.1F, 0.5F, 1.0F, kNotCalibrated, 0.9F, 1.0F, 0.0F, 1.0F};
    for (int i = 0; i < kValueCount; ++i) EXPECT_FLOAT_EQ(f[i], expected[i]) << "value " << i + 2;
    EXPECT_EQ(uncalibratedValues(ranges), std::vector<int>{6});
    EXPECT_EQ(describe(ranges), "Calibrated, except value 6 (moved less than 8)");
    ranges[0] = ranges[8] = {7, 7};
    EXPECT_EQ(describe(ranges), "Calibrated, except values 2, 6 and 10 (moved less than 8)");
    EXPECT_EQ(describe(std::nullopt), "Not calibrated");
}

TEST(RangesText, ReadsBackWhatIsWritten) {
    const Ranges ranges{{{0, 2},
                         {30, 220},
                         {20, 180},
                         {40, 240},
                         {10, 200},
                         {60, 230},
                         {25, 150},
                         {50, 250},
                         {0, 255}}};
    const std::string text = formatRanges(ranges);
    EXPECT_EQ(text, "0-2 30-220 20-180 40-240 10-200 60-230 25-150 50-250 0-255");
    EXPECT_EQ(parseRanges(text), ranges);
}

struct TextCase {
    const char* name;
    const char* text;
};

class DamagedText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DamagedText, IsNoCalibration) {
    EXPECT_EQ(parseRanges(GetParam().text), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DamagedText,
    ::testing::Values(TextCase{"Empty", ""},
                      TextCase{"EightPairs", "1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"TenPairs", "1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"TrailingSpace", "1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 "},
                      TextCase{"TwoSpaces", "1-2  1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"LowAboveHigh", "9-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"Above255", "1-256 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"Negative", "-1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"},
                      TextCase{"Commas", "1-2,1-2,1-2,1-2,1-2,1-2,1-2,1-2,1-2"},
                      TextCase{"Letters", "1-x 1-2 1-2 1-2 1-2 1-2 1-2 1-2 1-2"}),
    test::CaseName());

TEST(Calibrator, TakesTheLowestAndHighestOfTheFramesWhileItRuns) {
    Calibrator c;
    const auto t0 = Calibrator::Clock::time_point{} + 1h;
    const Frame before{128, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Frame open{128, 1, 40, 30, 20, 10, 90, 80, 70, 60};
    const Frame closed{128, 2, 200, 180, 160, 150, 100, 250, 240, 230};
    c.frameRead(std::span(&before, 1));
    c.start(t0, 3s);
    c.frameRead(std::span(&open, 1));
    c.frameRead(std::span(&closed, 1));
    EXPECT_DOUBLE_EQ(c.progress(t0 + 1500ms), 0.5);
    EXPECT_EQ(c.left(t0 + 1s), 2s);
    EXPECT_EQ(c.finishIfDue(t0 + 2999ms), std::nullopt);
    EXPECT_EQ(c.inForce(), std::nullopt) << "nothing is in force before the time is up";
    const auto ranges = c.finishIfDue(t0 + 3s);
    ASSERT_TRUE(ranges);
    EXPECT_EQ(formatRanges(*ranges), "1-2 40-200 30-180 20-160 10-150 90-100 80-250 70-240 60-230");
    EXPECT_EQ(c.inForce(), ranges);
    EXPECT_FALSE(c.running());
    c.frameRead(std::span(&before, 1));
    EXPECT_EQ(c.inForce(), ranges) << "frames after the end change nothing";
}

TEST(Calibrator, CancelledWithoutFramesOrWithAStillHandKeepsTheCalibrationInForce) {
    Calibrator c;
    const auto t0 = Calibrator::Clock::time_point{} + 1h;
    const Ranges kept = *parseRanges("0-2 30-220 20-180 40-240 10-200 60-230 25-150 50-250 0-120");
    c.setInForce(kept);
    c.start(t0, 3s);
    const Frame still{128, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    c.frameRead(std::span(&still, 1));
    c.cancel();
    EXPECT_EQ(c.finishIfDue(t0 + 10s), std::nullopt);
    c.start(t0, 3s);  // and no frame comes
    EXPECT_EQ(c.finishIfDue(t0 + 3s), std::nullopt);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.inForce(), kept);
    c.start(t0, 3s);  // a hand that does not move
    c.frameRead(std::span(&still, 1));
    EXPECT_EQ(c.finishIfDue(t0 + 3s), std::nullopt);
    EXPECT_EQ(c.inForce(), kept) << "a still hand replaced the calibration";
}

}  // namespace
}  // namespace glove::calibration
