#include "plot/plot_history.h"

namespace glove::plot {

void PlotHistory::add(Clock::time_point time, const Frame& frame) {
    samples_.push_back({time, frame});
    while (!samples_.empty() && samples_.front().time < time - kShownTime) samples_.pop_front();
}

double Lane::x(PlotHistory::Clock::time_point time, PlotHistory::Clock::time_point now) const {
    const double age = std::chrono::duration<double>(now - time) / kShownTime;
    return left + width * (1.0 - age);
}

Lane laneOf(int value, double width, double top, double height, double labelWidth) {
    const double laneHeight = height / calibration::kValueCount;
    return {.left = labelWidth,
            .top = top + laneHeight * (value - calibration::kFirstValue),
            .width = width - labelWidth,
            .height = laneHeight};
}

}  // namespace glove::plot
