#include "acquisition/line_settings.h"

#include <gtest/gtest.h>

#include "common/glove_frame.h"
#include "monitor/connect_loop.h"
#include "support/case_names.h"
#include "support/errors.h"

namespace glove {
namespace {

using namespace std::chrono_literals;

struct Timing {
    const char* settings;
    int characters;
    std::chrono::nanoseconds expected;
};

class LineTiming : public ::testing::TestWithParam<Timing> {};

TEST_P(LineTiming, CountsStartParityAndStopBits) {
    const auto& t = GetParam();
    EXPECT_EQ(LineSettings::parse(t.settings).timeFor(t.characters), t.expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, LineTiming,
                         ::testing::Values(Timing{"4800,N,8,1", 10, 20'833'333ns},
                                           Timing{"9600,E,7,1", 10, 10'416'666ns},
                                           Timing{"1200,O,8,2", 1, 10'000'000ns},
                                           Timing{"2400,M,8,1.5", 2, 9'583'333ns}),
                         test::NamedBy<&Timing::settings>());

TEST(GloveLine, IsTheOneTheConnectLoopSetsAndTheSimulatorPacesBy) {
    const auto glove = LineSettings::parse(ConnectLoop::kSettings);
    EXPECT_EQ(glove.timeFor(1), lineTime(1, kGloveBaud, kGloveHalfBits));
}

struct Malformed {
    const char* name;
    const char* text;
};

class MalformedSettings : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedSettings, AreAnInvalidPropertyValue) {
    EXPECT_EQ(test::errorOf([] { LineSettings::parse(GetParam().text); }),
              ErrorNumber::InvalidPropertyValue);
}

INSTANTIATE_TEST_SUITE_P(Texts, MalformedSettings,
                         ::testing::Values(Malformed{"Empty", ""}, Malformed{"BaudOnly", "4800"},
                                           Malformed{"NoStopBits", "4800,N,8"},
                                           Malformed{"FiveFields", "4800,N,8,1,1"},
                                           Malformed{"WordForBaud", "fast,N,8,1"},
                                           Malformed{"ZeroBaud", "0,N,8,1"},
                                           Malformed{"NegativeBaud", "-4800,N,8,1"},
                                           Malformed{"UnknownParity", "4800,X,8,1"},
                                           Malformed{"NineDataBits", "4800,N,9,1"},
                                           Malformed{"FourDataBits", "4800,N,4,1"},
                                           Malformed{"ThreeStopBits", "4800,N,8,3"},
                                           Malformed{"EmptyStopBits", "4800,N,8,"}),
                         test::CaseName());

TEST(LineSettingsParse, ReadsEveryField) {
    const auto s = LineSettings::parse(" 19200 , e , 7 , 2 ");
    EXPECT_EQ(s.baud, 19200);
    EXPECT_EQ(s.parity, LineSettings::Parity::Even);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, LineSettings::StopBits::Two);
}

}  // namespace
}  // namespace glove
