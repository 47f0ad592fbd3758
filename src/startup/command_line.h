#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calibration/calibrator.h"
#include "exchange/exchange_file.h"
#include "midi/midi_output.h"
#include "network/network_output.h"
#include "posture/posture.h"
#include "startup/settings_file.h"

namespace glove {

struct CommandLine {
    enum class Action {
        Run,
        ShowHelp,
        ShowVersion,
        ListPorts,
        SaveSettings,
        ShowSettings,
        CalibrateFrom,
        ForgetCalibration,
        LearnPostures,
        ForgetPostures,
        SetPostureNotes,
        Refuse
    };

    Action action = Action::Run;
    QString device;                                    // empty: serial port 2's device
    std::string exchangePath{exchange::kDefaultPath};  // the exchange file's path
    network::NetworkSettings network;
    midi::MidiSettings midi;
    QString settingsName;          // empty: the usual settings file
    std::string recordPath;        // empty: no recording
    bool savedRecord = false;      // the recording's directory comes from the settings file
    OptionValues toSave;           // --save-settings: the options to keep, paths made absolute
    QStringList settingsProblems;  // saved values left unused, one line each
    QString message;               // help, version, the settings in force, or what is wrong
    std::chrono::seconds calibrationTime = calibration::kDefaultTime;
    std::string calibrateFrom;  // the recording --calibrate-from takes the ranges from
    bool plot = false;          // the plot opens with the window
    // The calibration kept for the device in force, unless it is damaged.
    std::optional<calibration::Ranges> calibration;
    // The postures kept for the device in force: none when they are damaged, and then
    // posturesDamaged, so that they are not replaced by what is learnt or forgotten.
    posture::PostureSet postures{posture::kDefaultRejection};
    bool posturesDamaged = false;
    // --learn-posture NAME=FILE, each as given, and --forget-posture NAME.
    struct PostureToLearn {
        QString name;
        std::string recording;
    };
    std::vector<PostureToLearn> learnPostures;
    QStringList forgetPostures;
    // --posture-note NAME=NOTE, each as given: the note is one a posture can play, the name is
    // checked with the postures.
    struct PostureNote {
        QString name;
        int note = posture::kFirstNote;
    };
    std::vector<PostureNote> postureNotes;
};

// One option of glove-monitor: all that the command line, --help, --show-settings and the
// settings file know of it. An option is added by one entry in options() and its code.
struct Option {
    // Whether --save-settings keeps the option, and how.
    enum class Kept { No, AsGiven, AsAbsolutePath, AsDirectory };

    QLatin1StringView name{};
    QLatin1StringView shortName{};
    QLatin1StringView valueName{};  // empty: the option takes no value
    // In --help; {default} stands for the value in force without it, {port} for the serial
    // port read by default, {kept} for the options --save-settings keeps.
    const char* help = "";
    bool repeatable = false;
    Kept kept = Kept::No;
    // Checked after the others, so that a value refused without the network is refused
    // without a wait.
    bool looksUpNames = false;
    // Sets the option's part of `c` from its values (the last counts where one is expected);
    // what is wrong with them otherwise. None for an option that chooses an action or the
    // settings file.
    std::optional<QString> (*apply)(const Option& o, const QStringList& values,
                                    CommandLine& c) = nullptr;
    // Its value as a start would use it, for --show-settings.
    QString (*inForce)(const CommandLine& c) = nullptr;
};

// Every option, in the order --help lists them.
std::span<const Option> options();

// The option named `name`, or null.
const Option* findOption(QStringView name);

// The device a start reads: the one given, else serial port 2's.
QString deviceInForce(const CommandLine& c);

inline constexpr int kLongestSettingsName = 64;

// A name --settings takes: letters, digits, '.', '_' and '-', not starting with '.' or '-',
// so that it names a file in the settings directory and nothing else.
bool isSettingsName(const QString& name);

// Reads the options of options(), and accepts the toolkit's own. Each option the command
// line leaves out is taken from the settings that `readSaved` gives for the --settings name
// (empty without it); their bad values are passed over with a problem line each. Needs no
// application object, so it runs before any window can open.
CommandLine parseCommandLine(const QStringList& arguments,
                             const std::function<SavedSettings(const QString&)>& readSaved);
// The same with `saved` for any name.
CommandLine parseCommandLine(const QStringList& arguments, const SavedSettings& saved = {});

}  // namespace glove
