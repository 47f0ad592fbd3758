#include "startup/command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <vector>

#include "acquisition/mscomm.h"
#include "common/printable_text.h"
#include "common/version.h"
#include "monitor/connect_loop.h"

namespace glove {

namespace {

using namespace Qt::Literals::StringLiterals;

// The value that counts where one is expected.
QString last(const QStringList& values) {
    return values.isEmpty() ? QString() : values.last();
}

// `text` as a whole number from `low` to `high`, or none.
std::optional<int> numberIn(const QString& text, int low, int high) {
    bool number = false;
    const int n = text.toInt(&number);
    if (!number || n < low || n > high) return std::nullopt;
    return n;
}

std::optional<QString> applyPort(const Option&, const QStringList& values, CommandLine& c) {
    const QString value = last(values);
    if (value.isEmpty()) return u"--port needs a device path or a port number"_s;
    // All digits is a port number, however large: never a file of that name.
    if (!std::ranges::all_of(value, [](QChar ch) { return ch >= '0' && ch <= '9'; })) {
        // A bare name such as ttyUSB0 is the device of that name, as `--list-ports` shows it,
        // also before the receiver is plugged in; only a file of that name in the directory
        // the program starts in, with no such device, is that file.
        const QString underDev = u"/dev/"_s + value;
        const bool device = QFileInfo::exists(underDev) || !QFileInfo::exists(value);
        c.device = !value.contains('/') && device ? underDev : value;
        return std::nullopt;
    }
    const std::optional<int> number = numberIn(value, 1, MSComm::kHighestPort);
    if (!number) {
        return u"Invalid port number: %1 (1 to %2)"_s.arg(value).arg(MSComm::kHighestPort);
    }
    c.device = devicePathForPort(*number);
    return std::nullopt;
}

template <std::string CommandLine::*path>
std::optional<QString> applyPath(const Option& o, const QStringList& values, CommandLine& c) {
    if (last(values).isEmpty()) return u"--%1 needs a path"_s.arg(o.name);
    c.*path = QFile::encodeName(last(values)).toStdString();
    return std::nullopt;
}

template <std::string CommandLine::*path>
QString pathInForce(const CommandLine& c) {
    return (c.*path).empty() ? u"none"_s : QFile::decodeName(QByteArray::fromStdString(c.*path));
}

// Names are looked up here, once: a receiver that cannot be found stops the start.
template <std::vector<network::Endpoint> network::NetworkSettings::*receivers>
std::optional<QString> applyReceivers(const Option& o, const QStringList& values, CommandLine& c) {
    std::vector<network::Endpoint> found;
    for (const QString& receiver : values) {
        try {
            found.push_back(network::resolveEndpoint(receiver.toStdString()));
        } catch (const network::BadEndpoint& e) {
            return u"Invalid --%1 receiver: %2"_s.arg(o.name, QString::fromStdString(e.what()));
        }
    }
    c.network.*receivers = std::move(found);
    return std::nullopt;
}

template <std::vector<network::Endpoint> network::NetworkSettings::*receivers>
QString receiversInForce(const CommandLine& c) {
    QStringList texts;
    for (const auto& e : c.network.*receivers) texts << QString::fromStdString(e.text);
    return texts.isEmpty() ? u"none"_s : texts.join(u", "_s);
}

std::optional<QString> applyOscPrefix(const Option&, const QStringList& values, CommandLine& c) {
    if (!network::isOscPrefix(last(values).toStdString())) {
        return u"Invalid --osc-prefix: '%1' (a '/' first, no '/' last, none of space # * , ? [ ] "
               u"{ })"_s.arg(last(values));
    }
    c.network.oscPrefix = last(values).toStdString();
    return std::nullopt;
}

std::optional<QString> applyCalibrationTime(const Option&, const QStringList& values,
                                            CommandLine& c) {
    const std::optional<int> seconds =
        numberIn(last(values), static_cast<int>(calibration::kShortestTime.count()),
                 static_cast<int>(calibration::kLongestTime.count()));
    if (!seconds) {
        return u"Invalid --calibration-time: '%1' (whole seconds, %2 to %3)"_s.arg(last(values))
            .arg(calibration::kShortestTime.count())
            .arg(calibration::kLongestTime.count());
    }
    c.calibrationTime = std::chrono::seconds(*seconds);
    return std::nullopt;
}

// The calibration kept for the device in force, as --show-settings tells it.
QString calibrationInForce(const CommandLine& c) {
    return c.calibration ? QString::fromStdString(calibration::formatRanges(*c.calibration))
                         : u"none"_s;
}

// --midi is a switch; the settings file keeps it as "yes".
std::optional<QString> applyMidi(const Option&, const QStringList& values, CommandLine& c) {
    if (!values.isEmpty() && values.last() != u"yes"_s) {
        return u"Invalid --midi: '%1' (a saved --midi is 'yes')"_s.arg(values.last());
    }
    c.midi.enabled = true;
    return std::nullopt;
}

std::optional<QString> applyMidiApi(const Option&, const QStringList& values, CommandLine& c) {
    c.midi.api = midi::parseApi(last(values).toStdString());
    if (!c.midi.api) return u"Invalid --midi-api: '%1' (alsa or jack)"_s.arg(last(values));
    return std::nullopt;
}

std::optional<QString> applyMidiChannel(const Option&, const QStringList& values, CommandLine& c) {
    const std::optional<int> channel = numberIn(last(values), 1, midi::kChannels);
    if (!channel) {
        return u"Invalid --midi-channel: '%1' (1 to %2)"_s.arg(last(values)).arg(midi::kChannels);
    }
    c.midi.channel = *channel;
    return std::nullopt;
}

// Nine different controllers: two values on one would fight over it.
std::optional<QString> applyMidiControllers(const Option&, const QStringList& values,
                                            CommandLine& c) {
    const QStringList texts = last(values).split(',');
    midi::Controllers controllers{};
    bool valid = texts.size() == int(controllers.size());
    for (int i = 0; valid && i < texts.size(); ++i) {
        const auto controller = numberIn(texts[i].trimmed(), 0, midi::kHighestController);
        valid = controller && std::find(controllers.begin(), controllers.begin() + i,
                                        *controller) == controllers.begin() + i;
        if (valid) controllers[i] = *controller;
    }
    if (!valid) {
        return u"Invalid --midi-controllers: '%1' (the controllers of values 2 to 10: nine "
               u"different numbers, 0 to %2, separated by commas)"_s.arg(last(values))
                   .arg(midi::kHighestController);
    }
    c.midi.controllers = controllers;
    return std::nullopt;
}

QString midiControllersInForce(const CommandLine& c) {
    QStringList texts;
    for (const int controller : c.midi.controllers) texts << QString::number(controller);
    return texts.join(',');
}

// The postures kept for the device in force, by name and note, as --show-settings tells them.
QString posturesInForce(const CommandLine& c) {
    QStringList names;
    for (const posture::Posture& p : c.postures.postures()) {
        names << u"\"%1\" (note %2)"_s.arg(QString::fromStdString(p.name)).arg(*p.note);
    }
    return names.isEmpty() ? u"none"_s : names.join(u", "_s);
}

// "NAME=FILE" of --learn-posture, split at the first '=' (no name holds one); the name is
// checked when it is learnt, with the recording.
std::optional<QString> takePosturesToLearn(const QStringList& values, CommandLine& c) {
    for (const QString& value : values) {
        const qsizetype equals = value.indexOf('=');
        if (equals < 0 || equals + 1 == value.size()) {
            return u"--learn-posture needs NAME=FILE, a name and a recording, not '%1'"_s.arg(
                QString::fromStdString(printableText(value.toStdString())));
        }
        c.learnPostures.push_back(
            {value.left(equals), QFile::encodeName(value.mid(equals + 1)).toStdString()});
    }
    return std::nullopt;
}

// "NAME=NOTE" of --posture-note, split at the first '=' like --learn-posture's.
std::optional<QString> takePostureNotes(const QStringList& values, CommandLine& c) {
    static const QRegularExpression number(u"\\A[0-9]{1,3}\\z"_s);
    for (const QString& value : values) {
        const qsizetype equals = value.indexOf('=');
        const QString note = equals < 0 ? QString() : value.mid(equals + 1);
        const int n = number.match(note).hasMatch() ? note.toInt() : -1;
        if (n < posture::kLowestNote || n > posture::kHighestNote) {
            return u"--posture-note needs NAME=NOTE, a name and a note from %1 to %2, not '%3'"_s
                .arg(posture::kLowestNote)
                .arg(posture::kHighestNote)
                .arg(QString::fromStdString(printableText(value.toStdString())));
        }
        c.postureNotes.push_back({value.left(equals), n});
    }
    return std::nullopt;
}

using Kept = Option::Kept;
using Settings = network::NetworkSettings;

constexpr std::array kOptions{
    Option{.name = "help"_L1, .shortName = "h"_L1, .help = "Show this help and exit."},
    Option{.name = "version"_L1, .shortName = "v"_L1, .help = "Show the version and exit."},
    Option{.name = "port"_L1,
           .valueName = "DEVICE"_L1,
           .help = "The glove's serial device: a path such as /dev/ttyUSB0, or a port number "
                   "({port} is {default}, the default).",
           .kept = Kept::AsAbsolutePath,
           .apply = applyPort,
           .inForce = deviceInForce},
    Option{.name = "exchange-file"_L1,
           .valueName = "PATH"_L1,
           .help = "Where to write each aligned frame (default {default}).",
           .kept = Kept::AsAbsolutePath,
           .apply = applyPath<&CommandLine::exchangePath>,
           .inForce = pathInForce<&CommandLine::exchangePath>},
    Option{.name = "osc"_L1,
           .valueName = "HOST:PORT"_L1,
           .help = "Send each frame and each new status text as OSC messages to HOST:PORT (a "
                   "name, an IPv4 address or [IPv6 address]; repeatable).",
           .repeatable = true,
           .kept = Kept::AsGiven,
           .looksUpNames = true,
           .apply = applyReceivers<&Settings::osc>,
           .inForce = receiversInForce<&Settings::osc>},
    Option{.name = "udp"_L1,
           .valueName = "HOST:PORT"_L1,
           .help = "Send each frame's exchange file lines as one datagram to HOST:PORT "
                   "(repeatable).",
           .repeatable = true,
           .kept = Kept::AsGiven,
           .looksUpNames = true,
           .apply = applyReceivers<&Settings::udp>,
           .inForce = receiversInForce<&Settings::udp>},
    Option{.name = "osc-prefix"_L1,
           .valueName = "PREFIX"_L1,
           .help = "Start every OSC address with PREFIX instead of {default}.",
           .kept = Kept::AsGiven,
           .apply = applyOscPrefix,
           .inForce =
               [](const CommandLine& c) { return QString::fromStdString(c.network.oscPrefix); }},
    Option{.name = "midi"_L1,
           .help = "Play the glove on a MIDI output port called \"Glove Monitor\": each calibrated "
                   "value 2 to 10 as a controller, each learnt posture as a note while it is "
                   "held.",
           .kept = Kept::AsGiven,
           .apply = applyMidi,
           .inForce = [](const CommandLine& c) { return c.midi.enabled ? u"yes"_s : u"no"_s; }},
    Option{.name = "midi-api"_L1,
           .valueName = "API"_L1,
           .help = "Open the MIDI port on alsa (the ALSA sequencer) or jack (a running JACK "
                   "server); by default alsa where the machine has a sequencer, else jack.",
           .kept = Kept::AsGiven,
           .apply = applyMidiApi,
           .inForce =
               [](const CommandLine& c) {
                   return QString::fromUtf8(midi::apiName(c.midi.api.value_or(midi::defaultApi())));
               }},
    Option{.name = "midi-channel"_L1,
           .valueName = "N"_L1,
           .help = "The MIDI channel, 1 to 16 (default {default}).",
           .kept = Kept::AsGiven,
           .apply = applyMidiChannel,
           .inForce = [](const CommandLine& c) { return QString::number(c.midi.channel); }},
    Option{.name = "midi-controllers"_L1,
           .valueName = "LIST"_L1,
           .help = "The controllers of values 2 to 10: nine different numbers, 0 to 119, "
                   "separated by commas (default {default}).",
           .kept = Kept::AsGiven,
           .apply = applyMidiControllers,
           .inForce = midiControllersInForce},
    Option{.name = "record"_L1,
           .valueName = "PATH"_L1,
           .help = "Record every frame to a new CSV file at PATH; in a directory, to a new "
                   "glove-YYYYMMDD-HHMMSS.csv. An existing file is never overwritten.",
           .kept = Kept::AsDirectory,
           .apply = applyPath<&CommandLine::recordPath>,
           .inForce = pathInForce<&CommandLine::recordPath>},
    Option{
        .name = "calibration-time"_L1,
        .valueName = "SECONDS"_L1,
        .help = "How long Calibrate… (Ctrl+K) collects each sensor's lowest and highest "
                "reading while the hand opens and closes: 3 to 600 (default {default}).",
        .kept = Kept::AsGiven,
        .apply = applyCalibrationTime,
        .inForce = [](const CommandLine& c) { return QString::number(c.calibrationTime.count()); }},
    Option{.name = "calibrate-from"_L1,
           .valueName = "FILE"_L1,
           .help = "Take the calibration of the device in force (--port) from a recording made "
                   "with --record, keep it with the settings, and exit."},
    Option{.name = "forget-calibration"_L1,
           .help = "Forget the calibration kept for the device in force (--port), and exit."},
    Option{.name = "learn-posture"_L1,
           .valueName = "NAME=FILE"_L1,
           .help = "Learn the posture NAME of the device in force (--port) from a recording "
                   "made with --record while the hand held it still; a posture of that name is "
                   "relearnt. Keep it with the settings and exit (repeatable)."},
    Option{.name = "posture-note"_L1,
           .valueName = "NAME=NOTE"_L1,
           .help = "The posture NAME plays MIDI note NOTE (0 to 127): one learnt with "
                   "--learn-posture in the same command, or one kept for the device in force; "
                   "keep it and exit (repeatable). A posture learnt without one plays the "
                   "lowest note from 60 up that no other plays."},
    Option{.name = "forget-posture"_L1,
           .valueName = "NAME"_L1,
           .help = "Forget the posture NAME kept for the device in force (--port), and exit "
                   "(repeatable)."},
    Option{
        .name = "plot"_L1,
        .help = "Open the plot window (Ctrl+P) with the monitor's window.",
        .apply = [](const Option&, const QStringList&, CommandLine& c) -> std::optional<QString> {
            c.plot = true;
            return std::nullopt;
        },
        .inForce = [](const CommandLine& c) { return c.plot ? u"yes"_s : u"no"_s; }},
    Option{
        .name = "settings"_L1,
        .valueName = "NAME"_L1,
        .help =
            "Use the set of settings called NAME, kept in "
            "$XDG_CONFIG_HOME/glove-monitor/NAME.conf, instead of the usual one: for a "
            "start, --show-settings and --save-settings alike. NAME is letters, digits, "
            "'.', '_' and '-', not starting with '.' or '-'; a start refuses a set never saved."},
    Option{.name = "list-ports"_L1,
           .help = "List this machine's serial devices and exit: path, stable name, and what "
                   "each says of itself."},
    Option{.name = "save-settings"_L1,
           .help = "Keep the options given with it ({kept}; --record as a directory) for every "
                   "start, in place of those kept before, and exit; given alone, forget them. "
                   "An option given at a start overrides its kept value. They are kept in "
                   "$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf (~/.config without it), "
                   "or in a named set with --settings."},
    Option{.name = "show-settings"_L1,
           .help = "Show the settings a start with the other options given would use, and "
                   "where each comes from (command line, saved or default), and exit."},
};

// The options that set a value, in the order a start checks them: names to look up last.
std::vector<const Option*> checkOrder() {
    std::vector<const Option*> order;
    for (const bool late : {false, true}) {
        for (const Option& o : kOptions) {
            if (o.apply != nullptr && o.looksUpNames == late) order.push_back(&o);
        }
    }
    return order;
}

// The kept options as --help names them: "--port, --exchange-file, ...".
QString keptOptionNames() {
    QStringList names;
    for (const Option* o : checkOrder()) {
        if (o->kept != Kept::No) names << u"--"_s + o->name;
    }
    return names.join(u", "_s);
}

QString helpText(const Option& o) {
    return QString::fromUtf8(o.help)
        .replace(u"{default}"_s, o.inForce == nullptr ? QString() : o.inForce(CommandLine{}))
        .replace(u"{port}"_s, QString::number(ConnectLoop::kCommPort))
        .replace(u"{kept}"_s, keptOptionNames());
}

// A kept recording goes to a directory: a file would exist already at the second start.
std::optional<QString> notKeepable(const Option& option, const QStringList& values) {
    if (option.kept != Kept::AsDirectory || QFileInfo(last(values)).isDir()) return std::nullopt;
    return u"a saved --%1 must be a directory: %2"_s.arg(option.name, last(values));
}

// What --save-settings keeps of a valid option. A start from the desktop begins in the home
// directory, not where this ran: paths are kept absolute.
QStringList keptValues(const Option& option, const QStringList& values, const CommandLine& c) {
    // A switch is kept as "yes".
    if (option.valueName.isEmpty()) return {u"yes"_s};
    if (option.kept == Kept::AsGiven) return values;
    return {QDir::cleanPath(QFileInfo(option.inForce(c)).absoluteFilePath())};
}

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
    const auto addHidden = [&parser](QCommandLineOption option) {
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    };
    for (const char* name : withValue) addHidden({QString::fromLatin1(name), {}, u"value"_s});
    for (const char* name : flags) addHidden(QCommandLineOption(QString::fromLatin1(name)));
}

}  // namespace

std::span<const Option> options() {
    return kOptions;
}

const Option* findOption(QStringView name) {
    const auto* found =
        std::ranges::find_if(kOptions, [&](const Option& o) { return o.name == name; });
    return found == kOptions.end() ? nullptr : found;
}

QString deviceInForce(const CommandLine& c) {
    return c.device.isEmpty() ? devicePathForPort(ConnectLoop::kCommPort) : c.device;
}

bool isSettingsName(const QString& name) {
    static const QRegularExpression valid(
        u"\\A[A-Za-z0-9_][A-Za-z0-9._-]{0,%1}\\z"_s.arg(kLongestSettingsName - 1));
    return valid.match(name).hasMatch();
}

CommandLine parseCommandLine(const QStringList& arguments, const SavedSettings& saved) {
    return parseCommandLine(arguments, [&saved](const QString&) { return saved; });
}

CommandLine parseCommandLine(const QStringList& arguments,
                             const std::function<SavedSettings(const QString&)>& readSaved) {
    QCommandLineParser parser;
    // As the toolkit writes its options: -platform offscreen, -style=fusion.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QString::fromUtf8(kProductName) +
        u": shows what a data glove sends over a serial line.\n"
        u"The toolkit's own options (-platform, -style, -display, -geometry and more) work as "
        u"well."_s);
    for (const Option& o : kOptions) {
        QStringList names{o.name};
        if (!o.shortName.isEmpty()) names.prepend(o.shortName);
        parser.addOption(QCommandLineOption(names, helpText(o), o.valueName));
    }
    acceptToolkitOptions(parser);

    CommandLine result;
    auto refuse = [&](const QString& why) {
        result.action = CommandLine::Action::Refuse;
        QString line = why.trimmed();
        if (line.endsWith('.')) line.chop(1);
        result.message = line + u"; see --help"_s;
        return result;
    };

    if (!parser.parse(arguments)) return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(u"Unexpected argument: "_s + parser.positionalArguments().first());
    }
    if (parser.isSet(u"help"_s)) {
        result.action = CommandLine::Action::ShowHelp;
        // Without an application object the parser cannot know the program's name.
        result.message = parser.helpText();
        result.message.replace(0, result.message.indexOf('\n'),
                               u"Usage: glove-monitor [options]"_s);
        return result;
    }
    if (parser.isSet(u"version"_s)) {
        result.action = CommandLine::Action::ShowVersion;
        result.message = QString::fromUtf8(kProductName) + ' ' + QString::fromUtf8(kVersionText);
        return result;
    }
    const bool listing = parser.isSet(u"list-ports"_s);
    const bool saving = parser.isSet(u"save-settings"_s);
    const bool showing = parser.isSet(u"show-settings"_s);
    if (int(listing) + int(saving) + int(showing) > 1) {
        return refuse(u"--list-ports, --save-settings and --show-settings each go alone"_s);
    }
    if (listing) {
        result.action = CommandLine::Action::ListPorts;
        return result;
    }
    // Only kept options go with --save-settings: never the toolkit's own.
    const auto keptOrSaving = [](const QString& name) {
        const Option* o = findOption(name);
        return o != nullptr &&
               (o->kept != Kept::No || o->name == "save-settings"_L1 || o->name == "settings"_L1);
    };
    if (saving && !std::ranges::all_of(parser.optionNames(), keptOrSaving)) {
        return refuse(u"--save-settings keeps only "_s + keptOptionNames());
    }
    if (parser.isSet(u"settings"_s)) {
        result.settingsName = parser.value(u"settings"_s);
        if (!isSettingsName(result.settingsName)) {
            return refuse(
                u"Invalid --settings name: '%1' (letters, digits, '.', '_' and '-', "
                u"not starting with '.' or '-', at most %2)"_s.arg(result.settingsName)
                    .arg(kLongestSettingsName));
        }
    }
    const SavedSettings saved = readSaved(result.settingsName);
    // A set named but never saved is a slip of the keyboard, not a wish for the defaults.
    if (!saving && !result.settingsName.isEmpty() && !saved.found) {
        return refuse(
            u"No settings called '%1' were saved (%2); save them first with "
            u"--settings %1 --save-settings and the options to keep"_s.arg(result.settingsName,
                                                                           saved.path));
    }
    // Each option from the command line, else from the settings file; a saved value that a
    // start would refuse is passed over.
    if (!saving) result.settingsProblems = saved.problems;
    QMap<QString, QString> source;
    for (const Option* option : checkOrder()) {
        const QString name = option->name;
        if (parser.isSet(name)) {
            const QStringList values = parser.values(name);
            auto why = option->apply(*option, values, result);
            if (!why && saving) why = notKeepable(*option, values);
            if (why) return refuse(*why);
            source[name] = u"command line"_s;
            if (saving) result.toSave[name] = keptValues(*option, values, result);
        } else if (!saving && option->kept != Kept::No && saved.values.contains(name)) {
            auto why = notKeepable(*option, saved.values[name]);
            if (!why) why = option->apply(*option, saved.values[name], result);
            if (why) {
                result.settingsProblems
                    << settingProblem(saved.path, name, *why + u"; the default is used"_s);
            } else {
                source[name] = u"saved"_s;
                result.savedRecord = result.savedRecord || name == "record"_L1;
            }
        }
    }
    // The kept calibration of the device in force; a damaged one is said once and not used.
    const QString device = calibrationDevice(deviceInForce(result));
    if (const auto kept = saved.calibrations.constFind(device);
        !saving && kept != saved.calibrations.cend()) {
        result.calibration = calibration::parseRanges(kept->toStdString());
        if (!result.calibration) {
            result.settingsProblems << settingProblem(
                saved.path, calibrationKey(device),
                u"'%1' is not a calibration (nine LOW-HIGH pairs of 0 to 255); the glove is not "
                u"calibrated"_s.arg(*kept));
        }
    }
    // The same for its postures.
    if (const auto kept = saved.postures.constFind(device);
        !saving && kept != saved.postures.cend()) {
        const posture::ReadPostures read = posture::parsePostures(kept->toStdString());
        result.posturesDamaged = !read.fault.empty();
        if (result.posturesDamaged) {
            result.settingsProblems
                << settingProblem(saved.path, postureKey(device),
                                  u"not a set of postures (%1); no posture is recognised"_s.arg(
                                      QString::fromStdString(read.fault)));
        }
        for (const posture::Posture& p : read.postures) result.postures.add(p);
    }
    const bool forgetting = parser.isSet(u"forget-calibration"_s);
    if (parser.isSet(u"calibrate-from"_s)) {
        const QString recording = parser.value(u"calibrate-from"_s);
        if (recording.isEmpty()) return refuse(u"--calibrate-from needs a path"_s);
        result.calibrateFrom = QFile::encodeName(recording).toStdString();
    }
    if (auto why = takePosturesToLearn(parser.values(u"learn-posture"_s), result)) {
        return refuse(*why);
    }
    if (auto why = takePostureNotes(parser.values(u"posture-note"_s), result)) {
        return refuse(*why);
    }
    result.forgetPostures = parser.values(u"forget-posture"_s);
    const bool learning = !result.learnPostures.empty() || !result.postureNotes.empty();
    if (int(forgetting) + int(!result.calibrateFrom.empty()) + int(learning) +
            int(!result.forgetPostures.isEmpty()) + int(saving) + int(showing) >
        1) {
        return refuse(
            u"--calibrate-from, --forget-calibration, --learn-posture (with --posture-note), "
            u"--forget-posture, --save-settings and --show-settings each go alone"_s);
    }
    if (forgetting) {
        result.action = CommandLine::Action::ForgetCalibration;
    } else if (!result.calibrateFrom.empty()) {
        result.action = CommandLine::Action::CalibrateFrom;
    } else if (!result.learnPostures.empty()) {
        result.action = CommandLine::Action::LearnPostures;
    } else if (!result.postureNotes.empty()) {
        result.action = CommandLine::Action::SetPostureNotes;
    } else if (!result.forgetPostures.isEmpty()) {
        result.action = CommandLine::Action::ForgetPostures;
    } else if (saving) {
        result.action = CommandLine::Action::SaveSettings;
    } else if (showing) {
        result.action = CommandLine::Action::ShowSettings;
        QStringList lines{u"Settings file: "_s + saved.path};
        for (const Option* option : checkOrder()) {
            const QString name = option->name;
            lines << u"%1: %2 (%3)"_s.arg(name, option->inForce(result),
                                          source.value(name, u"default"_s));
        }
        lines << u"calibration of %1: %2"_s.arg(device, calibrationInForce(result));
        lines << u"postures of %1: %2"_s.arg(device, posturesInForce(result));
        result.message = lines.join('\n');
    }
    return result;
}

}  // namespace glove
