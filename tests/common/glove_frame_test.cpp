#include "common/glove_frame.h"

#include <gtest/gtest.h>

#include "support/case_names.h"

namespace glove {
namespace {

using namespace std::chrono_literals;

struct LineTimeCase {
    const char* name;
    std::uint64_t characters = 0;
    std::uint32_t baud = 0;
    int halfBits = 0;
    std::chrono::nanoseconds expected{};
};

class LineTime : public ::testing::TestWithParam<LineTimeCase> {};

TEST_P(LineTime, IsTheWholeCountsBitTimesRoundedDown) {
    const auto& c = GetParam();
    EXPECT_EQ(lineTime(c.characters, c.baud, c.halfBits), c.expected);
}

constexpr int k7E2 = halfBitsPerCharacter(7, true, 4);
constexpr int k5N15 = halfBitsPerCharacter(5, false, 3);
constexpr std::uint64_t kWeekSeconds = 7 * 24 * 3600;

INSTANTIATE_TEST_SUITE_P(
    Lines, LineTime,
    ::testing::Values(
        LineTimeCase{"OneByteAtTheGloveRate", 1, 4800, kGloveHalfBits, 2'083'333ns},
        LineTimeCase{"OneFrameAtTheGloveRate", kFrameLength, 4800, kGloveHalfBits, 20'833'333ns},
        LineTimeCase{"TenCharacters7E2At9600", 10, 9600, k7E2, 11'458'333ns},
        LineTimeCase{"TwoCharacters5N15At2400", 2, 2400, k5N15, 6'250'000ns},
        LineTimeCase{"OneByteAt115200", 1, 115200, kGloveHalfBits, 86'805ns},
        LineTimeCase{"NothingTakesNoTime", 0, 4800, kGloveHalfBits, 0ns},
        // 2'083'333 ns a character summed up would be 1.6 ms short after an hour.
        LineTimeCase{"AnHourAtTheGloveRate", 480ULL * 3600, 4800, kGloveHalfBits, 1h},
        LineTimeCase{"AWeekAtTheGloveRate", 480 * kWeekSeconds, 4800, kGloveHalfBits, 168h},
        // Counted in nanoseconds at once, a week at the fastest line would overflow.
        LineTimeCase{"AWeekAndAByteAtTheFastestRate", 400'000 * kWeekSeconds + 1, 4'000'000,
                     kGloveHalfBits, 168h + 2'500ns},
        LineTimeCase{"AWeekOf5N15AtTheFastestRate", 8'000'000 * kWeekSeconds / 15, 4'000'000, k5N15,
                     168h}),
    test::CaseName());

}  // namespace
}  // namespace glove
