#include "posture/posture_watch.h"

#include <algorithm>

namespace glove::posture {

void PostureWatch::setPostures(PostureSet postures) {
    const Posture* before = postures_.find(held());
    const bool wasLearnt = before != nullptr;
    const Values heldValues = wasLearnt ? before->values : Values{};
    postures_ = std::move(postures);
    compared_ = postures_.onCalibration(comparedOn_);
    if (held().empty() || postures_.find(held()) != nullptr) return;
    ++changes_;
    // Renamed: the same values under another name.
    const auto renamed = std::ranges::find(postures_.postures(), heldValues, &Posture::values);
    if (wasLearnt && renamed != postures_.postures().end()) {
        debouncer_.hold(renamed->name);
    } else {
        debouncer_.reset();
    }
}

void PostureWatch::startLearning(Clock::time_point now, Clock::duration time) {
    learnt_.clear();
    // Room for all of it now, so that keeping a frame's values never allocates in the poll.
    learnt_.reserve(kMostLearningFrames);
    learning_ = true;
    learningEnd_ = now + time;
}

PostureWatch::Clock::duration PostureWatch::left(Clock::time_point now) const {
    return std::max(Clock::duration::zero(), learningEnd_ - now);
}

std::optional<Learnt> PostureWatch::finishLearningIfDue(Clock::time_point now,
                                                        std::string_view name) {
    if (!learning_ || now < learningEnd_) return std::nullopt;
    learning_ = false;
    Learnt learnt = learn(name, learnt_, postures_.rejection());
    learnt_.clear();
    return learnt;
}

void PostureWatch::frameRead(std::span<const Frame> lines) noexcept {
    const Values raw = rawValues(lines.front());
    if (learning_ && learnt_.size() < kMostLearningFrames) learnt_.push_back(raw);
    const std::optional<calibration::Ranges>& ranges = calibrator_.inForce();
    if (ranges != comparedOn_) {
        comparedOn_ = ranges;
        compared_ = postures_.onCalibration(ranges);
    }
    const Posture* recognised = compared_.recognise(onCalibration(ranges, raw), held());
    if (debouncer_.take(recognised == nullptr ? std::string_view{} : recognised->name)) ++changes_;
}

}  // namespace glove::posture
