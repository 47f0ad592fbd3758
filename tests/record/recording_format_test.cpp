#include "record/recording_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "support/case_names.h"

namespace glove::record {
namespace {

const std::string kHead = std::string(kHeader) + '\n';

struct WallTimeCase {
    const char* zone;  // POSIX TZ: no time zone database needed
    timespec at;
    const char* text;
};

class WallTime : public ::testing::TestWithParam<WallTimeCase> {
  protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ")) saved_ = zone;
        ::setenv("TZ", GetParam().zone, 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", saved_.c_str(), 1);
        }
        ::tzset();
    }

  private:
    std::string saved_;
};

TEST_P(WallTime, IsLocalWithMillisecondsAndTheOffset) {
    EXPECT_EQ(formatWallTime(GetParam().at), GetParam().text);
}

// 1796635862 s is 2026-12-07T09:31:02Z.
INSTANTIATE_TEST_SUITE_P(
    Zones, WallTime,
    ::testing::Values(
        WallTimeCase{"UTC0", {1796635862, 123'456'789}, "2026-12-07T09:31:02.123+00:00"},
        WallTimeCase{"CET-1", {1796635862, 999'999'999}, "2026-12-07T10:31:02.999+01:00"},
        WallTimeCase{"NST+3:30", {1796635862, 0}, "2026-12-07T06:01:02.000-03:30"}),
    test::NamedBy<&WallTimeCase::zone>());

TEST(RecordingRows, ReadBackAsWritten) {
    const Frame first{128, 0, 255, 1, 2, 3, 4, 5, 6, 7};
    const Frame second{128, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    const std::string row = formatRow({1796635862, 0}, 1'234'005, first);
    EXPECT_TRUE(row.ends_with(",1234.005,128,0,255,1,2,3,4,5,6,7\n")) << row;
    EXPECT_EQ(formatElapsed(7), "0.007");

    const Recording r = parseRecording(kHead + row + formatRow({1796635862, 0}, 1'234'005, second) +
                                           formatRow({1796635862, 0}, 2'000'000, first),
                                       "r.csv");
    ASSERT_EQ(r.rows.size(), 3U);
    EXPECT_EQ(r.rows[0].values, first);
    EXPECT_EQ(r.rows[1].values, second);
    EXPECT_EQ(r.rows[1].elapsedMicros, 1'234'005);
    EXPECT_EQ(r.rows[2].elapsedMicros, 2'000'000);
    EXPECT_FALSE(r.cutLine);
}

TEST(RecordingRows, ACutLastRowIsLeftOutAndNamed) {
    const std::string whole = "t,1.000,128,1,2,3,4,5,6,7,8,9\n";
    const Recording r = parseRecording(kHead + whole + "t,2.000,128,1,2,3,4,5,6,7,8,1", "r.csv");
    EXPECT_EQ(r.rows.size(), 1U);
    EXPECT_EQ(r.cutLine, 3);
    // What a spreadsheet saves: a byte order mark and CR LF; the header alone is no row.
    EXPECT_EQ(
        parseRecording("\xEF\xBB\xBF" + std::string(kHeader) + "\r\nt,1,128,1,2,3,4,5,6,7,8,9\r\n",
                       "s.csv")
            .rows.size(),
        1U);
    EXPECT_TRUE(parseRecording(kHead, "h.csv").rows.empty());
}

struct BadCase {
    const char* name;
    std::string text;
    std::string message;  // what the one line starts with
};

class NotARecording : public ::testing::TestWithParam<BadCase> {};

TEST_P(NotARecording, NamesTheLine) {
    try {
        (void)parseRecording(GetParam().text, "f.csv");
        ADD_FAILURE() << "accepted";
    } catch (const BadRecording& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with(GetParam().message)) << e.what();
    }
}

const std::string kRow = "t,5.000,128,1,2,3,4,5,6,7,8,9\n";

INSTANTIATE_TEST_SUITE_P(
    Files, NotARecording,
    ::testing::Values(
        BadCase{"Empty", "", "f.csv:1: not a recording"},
        BadCase{"EmptyLine", "\n", "f.csv:1: not a recording"},
        BadCase{"HeaderWithoutV10", "time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9\n",
                "f.csv:1: not a recording"},
        BadCase{"BinaryBytes", std::string("\0\xff\x80\n", 4), "f.csv:1: not a recording"},
        BadCase{"EmptyRow", kHead + "\n" + kRow, "f.csv:2: 1 column where a row has 12"},
        BadCase{"ElevenColumns", kHead + kRow + "t,6,128,1,2,3,4,5,6,7,8\n", "f.csv:3: 11 columns"},
        BadCase{"ThirteenColumns", kHead + "t,6,128,1,2,3,4,5,6,7,8,9,\n", "f.csv:2: 13 columns"},
        BadCase{"ValueAbove255", kHead + "t,6,128,1,2,3,256,5,6,7,8,9\n", "f.csv:2: v5 is '256'"},
        BadCase{"NegativeValue", kHead + "t,6,128,1,2,3,-1,5,6,7,8,9\n", "f.csv:2: v5 is '-1'"},
        BadCase{"SpaceInAValue", kHead + "t,6,128,1,2,3, 4,5,6,7,8,9\n", "f.csv:2: v5 is ' 4'"},
        BadCase{"LetterInAValue", kHead + "t,6,128,1,2,3,4x,5,6,7,8,9\n", "f.csv:2: v5 is '4x'"},
        BadCase{"NoMarkerFirst", kHead + "t,6,127,1,2,3,4,5,6,7,8,9\n", "f.csv:2: v1 is 127"},
        // Control characters from the file never reach the terminal as they are.
        BadCase{"EscapeSequence", kHead + "t,6,128,1,2,3,4,5,6,7,8,\x1b[31m\n",
                "f.csv:2: v10 is '\\x1b[31m'"},
        BadCase{"CarriageReturnInAValue", kHead + "t,6,128,1,2,3,4,5,6,7,8,9\r\r\n",
                "f.csv:2: v10 is '9\\x0d'"},
        BadCase{"NulInAValue", kHead + std::string("t,6,128,1,2,3,4,5,6,7,8,9\0\n", 27),
                "f.csv:2: v10 is '9\\x00', not"},
        // Characters stay; a C1 control and a byte that is no UTF-8 do not.
        BadCase{"NonAsciiCharacterStays", kHead + "t,6,128,1,2,3,4,5,6,7,8,\u00e9\xc2\x9b\xff\n",
                "f.csv:2: v10 is '\u00e9\\xc2\\x9b\\xff'"},
        BadCase{"ElapsedGoesBack", kHead + kRow + kRow + "t,4.999,128,1,2,3,4,5,6,7,8,9\n",
                "f.csv:4: elapsed_ms goes back from 5.000 to 4.999"},
        BadCase{"ElapsedNotANumber", kHead + "t,nan,128,1,2,3,4,5,6,7,8,9\n",
                "f.csv:2: elapsed_ms is 'nan'"},
        BadCase{"ElapsedInfinite", kHead + "t,inf,128,1,2,3,4,5,6,7,8,9\n",
                "f.csv:2: elapsed_ms is 'inf'"},
        BadCase{"ElapsedNegative", kHead + "t,-1,128,1,2,3,4,5,6,7,8,9\n",
                "f.csv:2: elapsed_ms is '-1'"},
        BadCase{"ElapsedHuge", kHead + "t,1e300,128,1,2,3,4,5,6,7,8,9\n",
                "f.csv:2: elapsed_ms is '1e300'"},
        BadCase{"ElapsedEmpty", kHead + "t,,128,1,2,3,4,5,6,7,8,9\n", "f.csv:2: elapsed_ms is ''"},
        BadCase{"OverlongLine", kHead + kRow + std::string(100'000, '7'),
                "f.csv:3: a line longer than"}),
    test::CaseName());

TEST(RecordingFiles, AMissingFileIsNamed) {
    EXPECT_THROW(
        {
            try {
                (void)readRecording("/nonexistent/r.csv");
            } catch (const BadRecording& e) {
                EXPECT_STREQ(e.what(),
                             "/nonexistent/r.csv: cannot be read: No such file or directory");
                throw;
            }
        },
        BadRecording);
}

}  // namespace
}  // namespace glove::record
