#include "sim_options.h"

#include <QCommandLineParser>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <ratio>

#include "sim_line.h"

namespace glove_sim {

namespace {

std::string text(const QString& string) {
    return string.toStdString();
}

QString qtext(std::string_view string) {
    return QString::fromUtf8(string.data(), static_cast<qsizetype>(string.size()));
}

std::string optionName(const QCommandLineOption& option) {
    return "--" + text(option.names().constFirst());
}

std::int64_t wholeNumber(const QCommandLineParser& parser, const QCommandLineOption& option,
                         std::int64_t min, std::int64_t max) {
    const QString raw = parser.value(option);
    bool ok = false;
    const qlonglong value = raw.toLongLong(&ok);
    if (!ok) throw UsageError(optionName(option) + ": '" + text(raw) + "' is not a whole number");
    if (value < 0 && min == 0)
        throw UsageError(optionName(option) + " must not be negative (got " + text(raw) + ")");
    if (value < min || value > max) {
        throw UsageError(optionName(option) + " must be between " + std::to_string(min) + " and " +
                         std::to_string(max) + " (got " + text(raw) + ")");
    }
    return value;
}

Frame heldPose(const QString& raw) {
    const QStringList values = raw.split(',');
    if (values.size() != static_cast<qsizetype>(frameLength - 1))
        throw UsageError("--hold needs " + std::to_string(frameLength - 1) +
                         " comma-separated values (got '" + text(raw) + "')");
    Frame frame{};
    frame[valuePos(1)] = frameMarker;
    for (int n = 2; n <= static_cast<int>(frameLength); ++n) {
        bool ok = false;
        const int value = values[n - 2].trimmed().toInt(&ok);
        if (!ok || value < 0 || value > 255)
            throw UsageError("--hold: value " + std::to_string(n) + " must be 0-255 (got '" +
                             text(values[n - 2]) + "')");
        frame[valuePos(n)] = static_cast<std::uint8_t>(value);
    }
    return frame;
}

std::int64_t durationNanos(const QCommandLineParser& parser, const QCommandLineOption& option) {
    // Keeps the run's end time well inside 64-bit nanoseconds.
    constexpr double longestRunSeconds = 1e9;
    const QString raw = parser.value(option);
    bool ok = false;
    const double seconds = raw.toDouble(&ok);
    if (!ok || !std::isfinite(seconds))
        throw UsageError(optionName(option) + ": '" + text(raw) + "' is not a number of seconds");
    if (seconds < 0)
        throw UsageError(optionName(option) + " must not be negative (got " + text(raw) + ")");
    if (seconds > longestRunSeconds)
        throw UsageError(optionName(option) + " is too long (got " + text(raw) + ")");
    return std::llround(seconds * static_cast<double>(std::nano::den));
}

double replaySpeed(const QCommandLineParser& parser, const QCommandLineOption& option) {
    if (!parser.isSet(option)) return 1;
    const QString raw = parser.value(option);
    bool ok = false;
    const double speed = raw.toDouble(&ok);
    if (!ok || !(speed >= slowestReplay && speed <= fastestReplay))
        throw UsageError(optionName(option) + " must be a number from " +
                         text(QString::number(slowestReplay)) + " to " +
                         text(QString::number(fastestReplay)) + " (got '" + text(raw) + "')");
    return speed;
}

// Frames a second, more than none and no more than the line carries at `baud`.
double frameRate(const QCommandLineParser& parser, const QCommandLineOption& option,
                 std::uint32_t baud) {
    const QString raw = parser.value(option);
    bool ok = false;
    const double rate = raw.toDouble(&ok);
    if (!ok || !std::isfinite(rate))
        throw UsageError(optionName(option) + ": '" + text(raw) + "' is not a number of frames");
    if (rate <= 0)
        throw UsageError(optionName(option) + " must be more than 0 (got " + text(raw) + ")");
    const double fastest =
        1 / std::chrono::duration<double>(glove::lineTime(frameLength, baud)).count();
    if (rate > fastest)
        throw UsageError(optionName(option) + " " + text(raw) + " is faster than the line (" +
                         std::to_string(fastest) + " frames a second at " + std::to_string(baud) +
                         " baud)");
    return rate;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    constexpr std::uint32_t fastestBaud = 4'000'000;
    constexpr double unplugAfterSeconds = 2.0;
    const SimOptions defaults;
    const auto number = [](auto value) { return QString::number(value); };

    QString scenarioList;
    for (const auto& [name, scenario] : scenarioNames)
        scenarioList += (scenarioList.isEmpty() ? "" : ", ") + qtext(name);
    const QString defaultScenario = qtext(scenarioNames.front().first);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays a data glove's receiver: streams ten-byte frames (marker 128, then nine values)\n"
        "into a new pseudo-terminal, whose path it prints, or into a serial device.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    // The toolkit's own name for it, left in for habit's sake: it shows the same help.
    QCommandLineOption helpAll("help-all");
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    parser.addOptions({help, helpAll, version});
    const QCommandLineOption scenario(
        "scenario", "What the glove does: " + scenarioList + " (default " + defaultScenario + ").",
        "name", defaultScenario);
    const QCommandLineOption device(
        "device", "Write to this serial device instead of a new pseudo-terminal.", "path");
    const QCommandLineOption link(
        "link", "Also make a symbolic link here to the device; removed on exit.", "path");
    const QCommandLineOption baud(
        "baud", "Line speed for pacing and the device (default " + number(defaults.baud) + ").",
        "rate", number(defaults.baud));
    const QCommandLineOption burst("burst", "Write each frame at once, then wait its line time.");
    const QCommandLineOption seed("seed",
                                  "Seed for everything random; same seed, same bytes (default " +
                                      number(defaults.stream.seed) + ").",
                                  "n", number(defaults.stream.seed));
    const QCommandLineOption frames("frames", "Stop after n frames (noise: n runs).", "n");
    const QCommandLineOption runFor(
        "for",
        "Stop after this many seconds (default: never; unplug pulls the plug then, " +
            number(unplugAfterSeconds) + " without it).",
        "seconds");
    const QCommandLineOption offset(
        "offset",
        "Leave out the first k bytes of the first frame (0-" + number(frameLength - 1) + ").", "k",
        "0");
    const QCommandLineOption count(
        "count", "Values 7-10 carry the frame index, 7 bits each (not in noise).");
    const QCommandLineOption hold(
        "hold",
        "Send this pose in every frame instead of the scenario's: values 2 to 10, comma-separated, "
        "each 0-255.",
        "values");
    const QCommandLineOption rate(
        "rate", "Start a frame this many times a second, slower than the line allows.", "fps");
    const QCommandLineOption dropByte(
        "drop-byte", "Lose the n-th byte sent (from 1) on the line, as a noisy line does.", "n");
    const QCommandLineOption postureLog(
        "posture-log",
        "Postures scenario: write a line \"SECONDS FRAME NAME\" to this file (stderr without "
        "it) as each hold or move (NAME none) begins.",
        "file");
    QString postureList;
    for (const SimPosture& p : simPostures)
        postureList += (postureList.isEmpty() ? "" : ", ") + qtext(p.name);
    const QCommandLineOption posture(
        "posture",
        "Postures scenario: hold this posture in every frame, with the scenario's noise (" +
            postureList + ").",
        "name");
    parser.addOptions({scenario, device, link, baud, burst, seed, frames, runFor, offset, count,
                       hold, rate, dropByte, postureLog, posture});
    const QCommandLineOption replay(
        "replay", "Play this recording of the monitor's instead of a scenario, frame by frame.",
        "file");
    const QCommandLineOption speed("speed",
                                   "Play the recording this many times as fast (" +
                                       number(slowestReplay) + "-" + number(fastestReplay) +
                                       ", default 1).",
                                   "x");
    const QCommandLineOption loop("loop", "Start the recording over when it ends.");
    parser.addOptions({replay, speed, loop});

    if (!parser.parse(arguments)) throw UsageError(text(parser.errorText()));
    CommandLine commandLine;
    if (parser.isSet(help) || parser.isSet(helpAll)) {
        commandLine.helpRequested = true;
        // Without an application object the parser cannot know the program's name.
        QString helpText = parser.helpText();
        commandLine.helpText =
            text(helpText.replace(0, helpText.indexOf('\n'), "Usage: glove-sim [options]"));
        return commandLine;
    }
    if (parser.isSet(version)) {
        commandLine.versionRequested = true;
        return commandLine;
    }
    if (!parser.positionalArguments().isEmpty())
        throw UsageError("unexpected argument '" + text(parser.positionalArguments().constFirst()) +
                         "'");

    SimOptions& options = commandLine.options;
    const auto chosen = scenarioFromName(text(parser.value(scenario)));
    if (!chosen)
        throw UsageError("unknown scenario '" + text(parser.value(scenario)) + "' (choose " +
                         text(scenarioList) + ")");
    options.stream.scenario = *chosen;
    options.stream.seed = static_cast<std::uint32_t>(
        wholeNumber(parser, seed, 0, std::numeric_limits<std::uint32_t>::max()));
    options.stream.count = parser.isSet(count);
    options.stream.offset =
        static_cast<std::size_t>(wholeNumber(parser, offset, 0, frameLength - 1));
    options.baud = static_cast<std::uint32_t>(wholeNumber(parser, baud, 1, fastestBaud));
    options.burst = parser.isSet(burst);
    if (parser.isSet(frames)) {
        options.frameLimit = static_cast<std::uint64_t>(
            wholeNumber(parser, frames, 0, std::numeric_limits<std::int64_t>::max()));
    }
    if (parser.isSet(runFor))
        options.runNanos = durationNanos(parser, runFor);
    else if (options.stream.scenario == Scenario::Unplug)
        options.runNanos = std::llround(unplugAfterSeconds * static_cast<double>(std::nano::den));
    if (parser.isSet(hold)) options.stream.hold = heldPose(parser.value(hold));
    if (parser.isSet(rate)) options.framesPerSecond = frameRate(parser, rate, options.baud);
    if (parser.isSet(dropByte)) {
        options.stream.dropByte = static_cast<std::uint64_t>(
            wholeNumber(parser, dropByte, 1, std::numeric_limits<std::int64_t>::max()));
    }
    options.devicePath = text(parser.value(device));
    options.linkPath = text(parser.value(link));
    options.postureLogPath = text(parser.value(postureLog));
    if (parser.isSet(postureLog) && options.stream.scenario != Scenario::Postures)
        throw UsageError("--posture-log needs --scenario postures");
    if (parser.isSet(postureLog) && options.postureLogPath.empty())
        throw UsageError("--posture-log needs a file name");
    if (parser.isSet(posture)) {
        if (options.stream.scenario != Scenario::Postures)
            throw UsageError("--posture needs --scenario postures");
        const std::string name = text(parser.value(posture));
        const auto* found =
            std::ranges::find(simPostures, std::string_view(name), &SimPosture::name);
        if (found == simPostures.end())
            throw UsageError("unknown posture '" + name + "' (choose " + text(postureList) + ")");
        options.stream.posture = static_cast<std::size_t>(found - simPostures.begin());
    }
    if (parser.isSet(replay)) {
        // A recording brings its own frames and timing.
        for (const QCommandLineOption* other :
             {&scenario, &hold, &count, &offset, &seed, &rate, &dropByte}) {
            if (parser.isSet(*other))
                throw UsageError("--replay does not go with " + optionName(*other));
        }
        options.replay = ReplaySettings{.path = text(parser.value(replay)),
                                        .speed = replaySpeed(parser, speed),
                                        .loop = parser.isSet(loop)};
    } else if (parser.isSet(speed) || parser.isSet(loop)) {
        throw UsageError(optionName(parser.isSet(speed) ? speed : loop) + " needs --replay");
    }
    if (!options.devicePath.empty() && !termiosSpeed(options.baud))
        throw UsageError("--baud " + std::to_string(options.baud) +
                         " is not a rate a serial port can be set to");
    return commandLine;
}

}  // namespace glove_sim
