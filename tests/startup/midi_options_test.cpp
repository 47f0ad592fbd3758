#include <gtest/gtest.h>

#include "startup/command_line.h"
#include "startup/settings_file.h"
#include "support/case_names.h"
#include "support/temp_files.h"

namespace glove {
namespace {

using Action = CommandLine::Action;

CommandLine start(QStringList arguments, const SavedSettings& saved = {}) {
    arguments.prepend("glove-monitor");
    return parseCommandLine(arguments, saved);
}

TEST(MidiOptions, AreKeptBySaveSettingsAndTheCommandLineStillWins) {
    const test::TempDir dir;
    const SettingsFile file(dir.dir() + "/glove-monitor.conf");
    const CommandLine saving =
        start({"--save-settings", "--midi", "--midi-api", "jack", "--midi-channel", "10",
               "--midi-controllers", "1,2,3,4,5,6,7,8,9"});
    ASSERT_EQ(saving.action, Action::SaveSettings) << saving.message.toStdString();
    file.write(saving.toSave);

    const CommandLine c = start({"--midi-channel", "16"}, file.read());
    ASSERT_EQ(c.action, Action::Run) << c.message.toStdString();
    EXPECT_TRUE(c.settingsProblems.isEmpty()) << c.settingsProblems.join('\n').toStdString();
    EXPECT_TRUE(c.midi.enabled);
    EXPECT_EQ(c.midi.api, midi::Api::Jack);
    EXPECT_EQ(c.midi.channel, 16);
    EXPECT_EQ(c.midi.controllers, (midi::Controllers{1, 2, 3, 4, 5, 6, 7, 8, 9}));

    const CommandLine none = start({});
    EXPECT_FALSE(none.midi.enabled);
    EXPECT_EQ(none.midi.channel, 1);
    EXPECT_EQ(none.midi.controllers, (midi::Controllers{20, 21, 22, 23, 24, 25, 26, 27, 28}));
}

struct BadValue {
    const char* name;
    QStringList arguments;
};

class BadMidiOption : public ::testing::TestWithParam<BadValue> {};

TEST_P(BadMidiOption, IsRefusedInOneLine) {
    const CommandLine c = start(GetParam().arguments);
    EXPECT_EQ(c.action, Action::Refuse);
    EXPECT_TRUE(c.message.startsWith("Invalid --midi-")) << c.message.toStdString();
    EXPECT_FALSE(c.message.contains('\n'));
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadMidiOption,
    ::testing::Values(BadValue{"ChannelZero", {"--midi-channel", "0"}},
                      BadValue{"Channel17", {"--midi-channel", "17"}},
                      BadValue{"ChannelWord", {"--midi-channel", "one"}},
                      BadValue{"UnknownApi", {"--midi-api", "pulse"}},
                      BadValue{"ApiInCapitals", {"--midi-api", "JACK"}},
                      BadValue{"EightControllers", {"--midi-controllers", "1,2,3,4,5,6,7,8"}},
                      BadValue{"TenControllers", {"--midi-controllers", "1,2,3,4,5,6,7,8,9,10"}},
                      BadValue{"OneControllerTwice", {"--midi-controllers", "1,2,3,4,5,6,7,8,1"}},
                      BadValue{"ChannelModeController",
                               {"--midi-controllers", "1,2,3,4,5,6,7,8,120"}},
                      BadValue{"NegativeController", {"--midi-controllers", "-1,2,3,4,5,6,7,8,9"}},
                      BadValue{"EmptyController", {"--midi-controllers", "1,,3,4,5,6,7,8,9"}}),
    test::CaseName());

TEST(MidiOptions, ASavedSwitchOtherThanYesIsAProblemAndLeavesMidiOff) {
    SavedSettings saved;
    saved.values["midi"] = QStringList{"no"};
    const CommandLine c = start({}, saved);
    ASSERT_EQ(c.action, Action::Run);
    EXPECT_FALSE(c.midi.enabled);
    ASSERT_EQ(c.settingsProblems.size(), 1);
    EXPECT_TRUE(c.settingsProblems[0].contains("midi")) << c.settingsProblems[0].toStdString();
}

}  // namespace
}  // namespace glove
