#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>

#include "support/case_names.h"

namespace glove {
namespace {

using Action = CommandLine::Action;

CommandLine parse(QStringList arguments) {
    arguments.prepend("glove-monitor");
    return parseCommandLine(arguments);
}

TEST(CommandLineOptions, DefaultsAreTheFixedPortAndExchangeFile) {
    const CommandLine c = parse({});
    EXPECT_EQ(c.action, Action::Run);
    EXPECT_TRUE(c.device.isEmpty());
    EXPECT_EQ(c.exchangePath, "/tmp/InputFile");
}

TEST(CommandLineOptions, PortTakesANumberOrADevicePath) {
    EXPECT_EQ(parse({"--port", "3"}).device, "/dev/ttyS2");
    EXPECT_EQ(parse({"--port=/dev/ttyUSB0"}).device, "/dev/ttyUSB0");
    // A bare name is the device of that name, as --list-ports shows it, plugged in or not;
    // a file of that name in the current directory only when there is no such device.
    EXPECT_EQ(parse({"--port", "null"}).device, "/dev/null");
    EXPECT_EQ(parse({"--port", "ttyUSB97"}).device, "/dev/ttyUSB97");
    const QTemporaryDir dir;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    QFile("glove").open(QIODevice::WriteOnly);
    QFile("null").open(QIODevice::WriteOnly);
    EXPECT_EQ(parse({"--port", "glove"}).device, "glove");
    EXPECT_EQ(parse({"--port", "null"}).device, "/dev/null");
    QDir::setCurrent(before);
    EXPECT_EQ(parse({"--exchange-file", "/var/tmp/x"}).exchangePath, "/var/tmp/x");
    EXPECT_EQ(parse({"--record", "/var/tmp/r.csv"}).recordPath, "/var/tmp/r.csv");
}

TEST(CommandLineOptions, HelpAndVersion) {
    EXPECT_EQ(parse({"--version"}).action, Action::ShowVersion);
    EXPECT_EQ(parse({"--version"}).message, "Glove Monitor 1.00");
    const CommandLine help = parse({"--help"});
    EXPECT_EQ(help.action, Action::ShowHelp);
    EXPECT_TRUE(help.message.startsWith("Usage: glove-monitor [options]\n"));
    EXPECT_TRUE(help.message.contains("--exchange-file"));
    EXPECT_EQ(parse({"--list-ports"}).action, Action::ListPorts);
}

TEST(CommandLineOptions, ReceiversAreRepeatableMixedAndKeptInOrder) {
    const CommandLine c = parse({"--osc", "127.0.0.1:9000", "--udp", "[::1]:9001",
                                 "--osc=localhost:9002", "--osc-prefix", "/left"});
    ASSERT_EQ(c.action, Action::Run) << c.message.toStdString();
    ASSERT_EQ(c.network.osc.size(), 2U);
    EXPECT_EQ(c.network.osc[1].text, "localhost:9002");
    ASSERT_EQ(c.network.udp.size(), 1U);
    EXPECT_EQ(c.network.udp[0].address.ss_family, AF_INET6);
    EXPECT_EQ(c.network.oscPrefix, "/left");
    EXPECT_EQ(parse({}).network.oscPrefix, "/glove");
}

// Arguments after the program's name.
struct ArgumentCase {
    const char* name;
    QStringList list;
};

class BadCommandLine : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(BadCommandLine, IsRefusedWithAMessage) {
    const CommandLine c = parse(GetParam().list);
    EXPECT_EQ(c.action, Action::Refuse);
    EXPECT_FALSE(c.message.isEmpty());
    EXPECT_FALSE(c.message.contains('\n')) << c.message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadCommandLine,
    ::testing::Values(
        ArgumentCase{"UnknownOption", {"--bogus"}}, ArgumentCase{"PortWithoutValue", {"--port"}},
        ArgumentCase{"PortZero", {"--port", "0"}}, ArgumentCase{"Port256", {"--port", "256"}},
        ArgumentCase{"HugePort", {"--port", "99999999999"}},
        ArgumentCase{"EmptyPort", {"--port", ""}},
        ArgumentCase{"EmptyExchangeFile", {"--exchange-file", ""}},
        ArgumentCase{"StrayArgument", {"extra"}}, ArgumentCase{"EmptyRecord", {"--record", ""}},
        ArgumentCase{"UnknownSingleDashOption", {"-bogus"}},
        ArgumentCase{"ToolkitOptionWithoutValue", {"-platform"}},
        ArgumentCase{"OscWithoutValue", {"--osc"}},
        ArgumentCase{"OscPortZero", {"--osc", "localhost:0"}},
        ArgumentCase{"UdpToUnknownHost", {"--udp", "no-such-host.invalid:9000"}},
        ArgumentCase{"OscPrefixWithoutSlash", {"--osc-prefix", "glove"}},
        ArgumentCase{"MidiChannel17", {"--midi-channel", "17"}},
        ArgumentCase{"MidiApiInCapitals", {"--midi-api", "JACK"}},
        ArgumentCase{"EightMidiControllers", {"--midi-controllers", "1,2,3,4,5,6,7,8"}},
        ArgumentCase{"OneMidiControllerTwice", {"--midi-controllers", "1,2,3,4,5,6,7,8,1"}},
        ArgumentCase{"MidiChannelModeController", {"--midi-controllers", "1,2,3,4,5,6,7,8,120"}},
        ArgumentCase{"EmptyMidiController", {"--midi-controllers", "1,,3,4,5,6,7,8,9"}},
        ArgumentCase{"LearnPostureWithoutFile", {"--learn-posture", "fist"}},
        ArgumentCase{"LearnPostureWithEmptyFile", {"--learn-posture", "fist="}},
        ArgumentCase{"LearnPostureOfAControlCharacter", {"--learn-posture", "\n"}},
        ArgumentCase{"LearnAndForgetPostures",
                     {"--learn-posture", "a=a.csv", "--forget-posture", "b"}},
        ArgumentCase{"LearnPostureAndCalibrate",
                     {"--learn-posture", "a=a.csv", "--calibrate-from", "a.csv"}},
        ArgumentCase{"ForgetPostureAndShowSettings", {"--forget-posture", "a", "--show-settings"}},
        ArgumentCase{"SaveAPostureToLearn", {"--save-settings", "--learn-posture", "a=a.csv"}},
        ArgumentCase{"PostureNoteWithoutNote", {"--posture-note", "fist"}},
        ArgumentCase{"PostureNoteAbove127", {"--posture-note", "fist=128"}},
        ArgumentCase{"PostureNoteOfANoteName", {"--posture-note", "fist=C4"}},
        ArgumentCase{"PostureNoteAndForgetPosture",
                     {"--posture-note", "a=60", "--forget-posture", "b"}}),
    test::CaseName());

// The application object takes these out when the window opens; until then they must pass.
class ToolkitOptions : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ToolkitOptions, PassAlongsideOurOwn) {
    const CommandLine c = parse(GetParam().list + QStringList{"--port", "/dev/ttyUSB0"});
    EXPECT_EQ(c.action, Action::Run) << c.message.toStdString();
    EXPECT_EQ(c.device, "/dev/ttyUSB0");
}

INSTANTIATE_TEST_SUITE_P(Arguments, ToolkitOptions,
                         ::testing::Values(ArgumentCase{"Platform", {"-platform", "offscreen"}},
                                           ArgumentCase{"Style", {"-style", "fusion"}},
                                           ArgumentCase{"StyleWithEquals", {"-style=fusion"}},
                                           ArgumentCase{"Display", {"-display", ":1"}},
                                           ArgumentCase{"Geometry", {"-geometry", "400x300+0+0"}},
                                           ArgumentCase{"Reverse", {"-reverse"}},
                                           ArgumentCase{"DoubleDashPlatformAndStylesheet",
                                                        {"--platform", "offscreen", "-stylesheet",
                                                         "a.qss"}}),
                         test::CaseName());

// Split at the first '=': no posture's name holds one, a file's may.
TEST(CommandLineOptions, PosturesToLearnAndForgetKeepTheirOrder) {
    const CommandLine c = parse({"--learn-posture", "fist=a=b.csv", "--learn-posture", "=x.csv",
                                 "--learn-posture", "fist=c.csv"});
    ASSERT_EQ(c.action, Action::LearnPostures) << c.message.toStdString();
    ASSERT_EQ(c.learnPostures.size(), 3U);
    EXPECT_EQ(c.learnPostures[0].name, "fist");
    EXPECT_EQ(c.learnPostures[0].recording, "a=b.csv");
    EXPECT_EQ(c.learnPostures[1].name, "") << "an empty name is told with the others";
    const CommandLine f = parse({"--forget-posture", "a", "--forget-posture", ""});
    EXPECT_EQ(f.action, Action::ForgetPostures);
    EXPECT_EQ(f.forgetPostures, (QStringList{"a", ""}));
    const CommandLine n = parse({"--posture-note", "a=7", "--posture-note", "=127"});
    EXPECT_EQ(n.action, Action::SetPostureNotes);
    ASSERT_EQ(n.postureNotes.size(), 2U);
    EXPECT_EQ(n.postureNotes[0].name, "a");
    EXPECT_EQ(n.postureNotes[0].note, 7);
    EXPECT_EQ(n.postureNotes[1].note, 127);
    EXPECT_EQ(parse({"--posture-note", "a=0", "--learn-posture", "a=a.csv"}).action,
              Action::LearnPostures);
}

QString sourceText(const char* path) {
    QFile file(QStringLiteral(GLOVE_SOURCE_DIR "/") + path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The man page has an entry under OPTIONS for each option and for none other; the README
// names each.
TEST(OptionTable, ManPageAndReadmeNameEveryOption) {
    const QString page = sourceText("docs/man/glove-monitor.1.in");
    const QString section = page.section("\n.SH OPTIONS\n", 1).section("\n.S", 0, 0);
    static const QRegularExpression entry(QStringLiteral("(?:^|\n)\\.TP\n([^\n]*)"));
    static const QRegularExpression longName(QStringLiteral("--([a-z][a-z-]*)"));
    QStringList described;
    for (const auto& tag : entry.globalMatch(section)) {
        const QString line = tag.captured(1).replace(QStringLiteral("\\-"), QStringLiteral("-"));
        for (const auto& name : longName.globalMatch(line)) described << name.captured(1);
    }
    QStringList names;
    const QString readme = sourceText("README.md");
    for (const Option& option : options()) {
        names << option.name;
        const QRegularExpression named(QStringLiteral("--%1(?![a-z-])").arg(option.name));
        EXPECT_TRUE(readme.contains(named))
            << "the README does not name --" << names.last().toStdString();
    }
    EXPECT_EQ(described.join(' ').toStdString(), names.join(' ').toStdString());
}

}  // namespace
}  // namespace glove
