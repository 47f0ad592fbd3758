#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "frame_maker.h"

namespace glove_sim {

inline constexpr double slowestReplay = 0.1;
inline constexpr double fastestReplay = 100;

struct ReplaySettings {
    std::string path;
    double speed = 1;
    bool loop = false;
};

// When each frame of a recording goes out: at its elapsed_ms less the first row's, divided
// by the speed. Frames are numbered on across loops.
class ReplaySchedule {
  public:
    // Reads and checks the recording: glove::record::BadRecording if it is not one, or if it
    // holds no row. A cut last row is left out, with a warning to `warnings`.
    ReplaySchedule(const ReplaySettings& settings, std::uint32_t baud, std::ostream& warnings);

    [[nodiscard]] std::size_t size() const { return frames_.size(); }
    [[nodiscard]] bool loops() const { return loop_; }
    [[nodiscard]] const Frame& frame(std::uint64_t n) const { return frames_[n % size()]; }
    // Nanoseconds from the start of the replay to frame n's turn.
    [[nodiscard]] std::int64_t dueNanos(std::uint64_t n) const;

  private:
    std::vector<Frame> frames_;
    std::vector<std::int64_t> due_;
    // From one loop's first frame to the next's: the recording's span and one mean gap.
    std::int64_t period_ = 0;
    bool loop_ = false;
};

// The clock and line the replay runs on; each call returns false once a stop is requested.
struct ReplayLine {
    std::function<std::int64_t()> now;  // monotonic nanoseconds
    std::function<bool(std::int64_t)> sleepUntil;
    std::function<bool(std::span<const std::uint8_t>)> write;
    // Whether the reader is too far behind to take another frame now; that frame is dropped.
    std::function<bool()> readerBehind = [] { return false; };
};

struct ReplayPacing {
    std::uint32_t baud = glove::kGloveBaud;
    bool burst = false;
    std::optional<std::uint64_t> frameLimit;
    std::optional<std::int64_t> runNanos;
};

// Sends the frames on their schedule, each byte in its slot at the baud rate (or each frame
// at once with burst). A frame whose turn comes while the line is still busy goes out as
// soon as the line is free: late, not dropped; only a frame whose turn finds the reader
// behind is dropped, its line time passing idle. False if stopped.
bool replay(const ReplaySchedule& schedule, const ReplayPacing& pacing, const ReplayLine& line);

}  // namespace glove_sim
