#include <gtest/gtest.h>

#include "startup/command_line.h"
#include "startup/settings_file.h"
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

}  // namespace
}  // namespace glove
