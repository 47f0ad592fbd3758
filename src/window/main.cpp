#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>

#include "acquisition/frame_fan_out.h"
#include "record/recorder.h"
#include "window/command_line.h"
#include "window/glove_window.h"

namespace {

// SIGINT and SIGTERM end the program as Exit does, so the exchange file never outlives
// it. The handler only writes a byte; the window's thread does the rest.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool catchTerminationSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Where a recording's elapsed_ms counts from.
    const auto programStart = glove::record::Recorder::Clock::now();
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCoreApplication::setApplicationName(QStringLiteral("glove-monitor"));
    QCoreApplication::setApplicationVersion(glove::kVersionText);

    const glove::CommandLine options = glove::parseCommandLine(arguments);
    switch (options.action) {
        case glove::CommandLine::Action::ShowHelp:
        case glove::CommandLine::Action::ShowVersion:
            std::fputs(qPrintable(options.message + '\n'), stdout);
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

    std::optional<QSocketNotifier> signalNotifier;
    if (catchTerminationSignals()) {
        signalNotifier.emplace(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&*signalNotifier, &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
            window.close();
        });
    } else {
        std::perror("glove-monitor: cannot catch signals");
    }

    window.show();
    return QApplication::exec();
}
