// Measures the monitor at the glove's full rate and on a silent line: frames read whole,
// latency to the exchange file, passes, CPU, display updates and memory. It runs the same
// load with the paced yield and with a yield that returns at once, side by side.
#include <sys/resource.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "acquisition/frame_poll.h"
#include "acquisition/mscomm.h"
#include "bench_support.h"
#include "exchange/posix_files.h"
#include "monitor/connect_loop.h"
#include "monitor/glove_display.h"
#include "monitor/paced_yield.h"
#include "window/glove_window.h"
#include "window/hand_figure.h"

namespace {

using bench::Clock;
using bench::counterOf;
using bench::Glove;
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
    int framesSent = 0;
    int framesWhole = 0;
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
    glove::MSComm comm(pty.path());
    glove::PosixFiles files;
    QByteArray dataF;
    glove::FramePoll framePoll(comm, files, dataF, exchangePath);
    glove::PacedYield pacedYield(comm);

    Glove glove(pty, frames);
    std::vector<std::pair<glove::exchange::Frame, Clock::time_point>> lines;
    long passes = 0;
    bool streaming = true;
    QElapsedTimer phase;
    double cpuAtPhase = 0;
    long passesAtPhase = 0;
    Figures f;
    f.framesSent = frames;

    std::optional<glove::ConnectLoop> loop;
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
    loop.emplace(glove::ConnectLoop::Parts{
        .comm = comm,
        .files = files,
        .display = display,
        .dataF = dataF,
        .poll =
            [&] {
                framePoll.run();
                if (dataF.size() != glove::exchange::kFrameLength) return;
                if (const auto values = bench::firstExchangeLine(exchangePath)) {
                    lines.emplace_back(*values, Clock::now());
                }
            },
        .yield =
            [&] {
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
                    loop->stop();
                }
            },
        .interruptYield = [&] { pacedYield.interrupt(); },
        .exchangePath = exchangePath});

    phase.start();
    cpuAtPhase = threadCpuSeconds();
    glove.start();
    loop->run();
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
    f.framesWhole = static_cast<int>(whole.size());
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        f.latencyMedianMs = latencies[latencies.size() / 2];
        f.latencyP99Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Glove Monitor benchmark");
    parser.addHelpOption();
    const QCommandLineOption framesOption("frames", "Frames to stream (default 2880, a minute).",
                                          "n", "2880");
    const QCommandLineOption silentOption(
        "silent-seconds", "How long to measure the silent line (default 60).", "s", "60");
    parser.addOptions({framesOption, silentOption});
    parser.process(app);
    const int frames = parser.value(framesOption).toInt();
    const double silent = parser.value(silentOption).toDouble();
    if (frames <= 0 || silent <= 0) {
        std::fputs("glove_bench: --frames and --silent-seconds must be positive\n", stderr);
        return 2;
    }

    const Figures pacedFigures = run(true, frames, silent);
    const Figures literalFigures = run(false, frames, silent);

    const auto row = [](const char* name, const char* format, double paced, double literal) {
        std::printf("| %s | ", name);
        std::printf(format, paced);
        std::printf(" | ");
        std::printf(format, literal);
        std::printf(" |\n");
    };
    std::printf("| | paced yield | yield that returns at once |\n|---|---|---|\n");
    row("frames sent", "%.0f", pacedFigures.framesSent, literalFigures.framesSent);
    row("frames in the exchange file whole", "%.0f", pacedFigures.framesWhole,
        literalFigures.framesWhole);
    row("latency median (ms)", "%.2f", pacedFigures.latencyMedianMs,
        literalFigures.latencyMedianMs);
    row("latency 99th percentile (ms)", "%.2f", pacedFigures.latencyP99Ms,
        literalFigures.latencyP99Ms);
    row("passes per second, streaming", "%.0f", pacedFigures.passesPerSecondStreaming,
        literalFigures.passesPerSecondStreaming);
    row("passes per second, silent", "%.0f", pacedFigures.passesPerSecondSilent,
        literalFigures.passesPerSecondSilent);
    row("CPU seconds per minute, streaming", "%.2f", pacedFigures.cpuSecondsPerMinuteStreaming,
        literalFigures.cpuSecondsPerMinuteStreaming);
    row("CPU seconds per minute, silent", "%.2f", pacedFigures.cpuSecondsPerMinuteSilent,
        literalFigures.cpuSecondsPerMinuteSilent);
    row("display updates per second", "%.1f", pacedFigures.displayUpdatesPerSecond,
        literalFigures.displayUpdatesPerSecond);
    std::printf("| peak resident memory (MiB) | %.1f (both runs, one process) | |\n",
                static_cast<double>(peakResidentKiB()) / 1024);
    const bool whole = pacedFigures.framesWhole > 0;
    return whole ? 0 : 1;
}
