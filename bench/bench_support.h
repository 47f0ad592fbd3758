#pragma once

// What the benchmarks share: a glove that streams counted frames into a pseudo-terminal at
// the line's pace, and the calling thread's CPU time.
#include <sys/resource.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "common/glove_frame.h"
#include "frame_maker.h"
#include "support/pty.h"

namespace bench {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kBaud = glove::kGloveBaud;

// Seconds of CPU the calling thread has used.
inline double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Streams counted frames into the pseudo-terminal at the line's pace, remembering when the
// last byte of each frame was written.
class Glove {
  public:
    Glove(const glove::test::Pty& pty, int frames) : pty_(pty), sent_(frames), sentAt_(frames) {}

    void start() {
        thread_ = std::thread([this] {
            glove_sim::FrameMaker maker({.scenario = glove_sim::Scenario::Wave, .count = true});
            const auto begin = Clock::now();
            std::uint64_t byte = 0;
            for (std::size_t frame = 0; frame < sentAt_.size(); ++frame) {
                const glove_sim::Chunk chunk = maker.next();
                std::copy_n(chunk.bytes.begin(), sent_[frame].size(), sent_[frame].begin());
                for (const std::uint8_t b : chunk.bytes) {
                    std::this_thread::sleep_until(begin + glove::lineTime(++byte, kBaud));
                    pty_.send(QByteArray(1, static_cast<char>(b)));
                }
                sentAt_[frame] = Clock::now();
            }
            done_ = true;
        });
    }
    void join() { thread_.join(); }
    [[nodiscard]] bool done() const { return done_; }
    [[nodiscard]] Clock::time_point sentAt(std::size_t frame) const { return sentAt_.at(frame); }
    [[nodiscard]] const glove::Frame& sent(std::size_t frame) const { return sent_.at(frame); }

  private:
    const glove::test::Pty& pty_;
    std::vector<glove::Frame> sent_;
    std::vector<Clock::time_point> sentAt_;
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

// The first line of the exchange file as the ten values it holds.
inline std::optional<glove::Frame> firstExchangeLine(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QList<QByteArray> texts = file.readLine().trimmed().split(',');
    if (texts.size() != glove::kFrameLength) return std::nullopt;
    glove::Frame values{};
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = texts[i].toInt();
    return values;
}

}  // namespace bench
