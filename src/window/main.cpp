#include <QApplication>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>

#include "acquisition/frame_fan_out.h"
#include "acquisition/serial_ports.h"
#include "common/version.h"
#include "record/recorder.h"
#include "window/command_line.h"
#include "window/glove_window.h"
#include "window/posix_signals.h"

int main(int argc, char** argv) {
    // Where a recording's elapsed_ms counts from.
    const auto programStart = glove::record::Recorder::Clock::now();
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCoreApplication::setApplicationName(QStringLiteral("glove-monitor"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(glove::kVersionText));

    const glove::CommandLine options = glove::parseCommandLine(arguments);
    switch (options.action) {
        case glove::CommandLine::Action::ShowHelp:
        case glove::CommandLine::Action::ShowVersion:
            std::fputs(qPrintable(options.message + '\n'), stdout);
            return 0;
        case glove::CommandLine::Action::ListPorts:
            for (const QString& line : glove::formatPortList(glove::listSerialPorts())) {
                std::fputs(qPrintable(line + '\n'), stdout);
            }
            return 0;
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

    // Created with its header before the window opens, so a path that cannot be used stops
    // the start instead of a recording that silently never happens.
    std::optional<glove::record::RecordingFile> recordingFile;
    if (!options.recordPath.empty()) {
        try {
            recordingFile.emplace(
                glove::record::RecordingFile::create(options.recordPath, std::time(nullptr)));
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "glove-monitor: cannot record: %s\n", e.what());
            return 2;
        }
        // A file size limit ends the recording, not the program.
        std::signal(SIGXFSZ, SIG_IGN);
    }

    QApplication app(argc, argv);
    // Both outlive the window, which feeds them; the recorder writes out its last rows when
    // it goes, however the program ends.
    std::optional<glove::record::Recorder> recorder;
    glove::FrameFanOut feeds;
    if (network) feeds.add(*network);
    if (recordingFile) feeds.add(recorder.emplace(std::move(*recordingFile), programStart));
    glove::GloveWindow window({.device = options.device,
                               .exchangePath = options.exchangePath,
                               .endProgram = {},
                               .feed = feeds.empty() ? nullptr : &feeds,
                               .textShown = [&network](const QString& text) {
                                   if (network) network->textShown(text.toStdString());
                               }});

    // SIGINT, SIGTERM and SIGHUP end the program as Exit does, so the exchange file never outlives
    // it.
    if (!glove::watchTerminationSignals(window, [&window] { window.close(); })) {
        std::perror("glove-monitor: cannot catch signals");
    }

    window.show();
    return QApplication::exec();
}
