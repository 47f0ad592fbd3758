#include "startup/command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <algorithm>

#include "acquisition/mscomm.h"
#include "common/version.h"
#include "exchange/exchange_file.h"

namespace glove {

namespace {

// The toolkit's own options, which the application object takes out of the arguments when
// the window is about to open. They are accepted here, unlisted, so that they pass.
QStringList acceptToolkitOptions(QCommandLineParser& parser) {
    const char* const withValue[] = {
        "platform",        "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
        "display",         "geometry",           "name",          "visual",
        "style",           "stylesheet",         "qmljsdebugger", "title"};
    const char* const flags[] = {"reverse", "widgetcount", "sync",
                                 "nograb",  "dograb",      "testability"};
    QStringList names;
    for (const char* name : withValue) {
        QCommandLineOption option(QString::fromLatin1(name), {}, QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
        names << option.names();
    }
    for (const char* name : flags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
        names << option.names();
    }
    return names;
}

// Sets the kept option `name` of `result` from its values (the last counts where one is
// expected); what is wrong with them otherwise, leaving `result` as it was.
std::optional<QString> applyOption(const QString& name, const QStringList& values,
                                   CommandLine& result) {
    const QString value = values.isEmpty() ? QString() : values.last();
    if (name == QLatin1StringView("port")) {
        // All digits is a port number, however large: never a file of that name.
        const bool isNumber =
            !value.isEmpty() &&
            std::all_of(value.begin(), value.end(), [](QChar c) { return c >= '0' && c <= '9'; });
        bool fits = false;
        const int number = value.toInt(&fits);
        if (isNumber) {
            if (!fits || number < 1 || number > MSComm::kHighestPort) {
                return QStringLiteral("Invalid port number: %1 (1 to %2)")
                    .arg(value)
                    .arg(MSComm::kHighestPort);
            }
            result.device = devicePathForPort(number);
        } else if (value.isEmpty()) {
            return QStringLiteral("--port needs a device path or a port number");
        } else {
            result.device = value;
        }
    } else if (name == QLatin1StringView("exchange-file")) {
        if (value.isEmpty()) return QStringLiteral("--exchange-file needs a path");
        result.exchangePath = QFile::encodeName(value).toStdString();
    } else if (name == QLatin1StringView("record")) {
        if (value.isEmpty()) return QStringLiteral("--record needs a path");
        result.recordPath = QFile::encodeName(value).toStdString();
    } else if (name == QLatin1StringView("osc-prefix")) {
        if (!network::isOscPrefix(value.toStdString())) {
            return QStringLiteral(
                       "Invalid --osc-prefix: '%1' (a '/' first, no '/' last, none "
                       "of space # * , ? [ ] { })")
                .arg(value);
        }
        result.network.oscPrefix = value.toStdString();
    } else {
        // Names are looked up here, once: a receiver that cannot be found stops the start.
        std::vector<network::Endpoint> endpoints;
        for (const QString& receiver : values) {
            try {
                endpoints.push_back(network::resolveEndpoint(receiver.toStdString()));
            } catch (const network::BadEndpoint& e) {
                return QStringLiteral("Invalid --%1 receiver: %2")
                    .arg(name, QString::fromStdString(e.what()));
            }
        }
        (name == QLatin1StringView("osc") ? result.network.osc : result.network.udp) =
            std::move(endpoints);
    }
    return std::nullopt;
}

// A kept recording goes to a directory: a file would exist already at the second start.
std::optional<QString> notKeepable(const QString& name, const QStringList& values) {
    if (name != QLatin1StringView("record") || QFileInfo(values.last()).isDir()) {
        return std::nullopt;
    }
    return QStringLiteral("a saved --record must be a directory: %1").arg(values.last());
}

// The kept options as --help names them: "--port, --exchange-file, ...".
QString keptOptionNames() {
    QStringList names;
    for (const SavedOption& option : kSavedOptions) names << QStringLiteral("--") + option.name;
    return names.join(QStringLiteral(", "));
}

// The value of a kept option as a start would use it.
QString valueInForce(const QString& name, const CommandLine& c) {
    const auto receivers = [](const std::vector<network::Endpoint>& endpoints) {
        QStringList texts;
        for (const auto& e : endpoints) texts << QString::fromStdString(e.text);
        return texts.isEmpty() ? QStringLiteral("none") : texts.join(QStringLiteral(", "));
    };
    if (name == QLatin1StringView("port")) {
        return c.device.isEmpty() ? devicePathForPort(2) : c.device;
    }
    if (name == QLatin1StringView("exchange-file")) {
        return QFile::decodeName(QByteArray::fromStdString(c.exchangePath));
    }
    if (name == QLatin1StringView("osc-prefix")) return QString::fromStdString(c.network.oscPrefix);
    if (name == QLatin1StringView("record")) {
        return c.recordPath.empty() ? QStringLiteral("none")
                                    : QFile::decodeName(QByteArray::fromStdString(c.recordPath));
    }
    return receivers(name == QLatin1StringView("osc") ? c.network.osc : c.network.udp);
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments, const SavedSettings& saved) {
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
    const QCommandLineOption saveSettings(
        QStringLiteral("save-settings"),
        QStringLiteral("Keep the options given with it (%1; --record as a directory) for every "
                       "start, in place of those kept before, and exit; given alone, forget "
                       "them. An option given at a start overrides its kept value. They are "
                       "kept in $XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf (~/.config "
                       "without it).")
            .arg(keptOptionNames()));
    const QCommandLineOption showSettings(
        QStringLiteral("show-settings"),
        QStringLiteral("Show the settings a start with the other options given would use, and "
                       "where each comes from (command line, saved or default), and exit."));
    parser.addOptions({help, version, port, exchangeFile, osc, udp, oscPrefix, record, listPorts,
                       saveSettings, showSettings});
    const QStringList toolkitOptions = acceptToolkitOptions(parser);

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
    if (int(parser.isSet(listPorts)) + int(parser.isSet(saveSettings)) +
            int(parser.isSet(showSettings)) >
        1) {
        return refuse(
            QStringLiteral("--list-ports, --save-settings and --show-settings each "
                           "go alone"));
    }
    if (parser.isSet(listPorts)) {
        result.action = CommandLine::Action::ListPorts;
        return result;
    }
    const bool saving = parser.isSet(saveSettings);
    if (saving &&
        std::ranges::any_of(toolkitOptions, [&](const QString& o) { return parser.isSet(o); })) {
        return refuse(QStringLiteral("--save-settings keeps only ") + keptOptionNames());
    }
    // Each kept option from the command line, else from the settings file; a saved value
    // that a start would refuse is passed over.
    if (!saving) result.settingsProblems = saved.problems;
    QMap<QString, QString> source;
    for (const SavedOption& option : kSavedOptions) {
        const QString name = option.name;
        if (parser.isSet(name)) {
            auto why = applyOption(name, parser.values(name), result);
            if (!why && saving) why = notKeepable(name, parser.values(name));
            if (why) return refuse(*why);
            source[name] = QStringLiteral("command line");
            result.toSave[name] = parser.values(name);
        } else if (!saving && saved.values.contains(name)) {
            auto why = notKeepable(name, saved.values[name]);
            if (!why) why = applyOption(name, saved.values[name], result);
            if (why) {
                result.settingsProblems << settingProblem(saved.path, name,
                                                          *why + QStringLiteral("; the default "
                                                                                "is used"));
            } else {
                source[name] = QStringLiteral("saved");
                result.savedRecord = result.savedRecord || name == QLatin1StringView("record");
            }
        }
    }
    if (saving) {
        result.action = CommandLine::Action::SaveSettings;
        // A start from the desktop begins in the home directory, not where this ran.
        for (const auto& [name, path] :
             {std::pair{QStringLiteral("port"), result.device},
              std::pair{QStringLiteral("exchange-file"),
                        QFile::decodeName(QByteArray::fromStdString(result.exchangePath))},
              std::pair{QStringLiteral("record"),
                        QFile::decodeName(QByteArray::fromStdString(result.recordPath))}}) {
            if (result.toSave.contains(name)) {
                result.toSave[name] = {QDir::cleanPath(QFileInfo(path).absoluteFilePath())};
            }
        }
        return result;
    }
    result.toSave.clear();
    if (parser.isSet(showSettings)) {
        result.action = CommandLine::Action::ShowSettings;
        QStringList lines{QStringLiteral("Settings file: ") + saved.path};
        for (const SavedOption& option : kSavedOptions) {
            const QString name = option.name;
            lines << QStringLiteral("%1: %2 (%3)")
                         .arg(name, valueInForce(name, result),
                              source.value(name, QStringLiteral("default")));
        }
        result.message = lines.join('\n');
    }
    return result;
}

}  // namespace glove
