// The recording: does it cost frames, what does one row cost, and how faithfully does
// glove-sim --replay keep the recorded time? Runs the real serial control, poll, exchange
// file, paced yield and Connect loop with a recorder on the poll's feed: first on counted
// frames at the glove's pace, then on the real glove-sim replaying that recording.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "acquisition/frame_feed.h"
#include "bench_support.h"
#include "monitor/glove_display.h"
#include "monitor/glove_pipeline.h"
#include "record/recorder.h"
#include "record/recording_format.h"

namespace {

using bench::Clock;
using bench::percentile;
using glove::Frame;

// Times the recorder's share of each frame.
class TimedFeed final : public glove::FrameFeed {
  public:
    explicit TimedFeed(glove::FrameFeed& next) : next_(next) {}
    void frameRead(std::span<const Frame> lines) noexcept override {
        const auto start = Clock::now();
        next_.frameRead(lines);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::vector<double> micros;

  private:
    glove::FrameFeed& next_;
};

struct Run {
    std::vector<Frame> exchangeLines;  // the first line after each poll that read ten bytes
    glove::record::Recording recording;
    std::vector<double> recorderMicros;
};

// The monitor's loop on `device` with a recorder, from `begin` until `done` says so after a
// pass.
Run monitor(const QString& device, const QTemporaryDir& dir, const QString& name,
            const std::function<void()>& begin, const std::function<bool()>& done) {
    const std::string exchangePath = QFile::encodeName(dir.filePath("InputFile")).toStdString();
    const std::string recordingPath = QFile::encodeName(dir.filePath(name)).toStdString();
    bench::NoDisplay display;
    Run result;
    {
        glove::record::Recorder recorder(
            glove::record::RecordingFile::create(recordingPath, std::time(nullptr)), Clock::now());
        TimedFeed timed(recorder);
        glove::GlovePipeline pipeline(
            display, {.device = device,
                      .exchangePath = exchangePath,
                      .feed = &timed,
                      .aroundPoll =
                          [&](glove::FramePoll& poll) {
                              poll.run();
                              if (pipeline.dataF().size() != glove::kFrameLength) return;
                              if (const auto values = bench::firstExchangeLine(exchangePath)) {
                                  result.exchangeLines.push_back(*values);
                              }
                          },
                      .aroundYield =
                          [&](glove::PacedYield& pacedYield) {
                              pacedYield();
                              if (done()) pipeline.stop();
                          }});
        begin();
        pipeline.connect();
        result.recorderMicros = std::move(timed.micros);
    }
    result.recording = glove::record::readRecording(recordingPath);
    return result;
}

// Each counted frame's row, by its counter; frames not sent whole are left out.
std::map<std::uint32_t, glove::record::Row> byCounter(const glove::record::Recording& r,
                                                      const bench::Glove& glove, int frames) {
    std::map<std::uint32_t, glove::record::Row> rows;
    for (const glove::record::Row& row : r.rows) {
        const std::uint32_t counter = bench::counterOf(row.values);
        if (counter < static_cast<std::uint32_t>(frames) && row.values == glove.sent(counter)) {
            rows.emplace(counter, row);
        }
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QCommandLineOption framesOption = bench::framesOption("record");
    const QCommandLineOption speedOption("speed", "Replay speed (default 1).", "x", "1");
    QCommandLineParser parser;
    bench::parseCommandLine(parser, app, "Glove Monitor recording benchmark",
                            {framesOption, speedOption});
    const int frames = parser.value(framesOption).toInt();
    const double speed = parser.value(speedOption).toDouble();
    if (frames <= 1 || speed <= 0) {
        std::fputs("record_bench: --frames must be over 1 and --speed positive\n", stderr);
        return 2;
    }
    QTemporaryDir dir;

    // 1. Counted frames at the glove's pace, recorded.
    glove::test::Pty pty;
    bench::Glove glove(pty, frames);
    bool lastPass = false;
    const Run first = monitor(
        pty.path(), dir, "first.csv", [&] { glove.start(); },
        [&] {
            // One more pass after the glove is done lets its last frame through.
            if (lastPass) return true;
            lastPass = glove.done();
            return false;
        });
    glove.join();

    std::set<std::uint32_t> inExchange;
    for (const Frame& line : first.exchangeLines) {
        const std::uint32_t counter = bench::counterOf(line);
        if (counter < static_cast<std::uint32_t>(frames) && line == glove.sent(counter)) {
            inExchange.insert(counter);
        }
    }
    const auto recorded = byCounter(first.recording, glove, frames);
    int inBoth = 0;
    for (const std::uint32_t counter : inExchange) inBoth += recorded.contains(counter) ? 1 : 0;

    // 2. The real glove-sim replays that recording into a second monitor.
    QProcess sim;
    const QString link = dir.filePath("glove");
    sim.start(QStringLiteral(GLOVE_SIM_PATH), {"--replay", dir.filePath("first.csv"), "--speed",
                                               QString::number(speed), "--link", link});
    if (!sim.waitForReadyRead(5000)) {
        std::fputs("record_bench: glove-sim did not start\n", stderr);
        return 1;
    }
    const Run second = monitor(
        link, dir, "second.csv", [] {}, [&] { return sim.state() == QProcess::NotRunning; });
    const auto replayed = byCounter(second.recording, glove, frames);

    // Consecutive frames in both recordings: their gaps, recorded and replayed.
    std::vector<double> recordedGaps;
    std::vector<double> replayedGaps;
    std::vector<double> deviations;
    for (const auto& [counter, row] : replayed) {
        const auto next = replayed.find(counter + 1);
        if (next == replayed.end() || !recorded.contains(counter) ||
            !recorded.contains(counter + 1)) {
            continue;
        }
        const double original = static_cast<double>(recorded.at(counter + 1).elapsedMicros -
                                                    recorded.at(counter).elapsedMicros) /
                                1000 / speed;
        const double again =
            static_cast<double>(next->second.elapsedMicros - row.elapsedMicros) / 1000;
        recordedGaps.push_back(original);
        replayedGaps.push_back(again);
        deviations.push_back(std::abs(again - original));
    }

    std::printf("| recording | figure |\n|---|---|\n");
    std::printf("| counted frames sent | %d |\n", frames);
    std::printf("| whole in the exchange file | %zu |\n", inExchange.size());
    std::printf("| whole in the recording | %zu |\n", recorded.size());
    std::printf("| in the exchange file and the recording | %d |\n", inBoth);
    std::printf("| recorder's time per frame, p50 / p99 (µs) | %.1f / %.1f |\n",
                percentile(first.recorderMicros, 50), percentile(first.recorderMicros, 99));
    std::printf("\n| replay at speed %g | p50 (ms) | p99 (ms) |\n|---|---|---|\n", speed);
    std::printf("| gap between consecutive frames, recorded (÷ speed) | %.2f | %.2f |\n",
                percentile(recordedGaps, 50), percentile(recordedGaps, 99));
    std::printf("| gap between consecutive frames, replayed | %.2f | %.2f |\n",
                percentile(replayedGaps, 50), percentile(replayedGaps, 99));
    std::printf("| difference, replayed less recorded (absolute) | %.2f | %.2f |\n",
                percentile(deviations, 50), percentile(deviations, 99));
    std::printf("\nRecorded frames replayed and recorded again: %zu of %zu; gaps compared: %zu\n",
                replayed.size(), recorded.size(), deviations.size());
    return inBoth == static_cast<int>(inExchange.size()) && !deviations.empty() ? 0 : 1;
}
