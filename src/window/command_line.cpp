#include "window/command_line.h"

#include <QCommandLineParser>
#include <QFile>

#include "acquisition/mscomm.h"
#include "common/version.h"
#include "exchange/exchange_file.h"

namespace glove {

namespace {

// The toolkit's own options, which the application object takes out of the arguments when
// the window is about to open. They are accepted here, unlisted, so that they pass.
void acceptToolkitOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {
        "platform",        "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
        "display",         "geometry",           "name",          "visual",
        "style",           "stylesheet",         "qmljsdebugger", "title"};
    const char* const flags[] = {"reverse", "widgetcount", "sync",
                                 "nograb",  "dograb",      "testability"};
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // As the toolkit writes its options: -platform offscreen, -style=fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QString::fromUtf8(kProductName) +
        QStringLiteral(": shows what a data glove sends over a serial line.\n"
                       "The toolkit's own options (-platform, -style, -display, -geometry "
                       "and more) work as well."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("The glove's serial device: a path such as /dev/ttyUSB0, or a port "
                       "number (2 is %1, the default).")
            .arg(devicePathForPort(2)),
        QStringLiteral("DEVICE"));
    const QCommandLineOption exchangeFile(
        QStringLiteral("exchange-file"),
        QStringLiteral("Where to write each aligned frame (default %1).")
            .arg(QString::fromLatin1(exchange::kDefaultPath.data(), exchange::kDefaultPath.size())),
        QStringLiteral("PATH"));
    const QCommandLineOption osc(
        QStringLiteral("osc"),
        QStringLiteral("Send each frame and each new status text as OSC messages to HOST:PORT "
                       "(a name, an IPv4 address or [IPv6 address]; repeatable)."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption udp(
        QStringLiteral("udp"),
        QStringLiteral("Send each frame's exchange file lines as one datagram to HOST:PORT "
                       "(repeatable)."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption oscPrefix(
        QStringLiteral("osc-prefix"),
        QStringLiteral("Start every OSC address with PREFIX instead of %1.")
            .arg(QString::fromLatin1(network::kDefaultOscPrefix.data(),
                                     network::kDefaultOscPrefix.size())),
        QStringLiteral("PREFIX"));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Record every frame to a new CSV file at PATH; in a directory, to a new "
                       "glove-YYYYMMDD-HHMMSS.csv. An existing file is never overwritten."),
        QStringLiteral("PATH"));
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("List this machine's serial devices and exit: path, stable name, and "
                       "what each says of itself."));
    parser.addOptions({help, version, port, exchangeFile, osc, udp, oscPrefix, record, listPorts});
    acceptToolkitOptions(parser);

    CommandLine result;
    result.exchangePath = std::string(exchange::kDefaultPath);
    auto refuse = [&](const QString& why) {
        result.action = CommandLine::Action::Refuse;
        QString line = why.trimmed();
        if (line.endsWith('.')) line.chop(1);
        result.message = line + QStringLiteral("; see --help");
        return result;
    };

    if (!parser.parse(arguments)) return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(QStringLiteral("Unexpected argument: ") +
                      parser.positionalArguments().first());
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::ShowHelp;
        // Without an application object the parser cannot know the program's name.
        result.message = parser.helpText();
        result.message.replace(0, result.message.indexOf('\n'),
                               QStringLiteral("Usage: glove-monitor [options]"));
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        result.message = QString::fromUtf8(kProductName) + ' ' + QString::fromUtf8(kVersionText);
        return result;
    }
    if (parser.isSet(listPorts)) {
        result.action = CommandLine::Action::ListPorts;
        return result;
    }
    if (parser.isSet(port)) {
        const QString value = parser.value(port);
        bool isNumber = false;
        const int number = value.toInt(&isNumber);
        if (isNumber) {
            if (number < 1 || number > MSComm::kHighestPort) {
                return refuse(QStringLiteral("Invalid port number: %1 (1 to %2)")
                                  .arg(value)
                                  .arg(MSComm::kHighestPort));
            }
            result.device = devicePathForPort(number);
        } else if (value.isEmpty()) {
            return refuse(QStringLiteral("--port needs a device path or a port number"));
        } else {
            result.device = value;
        }
    }
    if (parser.isSet(exchangeFile)) {
        const QString value = parser.value(exchangeFile);
        if (value.isEmpty()) return refuse(QStringLiteral("--exchange-file needs a path"));
        result.exchangePath = QFile::encodeName(value).toStdString();
    }
    if (parser.isSet(oscPrefix)) {
        const QString value = parser.value(oscPrefix);
        if (!network::isOscPrefix(value.toStdString())) {
            return refuse(QStringLiteral("Invalid --osc-prefix: '%1' (a '/' first, no '/' "
                                         "last, none of space # * , ? [ ] { })")
                              .arg(value));
        }
        result.network.oscPrefix = value.toStdString();
    }
    if (parser.isSet(record)) {
        const QString value = parser.value(record);
        if (value.isEmpty()) return refuse(QStringLiteral("--record needs a path"));
        result.recordPath = QFile::encodeName(value).toStdString();
    }
    // Names are looked up here, once: a receiver that cannot be found stops the start.
    for (const auto& [option, endpoints] :
         {std::pair{&osc, &result.network.osc}, std::pair{&udp, &result.network.udp}}) {
        for (const QString& value : parser.values(*option)) {
            try {
                endpoints->push_back(network::resolveEndpoint(value.toStdString()));
            } catch (const network::BadEndpoint& e) {
                return refuse(
                    QStringLiteral("Invalid --%1 receiver: %2")
                        .arg(option->names().constFirst(), QString::fromStdString(e.what())));
            }
        }
    }
    return result;
}

}  // namespace glove
