#include "replay.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "record/recording_format.h"

namespace glove_sim {

namespace {

constexpr double nanosPerMicro = 1000;

// Frames due faster than the line carries them go out back to back, so a higher --speed
// changes nothing past that point: said once, rather than seeming to be ignored. A recording
// made at the line's own rate may be a little faster than it from the clock's jitter.
void warnIfTooFast(const ReplaySettings& settings, std::uint32_t baud, std::int64_t scaledSpan,
                   std::size_t frames, std::ostream& warnings) {
    constexpr double jitter = 1.05;
    if (frames < 2 || scaledSpan <= 0) return;
    const double lineNanos = static_cast<double>(glove::lineTime(frameLength, baud).count());
    const double asked = static_cast<double>(frames - 1) * 1e9 / static_cast<double>(scaledSpan);
    const double carried = 1e9 / lineNanos;
    if (asked <= carried * jitter) return;
    const double playedAt = settings.speed * carried / asked;
    warnings << "glove-sim: warning: --speed " << settings.speed << " asks for "
             << std::llround(asked) << " frames a second; the line carries "
             << std::llround(carried) << " at " << baud << " baud, so the recording plays at "
             << std::round(playedAt * 100) / 100 << " times its speed\n";
}

}  // namespace

ReplaySchedule::ReplaySchedule(const ReplaySettings& settings, std::uint32_t baud,
                               std::ostream& warnings)
    : loop_(settings.loop) {
    const glove::record::Recording recording = glove::record::readRecording(settings.path);
    if (recording.cutLine) {
        warnings << "glove-sim: " << settings.path << ':' << *recording.cutLine
                 << ": warning: the last row is cut short and is left out\n";
    }
    if (recording.rows.empty()) {
        throw glove::record::BadRecording(settings.path + ":2: no rows to play");
    }
    const std::int64_t first = recording.rows.front().elapsedMicros;
    const auto scaled = [&settings](std::int64_t micros) {
        return std::llround(static_cast<double>(micros) * nanosPerMicro / settings.speed);
    };
    for (const glove::record::Row& row : recording.rows) {
        Frame frame{};
        std::ranges::transform(row.values, frame.begin(),
                               [](int value) { return static_cast<std::uint8_t>(value); });
        frames_.push_back(frame);
        due_.push_back(scaled(row.elapsedMicros - first));
    }
    const std::int64_t span = due_.back();
    warnIfTooFast(settings, baud, span, size(), warnings);
    // A single row repeats as fast as the line carries it.
    period_ = size() > 1 ? span + span / static_cast<std::int64_t>(size() - 1)
                         : glove::lineTime(frameLength, baud).count();
}

std::int64_t ReplaySchedule::dueNanos(std::uint64_t n) const {
    return static_cast<std::int64_t>(n / size()) * period_ + due_[n % size()];
}

bool replay(const ReplaySchedule& schedule, const ReplayPacing& pacing, const ReplayLine& line) {
    // Longer than any scheduling hiccup: the line was full because nobody was reading.
    constexpr std::int64_t stallNanos = 100'000'000;
    std::int64_t start = line.now();
    const std::int64_t end =
        pacing.runNanos ? start + *pacing.runNanos : std::numeric_limits<std::int64_t>::max();
    std::int64_t lineFree = start;

    for (std::uint64_t n = 0; schedule.loops() || n < schedule.size(); ++n) {
        if (pacing.frameLimit && n >= *pacing.frameLimit) break;
        std::int64_t frameStart = std::max(start + schedule.dueNanos(n), lineFree);
        const std::span<const std::uint8_t> frame(schedule.frame(n));
        const std::size_t piece = pacing.burst ? frame.size() : 1;
        for (std::size_t sent = 0; sent < frame.size(); sent += piece) {
            const std::int64_t slot = frameStart + glove::lineTime(sent, pacing.baud).count();
            if (slot >= end) return line.sleepUntil(end);
            if (!line.sleepUntil(slot)) return false;
            if (sent == 0 && line.readerBehind()) break;
            if (!line.write(frame.subspan(sent, piece))) return false;
            // After a stall carry on from now, rather than rushing out everything missed.
            const std::int64_t late = line.now() - slot;
            if (late > stallNanos) {
                start += late;
                frameStart += late;
            }
        }
        lineFree = frameStart + glove::lineTime(frame.size(), pacing.baud).count();
    }
    // The last frame's line time passes before the replay counts as done.
    return line.sleepUntil(std::min(lineFree, end));
}

}  // namespace glove_sim
