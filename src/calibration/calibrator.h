#pragma once

#include <chrono>
#include <optional>
#include <span>

#include "acquisition/frame_feed.h"
#include "calibration/ranges.h"

namespace glove::calibration {

inline constexpr std::chrono::seconds kDefaultTime{10};
inline constexpr std::chrono::seconds kShortestTime{3};
inline constexpr std::chrono::seconds kLongestTime{600};

// The calibration in force, and a calibration being taken: while one runs, every frame the
// poll reads whole widens the ranges, for a set time. Times are passed in, so that a test
// sets them; the program passes the steady clock's.
class Calibrator final : public FrameFeed {
  public:
    using Clock = std::chrono::steady_clock;

    [[nodiscard]] const std::optional<Ranges>& inForce() const { return inForce_; }
    void setInForce(std::optional<Ranges> ranges) { inForce_ = ranges; }

    // Starts over: frames from now on, for `time`. The calibration in force stays until the
    // new one is done.
    void start(Clock::time_point now, Clock::duration time);
    void cancel() { running_ = false; }
    [[nodiscard]] bool running() const { return running_; }
    // 0 at the start, 1 at the end.
    [[nodiscard]] double progress(Clock::time_point now) const;
    [[nodiscard]] Clock::duration left(Clock::time_point now) const;
    // Once the time is up: the ranges, now in force, or nullopt when no frame came or no
    // value moved enough (the calibration in force stays). Before that, or when none runs:
    // nullopt.
    std::optional<Ranges> finishIfDue(Clock::time_point now);
    [[nodiscard]] long framesSeen() const { return collector_.frames(); }

    void frameRead(std::span<const Frame> lines) noexcept override;

  private:
    std::optional<Ranges> inForce_;
    RangeCollector collector_;
    bool running_ = false;
    Clock::time_point start_{};
    Clock::duration time_{};
};

}  // namespace glove::calibration
