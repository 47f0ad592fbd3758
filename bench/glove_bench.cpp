// Measures the monitor at the glove's full rate and on a silent line: frames read whole,
// latency to the exchange file, passes, CPU, display updates and memory. It runs the same
// load with the paced yield and with a yield that returns at once, side by side. Then it
// streams every kind of glove (readings on 128, random readings, slow gloves, a reader
// joining mid-frame, a lost byte) and counts the frames read whole.
#include <sys/resource.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "monitor/glove_display.h"
#include "monitor/glove_pipeline.h"
#include "monitor/status_text.h"
#include "support/pty.h"
#include "window/glove_window.h"
#include "window/hand_figure.h"

namespace {

using bench::Clock;
using bench::counterOf;
using bench::Glove;
using bench::kBaud;
using bench::threadCpuSeconds;

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Counts the passes that moved the bars: what the user sees update.
class CountingDisplay final : public glove::GloveDisplay {
  public:
    explicit CountingDisplay(glove::GloveDisplay& shown) : shown_(shown) {}
    void setText(const QString& text) override { shown_.setText(text); }
    void setThumbLeft(float left) override { shown_.setThumbLeft(left); }
    void setThumbWidth(float width) override { shown_.setThumbWidth(width); }
    void setFingerTop(int finger, float top) override {
        shown_.setFingerTop(finger, top);
        if (finger == glove::HandFigure::kFingerCount - 1) ++updates;
    }
    long updates = 0;

  private:
    glove::GloveDisplay& shown_;
};

struct Figures {
    double framesWhole = 0;
    double latencyMedianMs = 0;
    double latencyP99Ms = 0;
    double passesPerSecondStreaming = 0;
    double passesPerSecondSilent = 0;
    double cpuSecondsPerMinuteStreaming = 0;
    double cpuSecondsPerMinuteSilent = 0;
    double displayUpdatesPerSecond = 0;
};

Figures run(bool paced, int frames, double silentSeconds) {
    glove::test::Pty pty;
    QTemporaryDir dir;
    const std::string exchangePath = QFile::encodeName(dir.filePath("InputFile")).toStdString();

    glove::GloveWindow window({.device = {}, .exchangePath = exchangePath, .endProgram = [] {}});
    window.show();
    CountingDisplay display(window);

    Glove glove(pty, frames);
    std::vector<std::pair<glove::Frame, Clock::time_point>> lines;
    long passes = 0;
    bool streaming = true;
    QElapsedTimer phase;
    double cpuAtPhase = 0;
    long passesAtPhase = 0;
    Figures f;

    const auto endPhase = [&] {
        const double seconds = static_cast<double>(phase.nsecsElapsed()) / 1e9;
        const double cpu = threadCpuSeconds() - cpuAtPhase;
        const double rate = static_cast<double>(passes - passesAtPhase) / seconds;
        if (streaming) {
            f.passesPerSecondStreaming = rate;
            f.cpuSecondsPerMinuteStreaming = cpu * 60 / seconds;
            f.displayUpdatesPerSecond = static_cast<double>(display.updates) / seconds;
        } else {
            f.passesPerSecondSilent = rate;
            f.cpuSecondsPerMinuteSilent = cpu * 60 / seconds;
        }
        phase.start();
        cpuAtPhase = threadCpuSeconds();
        passesAtPhase = passes;
    };
    glove::GlovePipeline pipeline(
        display, {.device = pty.path(),
                  .exchangePath = exchangePath,
                  .aroundPoll =
                      [&](glove::FramePoll& poll) {
                          poll.run();
                          if (pipeline.dataF().size() != glove::kFrameLength) return;
                          if (const auto values = bench::firstExchangeLine(exchangePath)) {
                              lines.emplace_back(*values, Clock::now());
                          }
                      },
                  .aroundYield =
                      [&](glove::PacedYield& pacedYield) {
                          ++passes;
                          if (paced) {
                              pacedYield();
                          } else {
                              QCoreApplication::processEvents();
                          }
                          if (streaming && glove.done()) {
                              // Let the last frame through, then measure the silent line.
                              pacedYield();
                              endPhase();
                              streaming = false;
                          } else if (!streaming && phase.nsecsElapsed() > silentSeconds * 1e9) {
                              endPhase();
                              pipeline.stop();
                          }
                      }});

    phase.start();
    cpuAtPhase = threadCpuSeconds();
    glove.start();
    pipeline.connect();
    glove.join();

    // A frame reached the file whole when a line holds exactly the ten values sent.
    std::vector<double> latencies;
    std::set<std::uint32_t> whole;
    for (const auto& [values, at] : lines) {
        const std::uint32_t counter = counterOf(values);
        if (counter >= static_cast<std::uint32_t>(frames) || values != glove.sent(counter) ||
            !whole.insert(counter).second) {
            continue;
        }
        latencies.push_back(
            std::chrono::duration<double, std::milli>(at - glove.sentAt(counter)).count());
    }
    f.framesWhole = static_cast<double>(whole.size());
    f.latencyMedianMs = bench::percentile(latencies, 50);
    f.latencyP99Ms = bench::percentile(latencies, 99);
    return f;
}

// ---- Any glove: frames read whole, realignment, the time to " No Device Found" ------------

struct StreamCase {
    std::string name;
    glove_sim::StreamSettings settings;
    double perSecond = 0;  // 0: as fast as the line carries frames
    bool burst = false;
    int frames = 0;
};

struct StreamFigures {
    int framesSent = 0;
    int framesWhole = 0;
    int damaged = -1;         // the first frame not sent whole (joined or lost a byte)
    int lostAfterDamage = 0;  // whole frames after it not read whole before reads were again
    bool settled = true;      // every frame from there on was read whole
    int noDeviceWhileStreaming = 0;
    int emptyReadsWhileStreaming = 0;
    double noDeviceAfterMs = -1;  // from the last byte sent to " No Device Found"
};

// Sends the frames of a scenario on a thread, each at its start time, byte by byte at the
// line's pace or all at once; remembers the bytes sent and where each frame starts.
class StreamGlove {
  public:
    StreamGlove(const glove::test::Pty& pty, const StreamCase& streamCase)
        : pty_(pty), case_(streamCase) {}

    void start() {
        thread_ = std::thread([this] {
            glove_sim::FrameMaker maker(case_.settings);
            const auto lineFrame = glove::lineTime(glove::kFrameLength, kBaud);
            const auto period = case_.perSecond > 0
                                    ? std::chrono::nanoseconds(std::llround(1e9 / case_.perSecond))
                                    : lineFrame;
            const auto begin = Clock::now();
            for (int k = 0; k < case_.frames; ++k) {
                const glove_sim::Chunk chunk = maker.next();
                const QByteArray frame(reinterpret_cast<const char*>(chunk.bytes.data()),
                                       static_cast<qsizetype>(chunk.bytes.size()));
                starts_.emplace_back(sent_.size(), frame.size());
                sent_ += frame;
                const auto at = begin + period * k;
                for (qsizetype i = 0; i < frame.size(); i += case_.burst ? frame.size() : 1) {
                    std::this_thread::sleep_until(at + glove::lineTime(i, kBaud));
                    pty_.send(frame.mid(i, case_.burst ? frame.size() : 1));
                }
                lastByteAt_ = Clock::now();
            }
            done_ = true;
        });
    }
    void join() { thread_.join(); }
    // Valid once done().
    [[nodiscard]] bool done() const { return done_; }
    [[nodiscard]] const QByteArray& sent() const { return sent_; }
    [[nodiscard]] const std::vector<std::pair<qsizetype, qsizetype>>& starts() const {
        return starts_;
    }
    [[nodiscard]] Clock::time_point lastByteAt() const { return lastByteAt_; }

  private:
    const glove::test::Pty& pty_;
    StreamCase case_;
    QByteArray sent_;
    std::vector<std::pair<qsizetype, qsizetype>> starts_;  // place and length of each frame
    Clock::time_point lastByteAt_;
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

// Notes when " No Device Found" is shown.
class NoDeviceWatch final : public glove::GloveDisplay {
  public:
    void setText(const QString& text) override {
        if (text == glove::status::kNoDevice) noDevice(Clock::now());
    }
    void setThumbLeft(float) override {}
    void setThumbWidth(float) override {}
    void setFingerTop(int, float) override {}
    std::function<void(Clock::time_point)> noDevice;
};

StreamFigures runStream(const StreamCase& streamCase) {
    glove::test::Pty pty;
    QTemporaryDir dir;
    const std::string exchangePath = QFile::encodeName(dir.filePath("InputFile")).toStdString();
    StreamGlove glove(pty, streamCase);
    NoDeviceWatch display;
    StreamFigures f;

    qsizetype read = 0;
    std::vector<std::pair<qsizetype, qsizetype>> reads;  // place and length of each read
    const auto streaming = [&] {
        return !reads.empty() && !(glove.done() && read == glove.sent().size());
    };
    display.noDevice = [&](Clock::time_point at) {
        if (streaming()) ++f.noDeviceWhileStreaming;
        if (glove.done() && read == glove.sent().size() && f.noDeviceAfterMs < 0) {
            f.noDeviceAfterMs =
                std::chrono::duration<double, std::milli>(at - glove.lastByteAt()).count();
        }
    };
    const auto giveUpAt =
        Clock::now() + std::chrono::seconds(10) +
        std::chrono::milliseconds(static_cast<int>(
            streamCase.frames * 1000 / (streamCase.perSecond > 0 ? streamCase.perSecond : 48)));
    glove::GlovePipeline pipeline(display,
                                  {.device = pty.path(),
                                   .exchangePath = exchangePath,
                                   .aroundPoll =
                                       [&](glove::FramePoll& poll) {
                                           const bool during = streaming();
                                           poll.run();
                                           if (during && pipeline.dataF().isEmpty())
                                               ++f.emptyReadsWhileStreaming;
                                       },
                                   .aroundYield =
                                       [&](glove::PacedYield& pacedYield) {
                                           if (f.noDeviceAfterMs >= 0 || Clock::now() > giveUpAt) {
                                               pipeline.stop();
                                               return;
                                           }
                                           pacedYield();
                                       }});
    glove::MSComm& comm = pipeline.comm();
    comm.setPortOpen(true);  // the device is open before the glove starts
    comm.setPortOpen(false);
    QObject::connect(&comm, &glove::MSComm::charactersRead, [&](const QByteArray& characters) {
        reads.emplace_back(read, characters.size());
        read += characters.size();
    });
    glove.start();
    pipeline.connect();
    glove.join();

    f.framesSent = streamCase.frames;
    std::vector<bool> whole(glove.starts().size(), false);
    for (std::size_t k = 0; k < glove.starts().size(); ++k) {
        if (glove.starts()[k].second != glove::kFrameLength && f.damaged < 0) {
            f.damaged = static_cast<int>(k);
        }
    }
    for (const auto& [place, length] : reads) {
        const auto frame = std::find(glove.starts().begin(), glove.starts().end(),
                                     std::pair{place, qsizetype{glove::kFrameLength}});
        if (length == glove::kFrameLength && frame != glove.starts().end()) {
            whole[static_cast<std::size_t>(frame - glove.starts().begin())] = true;
        }
    }
    f.framesWhole = static_cast<int>(std::count(whole.begin(), whole.end(), true));
    if (f.damaged >= 0) {
        const auto again = std::find(whole.begin() + f.damaged + 1, whole.end(), true);
        f.lostAfterDamage = static_cast<int>(again - whole.begin()) - f.damaged - 1;
        f.settled = again != whole.end() && std::find(again, whole.end(), false) == whole.end();
    }
    return f;
}

glove_sim::Frame held(std::initializer_list<int> placesOf128) {
    glove_sim::Frame frame{128, 1, 150, 180, 120, 100, 60, 70, 80, 90};
    for (const int value : placesOf128) frame[glove_sim::valuePos(value)] = 128;
    return frame;
}

void streamFigures(double seconds) {
    using glove_sim::Scenario;
    const int full = std::max(1, static_cast<int>(seconds * 48));
    std::vector<StreamCase> cases;
    for (const auto& [name, scenario] : glove_sim::scenarioNames) {
        if (scenario == Scenario::Noise || scenario == Scenario::Silent ||
            scenario == Scenario::Unplug) {
            continue;  // not a stream of frames
        }
        cases.push_back({std::string(name), {.scenario = scenario}, 0, false, full});
    }
    cases.push_back({"--hold, 128 in value 2", {.hold = held({2})}, 0, false, full});
    cases.push_back({"--hold, 128 in value 6", {.hold = held({6})}, 0, false, full});
    cases.push_back(
        {"--hold, 128 in values 2 to 6", {.hold = held({2, 3, 4, 5, 6})}, 0, false, full});
    for (const double rate : {25.0, 10.0, 5.0}) {
        for (const bool burst : {false, true}) {
            cases.push_back({"random, --rate " + std::to_string(static_cast<int>(rate)) +
                                 (burst ? " --burst" : ""),
                             {.scenario = Scenario::Random},
                             rate,
                             burst,
                             std::max(2, static_cast<int>(seconds * rate))});
        }
    }
    std::printf(
        "\n| stream | frames sent | read whole | share | \" No Device Found\" while "
        "streaming | exchange file emptied while streaming | last frame to \" No Device "
        "Found\" (ms) |\n|---|---|---|---|---|---|---|\n");
    for (const StreamCase& streamCase : cases) {
        const StreamFigures f = runStream(streamCase);
        std::printf("| %s | %d | %d | %.1f %% | %d | %d | %.0f |\n", streamCase.name.c_str(),
                    f.framesSent, f.framesWhole, 100.0 * f.framesWhole / f.framesSent,
                    f.noDeviceWhileStreaming, f.emptyReadsWhileStreaming, f.noDeviceAfterMs);
        std::fflush(stdout);
    }

    // Joining mid-frame at every offset, and losing each byte of a frame in turn.
    constexpr int kFrames = 40;
    const bool quick = seconds < 5;
    std::printf(
        "\n| stream | joined mid-frame: frames lost, worst (offsets) | one byte lost: "
        "frames lost, worst (places) |\n|---|---|---|\n");
    for (const auto& [name, scenario] :
         {std::pair{"wave", Scenario::Wave}, std::pair{"rest", Scenario::Rest},
          std::pair{"random", Scenario::Random}}) {
        // A run whose reads never settle counts as all its frames lost.
        const auto lost = [](const StreamFigures& f) {
            return f.settled ? f.lostAfterDamage : kFrames;
        };
        int worstJoined = 0;
        int worstDropped = 0;
        int offsets = 0;
        int places = 0;
        for (int k = 1; k <= 9; k += quick ? 4 : 1, ++offsets) {
            worstJoined = std::max(
                worstJoined,
                lost(runStream({"",
                                {.scenario = scenario, .offset = static_cast<std::size_t>(k)},
                                0,
                                false,
                                kFrames})));
        }
        for (int k = 1; k <= 10; k += quick ? 4 : 1, ++places) {
            worstDropped = std::max(
                worstDropped,
                lost(runStream(
                    {"", {.scenario = scenario, .dropByte = 10 * 10 + k}, 0, false, kFrames})));
        }
        std::printf("| %s | %d (%d) | %d (%d) |\n", name, worstJoined, offsets, worstDropped,
                    places);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QCommandLineOption framesOption = bench::framesOption("stream");
    const QCommandLineOption silentOption(
        "silent-seconds", "How long to measure the silent line (default 60).", "s", "60");
    const QCommandLineOption streamOption(
        "stream-seconds", "How long to stream each kind of glove (default 10).", "s", "10");
    const QCommandLineOption onlyStreamsOption("only-streams", "Measure only the kinds of glove.");
    QCommandLineParser parser;
    bench::parseCommandLine(parser, app, "Glove Monitor benchmark",
                            {framesOption, silentOption, streamOption, onlyStreamsOption});
    const int frames = parser.value(framesOption).toInt();
    const double silent = parser.value(silentOption).toDouble();
    const double streamSeconds = parser.value(streamOption).toDouble();
    if (frames <= 0 || silent <= 0 || streamSeconds <= 0) {
        std::fputs(
            "glove_bench: --frames, --silent-seconds and --stream-seconds must be positive\n",
            stderr);
        return 2;
    }
    if (parser.isSet(onlyStreamsOption)) {
        streamFigures(streamSeconds);
        return 0;
    }

    const Figures paced = run(true, frames, silent);
    const Figures literal = run(false, frames, silent);
    constexpr struct {
        const char* name;
        const char* format;
        double Figures::*figure;
    } kRows[]{
        {"frames in the exchange file whole", "%.0f", &Figures::framesWhole},
        {"latency median (ms)", "%.2f", &Figures::latencyMedianMs},
        {"latency 99th percentile (ms)", "%.2f", &Figures::latencyP99Ms},
        {"passes per second, streaming", "%.0f", &Figures::passesPerSecondStreaming},
        {"passes per second, silent", "%.0f", &Figures::passesPerSecondSilent},
        {"CPU seconds per minute, streaming", "%.2f", &Figures::cpuSecondsPerMinuteStreaming},
        {"CPU seconds per minute, silent", "%.2f", &Figures::cpuSecondsPerMinuteSilent},
        {"display updates per second", "%.1f", &Figures::displayUpdatesPerSecond},
    };
    std::printf("| | paced yield | yield that returns at once |\n|---|---|---|\n");
    std::printf("| frames sent | %d | %d |\n", frames, frames);
    for (const auto& [name, format, figure] : kRows) {
        std::printf("| %s | ", name);
        std::printf(format, paced.*figure);
        std::printf(" | ");
        std::printf(format, literal.*figure);
        std::printf(" |\n");
    }
    std::printf("| peak resident memory (MiB) | %.1f (both runs, one process) | |\n",
                static_cast<double>(peakResidentKiB()) / 1024);
    streamFigures(streamSeconds);
    return paced.framesWhole > 0 ? 0 : 1;
}
