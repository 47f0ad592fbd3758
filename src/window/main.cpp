#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <optional>

#include "acquisition/serial_ports.h"
#include "common/version.h"
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

    QApplication app(argc, argv);
    glove::GloveWindow window(
        {.device = options.device, .exchangePath = options.exchangePath, .endProgram = {}});

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
