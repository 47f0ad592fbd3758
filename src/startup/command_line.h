#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "network/network_output.h"
#include "startup/settings_file.h"

namespace glove {

struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, ListPorts, SaveSettings, ShowSettings, Refuse };

    Action action = Action::Run;
    QString device;            // empty: serial port 2's device
    std::string exchangePath;  // the exchange file's path
    network::NetworkSettings network;
    std::string recordPath;        // empty: no recording
    bool savedRecord = false;      // the recording's directory comes from the settings file
    OptionValues toSave;           // --save-settings: the options to keep, paths made absolute
    QStringList settingsProblems;  // saved values left unused, one line each
    QString message;               // help, version, the settings in force, or what is wrong
};

// Reads --port DEVICE (a device path, or a port number), --exchange-file PATH, the
// receivers --osc HOST:PORT and --udp HOST:PORT (resolved here, once), --osc-prefix PREFIX,
// --record PATH (a directory when saved), --list-ports, --save-settings, --show-settings,
// --help and --version. Each option the command line leaves out is taken from `saved`, whose
// bad values are passed over with a problem line each. Needs no application object, so it
// runs before any window can open.
CommandLine parseCommandLine(const QStringList& arguments, const SavedSettings& saved = {});

}  // namespace glove
