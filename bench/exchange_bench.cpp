// Measures what other programs see of the exchange file while the glove streams: reads that
// find it empty, missing or half-written, by a reader process at 60 reads a second and by one
// reading flat out; how long one rewrite takes; and the frames that reach the file whole.
// It runs once on a quiet disk and once while another process writes a gibibyte at a time
// with fsync to the same file system. The glove is the simulator, streaming counted frames.
#include <fcntl.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "exchange/posix_files.h"
#include "frame_maker.h"
#include "monitor/glove_display.h"
#include "monitor/glove_pipeline.h"

namespace {

using bench::counterOf;
using Clock = std::chrono::steady_clock;
using glove::Frame;
using glove::kFrameLength;
// The glove's pace: as many frames a second as its line carries.
constexpr auto kFramesPerSecond =
    static_cast<int>(std::chrono::seconds(1) / glove::lineTime(kFrameLength, glove::kGloveBaud));
constexpr int kSlowReaderRate = 60;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

// The first line's ten values, if the content is nothing but whole lines of ten numbers.
std::optional<Frame> wholeContent(const QByteArray& content) {
    QList<QByteArray> lines = content.split('\n');
    if (lines.size() < 2 || !lines.takeLast().isEmpty()) return std::nullopt;  // ends CR LF
    std::optional<Frame> first;
    for (const QByteArray& line : lines) {
        if (!line.endsWith('\r')) return std::nullopt;
        const QList<QByteArray> items = line.chopped(1).split(',');
        if (items.size() != kFrameLength) return std::nullopt;
        Frame values{};
        for (int i = 0; i < kFrameLength; ++i) {
            bool ok = false;
            values[i] = items[i].toInt(&ok);
            if (!ok || values[i] < 0 || values[i] > 255) return std::nullopt;
        }
        if (!first) first = values;
    }
    return first;
}

// A reader as another program would be: open the path, read it, close it, `rate` times a
// second (0: as fast as it can) until SIGTERM. Prints its counts as one line.
int readerMain(const QByteArray& path, int rate) {
    std::signal(SIGTERM, requestStop);
    long reads = 0, whole = 0, empty = 0, partial = 0, missing = 0;
    std::set<std::uint32_t> frames;
    std::array<char, 4096> buffer{};
    const auto begin = Clock::now();
    while (!stopRequested) {
        if (rate > 0)
            std::this_thread::sleep_until(begin +
                                          std::chrono::nanoseconds(1'000'000'000LL * reads / rate));
        ++reads;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ++missing;
            continue;
        }
        QByteArray content;
        for (ssize_t n = 0; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
            content.append(buffer.data(), n);
        }
        ::close(fd);
        if (content.isEmpty()) {
            ++empty;
        } else if (const auto values = wholeContent(content)) {
            ++whole;
            frames.insert(counterOf(*values));
        } else {
            ++partial;
        }
    }
    std::printf("%ld %ld %ld %ld %ld %zu\n", reads, whole, empty, partial, missing, frames.size());
    return 0;
}

// Writes a gibibyte to a file in `dir`, makes it durable with fsync, and starts over, until
// SIGTERM. Prints the mebibytes written.
int diskWriterMain(const QByteArray& dir) {
    std::signal(SIGTERM, requestStop);
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    constexpr std::size_t kChunksPerRound = 1024;
    const QByteArray path = dir + "/disk-load";
    std::vector<char> chunk(kChunk);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7919 >> 3);
    long written = 0;
    while (!stopRequested) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return 1;
        for (std::size_t i = 0; i < kChunksPerRound && !stopRequested; ++i) {
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                break;
            }
            ++written;
        }
        if (!stopRequested) ::fsync(fd);
        ::close(fd);
    }
    ::unlink(path.constData());
    std::printf("%ld\n", written);
    return 0;
}

// The real files, with each rewrite of the exchange file timed from open to close.
class TimedFiles final : public glove::Files {
  public:
    void openForOutput(int number, const std::string& path) override {
        const auto start = Clock::now();
        files_.openForOutput(number, path);
        if (number == glove::exchange::kWriterFileNumber) started_ = start;
    }
    void openForInput(int number, const std::string& path) override {
        files_.openForInput(number, path);
    }
    void writeLine(int number, std::string_view line) override { files_.writeLine(number, line); }
    double readNumber(int number) override { return files_.readNumber(number); }
    void close(int number) override {
        files_.close(number);
        if (number == glove::exchange::kWriterFileNumber && started_) {
            rewriteMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - *started_).count());
            started_.reset();
        }
    }
    void closeAll() override {
        started_.reset();
        files_.closeAll();
    }
    void remove(const std::string& path) override { files_.remove(path); }

    std::vector<double> rewriteMs;

  private:
    glove::PosixFiles files_;
    std::optional<Clock::time_point> started_;
};

struct ReaderCounts {
    long reads = 0, whole = 0, empty = 0, partial = 0, missing = 0, frames = 0;
};

struct Figures {
    int framesSent = 0;
    int framesWhole = 0;
    int emptyPolls = 0;       // while the readers read: each one leaves an empty file, as meant
    double emptySeconds = 0;  // until a frame was written again
    ReaderCounts slowReader;
    ReaderCounts fastReader;
    std::vector<double> rewriteMs;  // sorted
    double loadMiBPerSecond = 0;
    double seconds = 0;
};

QProcess* startSelf(const QStringList& arguments) {
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(), arguments);
    process->waitForStarted();
    return process;
}

QByteArray stopAndRead(QProcess* process) {
    process->terminate();
    process->waitForFinished(30000);
    const QByteArray out = process->readAllStandardOutput();
    delete process;
    return out;
}

ReaderCounts countsOf(const QByteArray& line) {
    const QList<QByteArray> f = line.trimmed().split(' ');
    if (f.size() != 6) return {};
    return {f[0].toLong(), f[1].toLong(), f[2].toLong(),
            f[3].toLong(), f[4].toLong(), f[5].toLong()};
}

Figures run(bool loaded, int frames) {
    QTemporaryDir dir;  // under /tmp, where the exchange file lives
    const QString exchangePath = dir.filePath("InputFile");
    const std::string path = QFile::encodeName(exchangePath).toStdString();
    Figures f;
    f.framesSent = frames;

    QProcess* diskWriter = nullptr;
    QElapsedTimer loadClock;
    if (loaded) {
        diskWriter = startSelf({"--disk-writer", dir.path()});
        loadClock.start();
        QThread::sleep(2);  // let the dirty pages and the writeback build up
    }

    // The expected frames: the simulator's, made again with the same settings.
    glove_sim::FrameMaker maker({.scenario = glove_sim::Scenario::Wave, .count = true});
    std::vector<Frame> sent(static_cast<std::size_t>(frames));
    for (Frame& frame : sent) {
        const glove_sim::Chunk chunk = maker.next();
        std::copy_n(chunk.bytes.begin(), kFrameLength, frame.begin());
    }
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(GLOVE_SIM),
              {"--scenario", "wave", "--count", "--frames", QString::number(frames), "--link",
               dir.filePath("glove")});
    for (int i = 0; i < 200 && !QFile::exists(dir.filePath("glove")); ++i) QThread::msleep(10);

    TimedFiles files;
    bench::NoDisplay display;
    QProcess* slowReader = nullptr;
    QProcess* fastReader = nullptr;
    std::set<std::uint32_t> whole;
    bool streaming = false;  // the file holds a whole frame, and not yet the last one
    std::optional<Clock::time_point> emptySince;
    QElapsedTimer clock;
    glove::GlovePipeline pipeline(
        display, {.device = dir.filePath("glove"),
                  .exchangePath = path,
                  .aroundPoll =
                      [&](glove::FramePoll& poll) {
                          poll.run();
                          const QByteArray& dataF = pipeline.dataF();
                          // A read that finds the line silent empties the file, as it is meant to;
                          // how long it stays empty tells those reads from any the rewrite causes.
                          if (slowReader && streaming && dataF.isEmpty()) {
                              ++f.emptyPolls;
                              if (!emptySince) emptySince = Clock::now();
                          }
                          if (dataF.size() != kFrameLength) return;
                          if (emptySince) {
                              f.emptySeconds +=
                                  std::chrono::duration<double>(Clock::now() - *emptySince).count();
                              emptySince.reset();
                          }
                          QFile file(exchangePath);
                          if (!file.open(QIODevice::ReadOnly)) return;
                          const auto values = wholeContent(file.readAll());
                          if (!values) return;
                          const std::uint32_t counter = counterOf(*values);
                          if (counter < sent.size() && sent[counter] == *values)
                              whole.insert(counter);
                          streaming = counter + 1 < sent.size();
                      },
                  .aroundYield =
                      [&](glove::PacedYield& pacedYield) {
                          pacedYield();
                          // The readers read while frames stream: from the first whole frame in the
                          // file to the last, not the silence before or after.
                          if (!slowReader && streaming) {
                              slowReader = startSelf({"--reader", exchangePath, "--rate",
                                                      QString::number(kSlowReaderRate)});
                              fastReader = startSelf({"--reader", exchangePath, "--rate", "0"});
                              clock.start();
                          }
                          if ((slowReader && !streaming) || sim.state() == QProcess::NotRunning) {
                              pipeline.stop();
                          }
                      },
                  .files = &files});
    pipeline.connect();
    sim.kill();
    sim.waitForFinished();

    if (slowReader) f.slowReader = countsOf(stopAndRead(slowReader));
    if (fastReader) f.fastReader = countsOf(stopAndRead(fastReader));
    f.seconds = static_cast<double>(clock.elapsed()) / 1000;
    if (diskWriter) {
        const double loadSeconds = static_cast<double>(loadClock.elapsed()) / 1000;
        f.loadMiBPerSecond = stopAndRead(diskWriter).trimmed().toDouble() / loadSeconds;
    }
    f.framesWhole = static_cast<int>(whole.size());
    f.rewriteMs = files.rewriteMs;
    std::sort(f.rewriteMs.begin(), f.rewriteMs.end());
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QCommandLineOption secondsOption("seconds", "Streaming time per run (default 60).", "s",
                                           "60");
    const QCommandLineOption readerOption("reader", "Internal: read this path.", "path");
    const QCommandLineOption rateOption("rate", "Internal: reads a second, 0 flat out.", "n");
    const QCommandLineOption writerOption("disk-writer", "Internal: load this directory.", "dir");
    QCommandLineParser parser;
    bench::parseCommandLine(parser, app, "What readers see of the exchange file",
                            {secondsOption, readerOption, rateOption, writerOption});
    if (parser.isSet(readerOption)) {
        return readerMain(QFile::encodeName(parser.value(readerOption)),
                          parser.value(rateOption).toInt());
    }
    if (parser.isSet(writerOption)) {
        return diskWriterMain(QFile::encodeName(parser.value(writerOption)));
    }
    const int seconds = parser.value(secondsOption).toInt();
    if (seconds <= 0) {
        std::fputs("exchange_bench: --seconds must be positive\n", stderr);
        return 2;
    }

    const std::array<Figures, 2> runs{run(false, seconds * kFramesPerSecond),
                                      run(true, seconds * kFramesPerSecond)};
    std::printf("| | quiet disk | 1 GiB fsync writer |\n|---|---|---|\n");
    const auto row = [&](const char* name, auto value) {
        std::printf("| %s | %s | %s |\n", name, value(runs[0]).c_str(), value(runs[1]).c_str());
    };
    const auto text = [](const char* format, auto... args) {
        std::array<char, 128> out{};
        std::snprintf(out.data(), out.size(), format, args...);
        return std::string(out.data());
    };
    row("frames sent", [&](const Figures& f) { return text("%d", f.framesSent); });
    row("frames in the exchange file whole",
        [&](const Figures& f) { return text("%d", f.framesWhole); });
    for (const auto& [name, reader] : {std::pair{"reader at 60/s", &Figures::slowReader},
                                       std::pair{"reader flat out", &Figures::fastReader}}) {
        const std::string title = name;
        row((title + ": reads (per second)").c_str(), [&](const Figures& f) {
            const ReaderCounts& r = f.*reader;
            return text("%ld (%.0f)", r.reads, static_cast<double>(r.reads) / f.seconds);
        });
        row((title + ": empty / partial / missing").c_str(), [&](const Figures& f) {
            const ReaderCounts& r = f.*reader;
            return text("%ld / %ld / %ld", r.empty, r.partial, r.missing);
        });
        row((title + ": distinct frames read whole").c_str(),
            [&](const Figures& f) { return text("%ld", (f.*reader).frames); });
    }
    row("polls that found the line silent while streaming",
        [&](const Figures& f) { return text("%d", f.emptyPolls); });
    row("time the file was empty after them (% of the run)", [&](const Figures& f) {
        return text("%.2f s (%.2f %%)", f.emptySeconds, 100 * f.emptySeconds / f.seconds);
    });
    row("empty reads by the readers (% of their reads)", [&](const Figures& f) {
        const auto share = [](const ReaderCounts& r) {
            return r.reads > 0 ? 100.0 * static_cast<double>(r.empty) / r.reads : 0.0;
        };
        return text("%.2f %% / %.2f %%", share(f.slowReader), share(f.fastReader));
    });
    row("rewrites timed", [&](const Figures& f) { return text("%zu", f.rewriteMs.size()); });
    row("rewrite p50 / p99 / max (ms)", [&](const Figures& f) {
        return text("%.3f / %.3f / %.2f", bench::percentile(f.rewriteMs, 50),
                    bench::percentile(f.rewriteMs, 99),
                    f.rewriteMs.empty() ? 0 : f.rewriteMs.back());
    });
    row("disk writer's rate (MiB/s)", [&](const Figures& f) {
        return f.loadMiBPerSecond > 0 ? text("%.0f", f.loadMiBPerSecond) : std::string("–");
    });
    const bool clean = std::ranges::all_of(runs, [](const Figures& f) {
        return f.slowReader.empty + f.slowReader.partial + f.fastReader.empty +
                   f.fastReader.partial ==
               0;
    });
    return clean ? 0 : 1;
}
