#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "support/case_names.h"
#include "support/temp_files.h"
#include "startup/command_line.h"
#include "startup/settings_file.h"

namespace glove {
namespace {

using Action = CommandLine::Action;

struct SettingsRig {
    test::TempDir dir;
    SettingsFile file{dir.dir() + "/config/glove-monitor/glove-monitor.conf"};

    void holds(const QByteArray& text) const {
        QDir().mkpath(QFileInfo(file.path()).path());
        test::writeAll(file.path().toStdString(), text);
    }
    CommandLine start(QStringList arguments) const {
        arguments.prepend("glove-monitor");
        return parseCommandLine(arguments, file.read());
    }
};

mode_t modeOf(const QString& path) {
    struct stat s {};
    return ::lstat(QFile::encodeName(path).constData(), &s) == 0 ? s.st_mode : 0;
}

// A saved file and a command line; what a start uses.
struct Precedence {
    const char* name;
    const char* saved;
    QStringList arguments;
    const char* device;
    const char* exchangePath;
    std::vector<std::string> osc;
    const char* oscPrefix;
};

class SettingsPrecedence : public ::testing::TestWithParam<Precedence> {};

TEST_P(SettingsPrecedence, CommandLineOverridesTheFileOptionByOption) {
    const Precedence& p = GetParam();
    SettingsRig rig;
    if (*p.saved != '\0') rig.holds(p.saved);
    const CommandLine c = rig.start(p.arguments);
    ASSERT_EQ(c.action, Action::Run) << c.message.toStdString();
    EXPECT_TRUE(c.settingsProblems.isEmpty()) << c.settingsProblems.join('\n').toStdString();
    EXPECT_EQ(c.device, p.device);
    EXPECT_EQ(c.exchangePath, p.exchangePath);
    std::vector<std::string> osc;
    for (const auto& e : c.network.osc) osc.push_back(e.text);
    EXPECT_EQ(osc, p.osc);
    EXPECT_EQ(c.network.oscPrefix, p.oscPrefix);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsPrecedence,
    ::testing::Values(Precedence{"NothingSaved", "", {}, "", "/tmp/InputFile", {}, "/glove"},
                      Precedence{"SavedPortAndExchangeFile",
                                 "[General]\nport=/dev/ttyUSB0\nexchange-file=/var/tmp/x\n",
                                 {},
                                 "/dev/ttyUSB0",
                                 "/var/tmp/x",
                                 {},
                                 "/glove"},
                      Precedence{"PortOnTheCommandLineOverridesTheSavedOne",
                                 "port=3\nexchange-file=/var/tmp/x\n",
                                 {"--port", "/tmp/glove"},
                                 "/tmp/glove",
                                 "/var/tmp/x",
                                 {},
                                 "/glove"},
                      Precedence{"OscOnTheCommandLineKeepsTheSavedPrefix",
                                 "osc=127.0.0.1:9000, [::1]:9001\nosc-prefix=/left\n",
                                 {"--osc", "localhost:9002"},
                                 "",
                                 "/tmp/InputFile",
                                 {"localhost:9002"},
                                 "/left"},
                      Precedence{"PrefixOnTheCommandLineKeepsTheSavedOsc",
                                 "osc=127.0.0.1:9000\n",
                                 {"--osc-prefix", "/right"},
                                 "",
                                 "/tmp/InputFile",
                                 {"127.0.0.1:9000"},
                                 "/right"}),
    test::CaseName());

// A damaged file: each bad key is reported once, naming the file and the key, and gets its
// default; the good keys are used; the start goes on.
struct Damage {
    const char* name;
    QByteArray text;
    QStringList badKeys;
    const char* device;
};

class DamagedSettings : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedSettings, AreReportedOnceAndGiveTheirDefaults) {
    const Damage& d = GetParam();
    SettingsRig rig;
    rig.holds(d.text);
    const CommandLine c = rig.start({});
    ASSERT_EQ(c.action, Action::Run) << c.message.toStdString();
    EXPECT_EQ(c.device, d.device);
    ASSERT_EQ(c.settingsProblems.size(), d.badKeys.size())
        << c.settingsProblems.join('\n').toStdString();
    for (qsizetype i = 0; i < d.badKeys.size(); ++i) {
        EXPECT_TRUE(c.settingsProblems[i].startsWith(rig.file.path() + ": " + d.badKeys[i] + ": "))
            << c.settingsProblems[i].toStdString();
        EXPECT_FALSE(c.settingsProblems[i].contains('\n'));
    }
    EXPECT_EQ(c.exchangePath, "/tmp/InputFile");
    EXPECT_TRUE(c.network.osc.empty());
    EXPECT_EQ(c.network.oscPrefix, "/glove");
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedSettings,
    ::testing::Values(
        Damage{"PortZero", "port=0\n", {"port"}, ""},
        Damage{"TwoPorts", "port=/dev/a, /dev/b\n", {"port"}, ""},
        Damage{"PortOfNoType", "port=@Invalid()\n", {"port"}, ""},
        Damage{"OscPortZero", "port=/dev/ttyUSB0\nosc=localhost:0\n", {"osc"}, "/dev/ttyUSB0"},
        Damage{"EmptyExchangeFile",
               "exchange-file=\nport=/dev/ttyUSB0\n",
               {"exchange-file"},
               "/dev/ttyUSB0"},
        Damage{"RecordIntoADevice",
               "record=/dev/null\nport=/dev/ttyUSB0\n",
               {"record"},
               "/dev/ttyUSB0"},
        Damage{"BinaryPrefix",
               "osc-prefix=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xffgarbage)\n",
               {"osc-prefix"},
               ""},
        Damage{"RectangleForPrefixAndMisspeltKey",
               "osc-prefix=@Rect(1 2 3 4)\nprot=/dev/ttyUSB0\n",
               {"osc-prefix", "prot"},
               ""},
        Damage{"PortInAnotherGroup", "[serial]\nport=/dev/ttyUSB0\n", {"serial/port"}, ""},
        Damage{"MidiSwitchNotYes", "midi=no\n", {"midi"}, ""},
        Damage{"NoText", QByteArray("\xff\xfe\0\0port\0=\x80\x81\n[", 14), {"cannot be read"}, ""}),
    test::CaseName());

TEST(DamagedSettings, AFileThatIsNoFileIsReportedOnceAndNeverRead) {
    SettingsRig rig;
    QDir().mkpath(rig.file.path());  // a directory in its place
    EXPECT_EQ(rig.start({}).settingsProblems.size(), 1);
    QDir().rmdir(rig.file.path());
    ASSERT_EQ(::mkfifo(QFile::encodeName(rig.file.path()).constData(), 0600), 0);
    const CommandLine c = rig.start({});  // would block forever if opened
    ASSERT_EQ(c.settingsProblems.size(), 1);
    EXPECT_TRUE(c.settingsProblems[0].startsWith(rig.file.path() + ": cannot be read: "));
    ::unlink(QFile::encodeName(rig.file.path()).constData());
    rig.holds(QByteArray(1024 * 1024 + 1, 'x'));
    EXPECT_EQ(rig.start({}).settingsProblems.size(), 1);
}

TEST(SettingsFileWrite, IsOwnerOnlyAndReadsBackWhatWasSaved) {
    SettingsRig rig;
    const OptionValues values{{"port", {"/dev/serial/by-id/usb-a,b c=d;e\"f\\g#h é"}},
                              {"osc", {"127.0.0.1:9000", "[::1]:9001"}},
                              {"udp", {"localhost:9002"}}};
    rig.file.write(values);
    EXPECT_EQ(modeOf(rig.file.path()) & 07777, 0600U);
    EXPECT_EQ(modeOf(QFileInfo(rig.file.path()).path()) & 07777, 0700U);
    EXPECT_EQ(modeOf(rig.dir.dir() + "/config") & 07777, 0700U);
    rig.file.write(values);  // replaces what is there
    const SavedSettings saved = rig.file.read();
    EXPECT_TRUE(saved.problems.isEmpty()) << saved.problems.join('\n').toStdString();
    EXPECT_EQ(saved.values, values);
    EXPECT_EQ(QDir(QFileInfo(rig.file.path()).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"glove-monitor.conf"});
    EXPECT_TRUE(rig.file.remove());
    EXPECT_FALSE(rig.file.remove());
}

TEST(SettingsFileWrite, NeverGoesThroughALinkAndLeavesNothingWhenItFails) {
    SettingsRig rig;
    rig.holds("port=/dev/ttyUSB0\n");
    const QString target = rig.dir.dir() + "/elsewhere.conf";
    QFile::rename(rig.file.path(), target);
    ASSERT_TRUE(QFile::link(target, rig.file.path()));
    EXPECT_EQ(rig.file.read().values.value("port"), QStringList{"/dev/ttyUSB0"});
    EXPECT_THROW(rig.file.write({{"port", {"/dev/ttyS0"}}}), SettingsError);
    EXPECT_THROW(rig.file.remove(), SettingsError);
    EXPECT_TRUE(S_ISLNK(modeOf(rig.file.path())));
    EXPECT_EQ(test::readAll(target.toStdString()), "port=/dev/ttyUSB0\n");

    // A directory in the file's place: the write fails, and no half-written file is left.
    QFile::remove(rig.file.path());
    QDir().mkdir(rig.file.path());
    EXPECT_THROW(rig.file.write({{"port", {"/dev/ttyS0"}}}), SettingsError);
    EXPECT_EQ(QDir(QFileInfo(rig.file.path()).path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{});
}

// Keys hold device paths, slashes, spaces and all; saving or forgetting the options, or
// another device's calibration, leaves each device's own as it was.
TEST(KeptCalibrations, BelongToTheirDeviceAndOutliveTheOptions) {
    SettingsRig rig;
    const QString byId = "/dev/serial/by-id/usb-Glove 2,x=y";
    const char* left = "0-2 30-220 20-180 40-240 10-200 60-230 25-150 50-250 0-120";
    const char* right = "1-1 10-20 10-20 10-20 10-20 10-20 10-20 10-20 10-20";
    rig.file.keepCalibration(byId, left);
    rig.file.keepCalibration("/dev/ttyUSB0", right);
    rig.file.write({{"port", {"/dev/ttyUSB0"}}});
    EXPECT_EQ(calibration::formatRanges(*rig.start({}).calibration), right);
    EXPECT_EQ(calibration::formatRanges(*rig.start({"--port", byId}).calibration), left);
    EXPECT_EQ(rig.start({"--port", "/dev/ttyS5"}).calibration, std::nullopt);
    EXPECT_TRUE(rig.file.remove());
    EXPECT_TRUE(rig.file.read().values.isEmpty());
    EXPECT_EQ(rig.file.read().calibrations.size(), 2);
    EXPECT_TRUE(rig.file.keepCalibration("/dev/ttyUSB0", {}));
    EXPECT_FALSE(rig.file.keepCalibration("/dev/ttyUSB0", {}));
    EXPECT_EQ(rig.file.read().calibrations.keys(), QStringList{byId});
    EXPECT_TRUE(rig.file.read().problems.isEmpty());
}

TEST(KeptCalibrations, ADamagedOneIsReportedOnceAndNotUsedAndAnUnreadableFileIsLeftAlone) {
    SettingsRig rig;
    rig.holds("port=/dev/ttyUSB0\n[calibration]\ndev\\ttyUSB0=1-2 3-4\n");
    const CommandLine c = rig.start({});
    EXPECT_EQ(c.action, Action::Run);
    EXPECT_EQ(c.calibration, std::nullopt);
    ASSERT_EQ(c.settingsProblems.size(), 1);
    EXPECT_TRUE(c.settingsProblems[0].startsWith(rig.file.path() +
                                                 ": calibration/dev/ttyUSB0: '1-2 3-4' is not"))
        << c.settingsProblems[0].toStdString();
    const QByteArray unreadable("\xff\xfe\0\0port\0=\x80\x81\n[", 14);
    rig.holds(unreadable);
    EXPECT_THROW(rig.file.keepCalibration("/dev/ttyUSB0", "0-9 0-9 0-9 0-9 0-9 0-9 0-9 0-9 0-9"),
                 SettingsError);
    EXPECT_EQ(test::readAll(rig.file.path().toStdString()), unreadable);
}

// Names with the characters INI files treat specially, and more than ASCII, come back as they
// were kept, beside the calibrations and the other devices' postures.
TEST(KeptPostures, BelongToTheirDeviceBesideTheCalibrations) {
    SettingsRig rig;
    const QString byId = "/dev/serial/by-id/usb-Glove 2,x=y";
    const std::string left =
        "fist, \"closed\"; #1=0.000 1.000 0.500 0.250 0.125 0.000 0.000 0.000 0.001 note=64\n"
        "pointé [x]\\=0.100 0.200 0.300 0.400 0.500 0.600 0.700 0.800 0.900 note=0";
    const char* right = "open=1.000 1.000 1.000 1.000 1.000 1.000 1.000 1.000 1.000 note=60";
    rig.file.keepCalibration(byId, "0-2 30-220 20-180 40-240 10-200 60-230 25-150 50-250 0-120");
    rig.file.keepPostures(byId, QString::fromStdString(left));
    rig.file.keepPostures("/dev/ttyUSB0", right);
    rig.file.write({{"port", {byId}}});
    const CommandLine c = rig.start({"--show-settings"});
    EXPECT_TRUE(c.settingsProblems.isEmpty()) << c.settingsProblems.join('\n').toStdString();
    EXPECT_EQ(posture::formatPostures(c.postures.postures()), left);
    EXPECT_TRUE(c.message.endsWith("postures of " + byId +
                                   ": \"fist, \"closed\"; #1\" (note 64), "
                                   "\"pointé [x]\\\" (note 0)"))
        << c.message.toStdString();
    EXPECT_TRUE(rig.file.remove());
    EXPECT_TRUE(rig.file.keepPostures(byId, {}));
    EXPECT_FALSE(rig.file.keepPostures(byId, {}));
    const SavedSettings saved = rig.file.read();
    EXPECT_EQ(saved.postures, (PostureTexts{{"/dev/ttyUSB0", right}}));
    EXPECT_EQ(saved.calibrations.keys(), QStringList{byId});
    EXPECT_TRUE(saved.values.isEmpty());
}

TEST(KeptPostures, ADamagedSetIsReportedOnceAndNotUsedAndNothingTooLargeToReadIsWritten) {
    SettingsRig rig;
    rig.holds("[postures]\ndev\\ttyUSB0=\"a=0 0 0 0 0 0 0 0 0\\nb=0 0 0 2 0 0 0 0 0\"\n");
    const CommandLine c = rig.start({"--port", "/dev/ttyUSB0"});
    EXPECT_EQ(c.action, Action::Run);
    EXPECT_TRUE(c.postures.postures().empty());
    EXPECT_TRUE(c.posturesDamaged);
    ASSERT_EQ(c.settingsProblems.size(), 1);
    EXPECT_EQ(c.settingsProblems[0],
              rig.file.path() +
                  ": postures/dev/ttyUSB0: not a set of postures (line 2: value 5 "
                  "is not a number from 0 to 1); no posture is recognised");
    const QByteArray before = test::readAll(rig.file.path().toStdString());
    EXPECT_THROW(rig.file.keepPostures("/dev/ttyS0", QString(1024 * 1024, 'x')), SettingsError);
    EXPECT_EQ(test::readAll(rig.file.path().toStdString()), before);
}

TEST(SaveSettingsOption, ValidatesAsAStartAndKeepsAbsolutePaths) {
    SettingsRig rig;
    rig.holds("port=0\n");  // not used, not reported: it is being replaced
    const CommandLine c = rig.start({"--save-settings", "--port", "3", "--exchange-file", "x",
                                     "--osc", "127.0.0.1:9000", "--osc", "[::1]:9001",
                                     "--record", "."});
    ASSERT_EQ(c.action, Action::SaveSettings) << c.message.toStdString();
    EXPECT_TRUE(c.settingsProblems.isEmpty());
    EXPECT_EQ(c.toSave, (OptionValues{{"port", {"/dev/ttyS2"}},
                                      {"exchange-file", {QDir::current().filePath("x")}},
                                      {"osc", {"127.0.0.1:9000", "[::1]:9001"}},
                                      {"record", {QDir::currentPath()}}}));
    EXPECT_EQ(rig.start({"--save-settings"}).toSave, OptionValues{});
    for (const QStringList& bad : {QStringList{"--save-settings", "--port", "0"},
                                   QStringList{"--save-settings", "-style", "fusion"},
                                   QStringList{"--save-settings", "--show-settings"},
                                   QStringList{"--save-settings", "--list-ports"},
                                   QStringList{"--save-settings", "--record", "/dev/null"},
                                   QStringList{"--save-settings", "--udp", "localhost:0"}}) {
        EXPECT_EQ(rig.start(bad).action, Action::Refuse) << bad.join(' ').toStdString();
    }
}

// Each named set is a file of its own beside the usual one; a set never saved, and a name
// that could lead out of the directory, are refused.
TEST(NamedSettings, EachIsItsOwnFileAndABadOrUnsavedNameIsRefused) {
    const test::TempDir dir;
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.dir()));
    const auto start = [](QStringList arguments) {
        arguments.prepend("glove-monitor");
        return parseCommandLine(arguments, [](const QString& name) {
            return SettingsFile(SettingsFile::standardPath(name)).read();
        });
    };
    SettingsFile(SettingsFile::standardPath("left")).write({{"port", {"/dev/ttyS0"}}});
    EXPECT_TRUE(QFileInfo::exists(dir.dir() + "/glove-monitor/left.conf"));
    EXPECT_EQ(start({"--settings", "left"}).device, "/dev/ttyS0");
    EXPECT_EQ(start({}).device, "");
    const CommandLine saving = start({"--settings", "right", "--save-settings", "--port", "3"});
    EXPECT_EQ(saving.action, Action::SaveSettings) << saving.message.toStdString();
    EXPECT_EQ(saving.settingsName, "right");
    for (const char* bad : {"right", "../left", "a/b", ".left", "-left", ""}) {
        EXPECT_EQ(start({"--settings", bad}).action, Action::Refuse) << bad;
    }
    EXPECT_EQ(start({"--settings", QString(kLongestSettingsName + 1, 'x')}).action, Action::Refuse);
    EXPECT_TRUE(isSettingsName("Glove_2.left-hand"));
    if (config.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", config);
    }
}

TEST(SettingsFilePath, FollowsXdgConfigHomeWhenItIsAbsolute) {
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/someone");
    qputenv("XDG_CONFIG_HOME", "/elsewhere/config");
    EXPECT_EQ(SettingsFile::standardPath(), "/elsewhere/config/glove-monitor/glove-monitor.conf");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsFile::standardPath(),
              "/home/someone/.config/glove-monitor/glove-monitor.conf");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsFile::standardPath(),
              "/home/someone/.config/glove-monitor/glove-monitor.conf");
    qputenv("HOME", home);
    if (!config.isNull()) qputenv("XDG_CONFIG_HOME", config);
}

}  // namespace
}  // namespace glove
