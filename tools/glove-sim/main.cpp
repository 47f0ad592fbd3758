// glove-sim: stands in for the glove's receiver, so the monitor can be run and tested
// without the hardware. See README.md.

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <optional>
#include <ratio>
#include <span>
#include <system_error>

#include "common/version.h"
#include "frame_maker.h"
#include "record/recording_format.h"
#include "replay.h"
#include "sim_line.h"
#include "sim_options.h"

namespace {

using namespace glove_sim;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a signal has to cut sleeps and waits short.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A caller that stops reading our stdout must not end the stream.
    std::signal(SIGPIPE, SIG_IGN);
}

std::int64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * std::int64_t{std::nano::den} + now.tv_nsec;
}

// False if a stop was requested first.
bool sleepUntil(std::int64_t deadline) {
    const auto perSecond = std::int64_t{std::nano::den};
    const timespec until{.tv_sec = static_cast<time_t>(deadline / perSecond),
                         .tv_nsec = deadline % perSecond};
    while (stopRequested == 0) {
        const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (result == 0) return true;
        if (result != EINTR) throw std::system_error(result, std::generic_category(), "sleeping");
    }
    return false;
}

enum class Turn { Due, TimeUp, Stopped };

// Hands out times on the line, as offsets from the start, at absolute deadlines, so rounding
// and the time spent writing do not add up over a run.
class Pacer {
  public:
    explicit Pacer(std::optional<std::int64_t> runNanos)
        : end_(runNanos ? start_ + *runNanos : std::numeric_limits<std::int64_t>::max()) {}

    Turn waitUntil(std::int64_t offset) {
        // Longer than any scheduling hiccup: the line was full because nobody was reading.
        constexpr std::int64_t stallNanos = 100'000'000;
        const std::int64_t due = start_ + offset;
        if (due >= end_) return sleepUntil(end_) ? Turn::TimeUp : Turn::Stopped;
        if (!sleepUntil(due)) return Turn::Stopped;
        // After a stall carry on from now, rather than rushing out everything missed.
        const std::int64_t late = monotonicNanos() - due;
        if (late > stallNanos) start_ += late;
        return Turn::Due;
    }

  private:
    std::int64_t start_ = monotonicNanos();
    std::int64_t end_ = 0;
};

enum class Ending { Finished, Stopped };

// A glove's radio does not wait for a reader: while frames wait unread (nobody has the line
// open, or the reader stalls) further frames are dropped whole, as on a real line, so a
// reader who starts late gets the frames of now after a short backlog. A reader that is
// busy for a moment (a third of a second at the glove's rate) loses nothing.
constexpr std::size_t mostUnread = 16 * frameLength;

bool readerBehind(const SerialLine& line) {
    return line.unread() >= mostUnread;
}

// The postures scenario's account of the hand, one line as each hold or move begins, flushed so
// that whoever scores recognition can follow it live.
void logPosture(std::ostream& log, std::int64_t offset, std::uint64_t frame,
                std::string_view name) {
    const double seconds = static_cast<double>(offset) / static_cast<double>(std::nano::den);
    log << std::fixed << std::setprecision(3) << seconds << ' ' << frame << ' ' << name
        << std::endl;
    if (!log) throw std::runtime_error("the posture log cannot be written");
}

Ending stream(SerialLine& line, const SimOptions& options, std::ostream& postureLog) {
    FrameMaker maker(options.stream);
    Pacer pacer(options.runNanos);
    const auto keepGoing = [] { return stopRequested == 0; };
    const auto ending = [](Turn turn) {
        return turn == Turn::Stopped ? Ending::Stopped : Ending::Finished;
    };
    // Without --rate chunks follow each other on the line, timed from the line slots used so
    // far; with it each starts a frame period after the one before, or when that one ends.
    const std::int64_t period =
        options.framesPerSecond
            ? std::llround(static_cast<double>(std::nano::den) / *options.framesPerSecond)
            : 0;
    std::uint64_t slotsBefore = 0;  // line slots of the chunks so far
    std::int64_t chunkStart = 0;

    for (std::uint64_t sent = 0; !options.frameLimit || sent < *options.frameLimit; ++sent) {
        const Chunk chunk = maker.next();
        if (!chunk.begins.empty()) logPosture(postureLog, chunkStart, sent, chunk.begins);
        std::span<const std::uint8_t> unsent(chunk.bytes);
        std::uint64_t slot = 0;
        // A chunk without bytes (silent) still takes its slot, so time keeps passing.
        do {
            const Turn turn =
                pacer.waitUntil(chunkStart + glove::lineTime(slot, options.baud).count());
            if (turn != Turn::Due) return ending(turn);
            if (slot == 0 && readerBehind(line)) break;
            const auto piece = unsent.first(
                options.burst ? unsent.size() : std::min<std::size_t>(1, unsent.size()));
            if (!line.writeAll(piece, keepGoing)) return Ending::Stopped;
            slot += piece.size();
            unsent = unsent.subspan(piece.size());
        } while (!unsent.empty());
        slotsBefore += chunk.lineSlots;
        const std::int64_t chunkEnd =
            period > 0 ? chunkStart + glove::lineTime(chunk.lineSlots, options.baud).count()
                       : glove::lineTime(slotsBefore, options.baud).count();
        chunkStart = std::max(chunkEnd, chunkStart + period);
    }
    // The last chunk's line time passes before the run counts as done.
    return ending(pacer.waitUntil(chunkStart));
}

// Plays a recording: the same line and clock as a scenario's stream.
Ending replayInto(SerialLine& line, const ReplaySchedule& schedule, const SimOptions& options) {
    const auto keepGoing = [] { return stopRequested == 0; };
    const bool finished = replay(
        schedule,
        {.baud = options.baud,
         .burst = options.burst,
         .frameLimit = options.frameLimit,
         .runNanos = options.runNanos},
        {.now = monotonicNanos,
         .sleepUntil = sleepUntil,
         .write =
             [&](std::span<const std::uint8_t> bytes) { return line.writeAll(bytes, keepGoing); },
         .readerBehind = [&] { return readerBehind(line); }});
    return finished ? Ending::Finished : Ending::Stopped;
}

int run(const SimOptions& options) {
    installStopHandlers();
    // A recording is read and checked whole before anything is opened.
    std::optional<ReplaySchedule> schedule;
    if (options.replay) schedule.emplace(*options.replay, options.baud, std::cerr);
    std::ofstream postureFile;
    if (!options.postureLogPath.empty()) {
        postureFile.open(options.postureLogPath, std::ios::out | std::ios::trunc);
        if (!postureFile) {
            throw std::system_error(errno, std::generic_category(),
                                    "cannot write the posture log " + options.postureLogPath);
        }
    }
    std::ostream& postureLog = postureFile.is_open() ? postureFile : std::cerr;
    SerialLine line =
        options.devicePath.empty()
            ? SerialLine::openPseudoTerminal(options.baud)
            : SerialLine::openDevice(options.devicePath, termiosSpeed(options.baud).value());
    std::optional<DeviceLink> link;
    if (!options.linkPath.empty()) link.emplace(options.linkPath, line.path());
    // The one line on stdout, flushed: callers wait for it to learn where to read.
    std::cout << line.path() << std::endl;

    const Ending ending =
        schedule ? replayInto(line, *schedule, options) : stream(line, options, postureLog);
    // An unplugged glove just vanishes: no drain, and returning closes the line and removes
    // the link, so the reader sees a hang-up with bytes possibly still in flight.
    if (ending == Ending::Finished && options.stream.scenario != Scenario::Unplug) line.drain();
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    constexpr int runFailure = 1;
    constexpr int usageFailure = 2;
    const QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("glove-sim");
    try {
        const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
        if (commandLine.helpRequested) {
            std::cout << commandLine.helpText;
            return 0;
        }
        if (commandLine.versionRequested) {
            std::cout << "glove-sim (" << glove::kProductName << ") " << glove::kVersionText
                      << '\n';
            return 0;
        }
        return run(commandLine.options);
    } catch (const UsageError& error) {
        std::cerr << "glove-sim: " << error.what() << " (see --help)\n";
        return usageFailure;
    } catch (const glove::record::BadRecording& error) {
        std::cerr << "glove-sim: " << error.what() << '\n';
        return usageFailure;
    } catch (const std::exception& error) {
        std::cerr << "glove-sim: " << error.what() << '\n';
        return runFailure;
    }
}
