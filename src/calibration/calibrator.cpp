#include "calibration/calibrator.h"

#include <algorithm>

namespace glove::calibration {

void Calibrator::start(Clock::time_point now, Clock::duration time) {
    collector_ = {};
    running_ = true;
    start_ = now;
    time_ = time;
}

double Calibrator::progress(Clock::time_point now) const {
    if (time_ <= Clock::duration::zero()) return 1.0;
    const auto done = std::chrono::duration<double>(now - start_) / time_;
    return std::clamp(done, 0.0, 1.0);
}

Calibrator::Clock::duration Calibrator::left(Clock::time_point now) const {
    return std::max(Clock::duration::zero(), start_ + time_ - now);
}

std::optional<Ranges> Calibrator::finishIfDue(Clock::time_point now) {
    if (!running_ || now < start_ + time_) return std::nullopt;
    running_ = false;
    if (collector_.frames() == 0 || !calibratesAnything(collector_.ranges())) return std::nullopt;
    inForce_ = collector_.ranges();
    return inForce_;
}

void Calibrator::frameRead(std::span<const Frame> lines) noexcept {
    if (running_) collector_.add(lines.front());
}

}  // namespace glove::calibration
