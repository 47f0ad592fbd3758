#pragma once

#include <chrono>
#include <deque>

#include "calibration/ranges.h"
#include "common/glove_frame.h"

namespace glove::plot {

inline constexpr std::chrono::seconds kShownTime{10};

// The frames of the last kShownTime, oldest first, and where each value of them goes on a
// plot: the drawing's arithmetic, without a screen.
class PlotHistory {
  public:
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point time;
        Frame frame;
    };

    // Forgets what is older than kShownTime before `time`.
    void add(Clock::time_point time, const Frame& frame);
    [[nodiscard]] const std::deque<Sample>& samples() const { return samples_; }

  private:
    std::deque<Sample> samples_;
};

// A lane of the plot, in pixels: one value's trace, 0 at its bottom and 255 at its top.
struct Lane {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    // Where `value` (0..255) is drawn.
    [[nodiscard]] double y(double value) const { return top + height * (1.0 - value / 255.0); }
    // Where a sample taken at `time` is drawn when the newest edge is `now`: the right edge is
    // now, the left edge kShownTime ago.
    [[nodiscard]] double x(PlotHistory::Clock::time_point time,
                           PlotHistory::Clock::time_point now) const;
};

// The lane of value `value` (2..10) when the traces share `height` pixels from `top`, one
// lane each, top to bottom, right of a label column `labelWidth` wide.
Lane laneOf(int value, double width, double top, double height, double labelWidth);

}  // namespace glove::plot
