#include <QApplication>
#include <cstdio>
#include <optional>
#include <system_error>

#include "acquisition/serial_ports.h"
#include "common/version.h"
#include "window/command_line.h"
#include "window/glove_window.h"
#include "window/posix_signals.h"
#include "window/settings_file.h"

namespace {

void print(const QString& text) {
    std::fputs(qPrintable(text + '\n'), stdout);
}

// --save-settings: 0 when the file holds the options, or is gone when there are none.
int saveSettings(const glove::SettingsFile& file, const glove::OptionValues& values) {
    try {
        if (values.isEmpty()) {
            print((file.remove() ? QStringLiteral("Removed the settings in %1")
                                 : QStringLiteral("No settings were kept in %1"))
                      .arg(file.path()) +
                  QStringLiteral("; the defaults are in force."));
        } else {
            file.write(values);
            print(QStringLiteral("Saved in %1:\n").arg(file.path()) + file.text().trimmed());
        }
    } catch (const glove::SettingsError& e) {
        std::fprintf(stderr, "glove-monitor: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCoreApplication::setApplicationName(QStringLiteral("glove-monitor"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(glove::kVersionText));

    const glove::SettingsFile settingsFile(glove::SettingsFile::standardPath());
    const glove::CommandLine options = glove::parseCommandLine(arguments, settingsFile.read());
    for (const QString& problem : options.settingsProblems) {
        std::fputs(qPrintable("glove-monitor: " + problem + '\n'), stderr);
    }
    switch (options.action) {
        case glove::CommandLine::Action::ShowHelp:
        case glove::CommandLine::Action::ShowVersion:
        case glove::CommandLine::Action::ShowSettings:
            print(options.message);
            return 0;
        case glove::CommandLine::Action::ListPorts:
            for (const QString& line : glove::formatPortList(glove::listSerialPorts())) print(line);
            print(
                QStringLiteral("To read a device at every start: glove-monitor --save-settings "
                               "--port DEVICE"));
            return 0;
        case glove::CommandLine::Action::SaveSettings:
            return saveSettings(settingsFile, options.toSave);
        case glove::CommandLine::Action::Refuse:
            std::fputs(qPrintable("glove-monitor: " + options.message + '\n'), stderr);
            return 2;
        case glove::CommandLine::Action::Run:
            break;
    }

    // Outlives the window, which feeds it, and says what it dropped when the program ends.
    std::optional<glove::network::NetworkOutput> network;
    if (!options.network.osc.empty() || !options.network.udp.empty()) {
        try {
            network.emplace(options.network);
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "glove-monitor: cannot send to the network: %s\n", e.what());
            return 2;
        }
    }

    QApplication app(argc, argv);
    glove::GloveWindow window({.device = options.device,
                               .exchangePath = options.exchangePath,
                               .endProgram = {},
                               .feed = network ? &*network : nullptr,
                               .textShown = [&network](const QString& text) {
                                   if (network) network->textShown(text.toStdString());
                               }});

    // SIGINT, SIGTERM and SIGHUP end the program as Exit does, so the exchange file never outlives it.
    if (!glove::watchTerminationSignals(window, [&window] { window.close(); })) {
        std::perror("glove-monitor: cannot catch signals");
    }

    window.show();
    return QApplication::exec();
}
