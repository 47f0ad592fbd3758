#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "network/network_output.h"

namespace glove {

struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, ListPorts, Refuse };

    Action action = Action::Run;
    QString device;            // empty: serial port 2's device
    std::string exchangePath;  // the exchange file's path
    network::NetworkSettings network;
    std::string recordPath;  // empty: no recording
    QString message;         // help, version or what is wrong
};

// Reads --port DEVICE (a device path, or a port number), --exchange-file PATH, the
// receivers --osc HOST:PORT and --udp HOST:PORT (resolved here, once), --osc-prefix PREFIX,
// --record PATH, --list-ports, --help and --version. Needs no application object, so it runs
// before any window can open.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace glove
