#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "posture/posture.h"

namespace glove::posture {

inline constexpr std::chrono::seconds kDefaultLearningTime{2};
// A minute of frames at the glove's pace: learning keeps no more than that.
inline constexpr std::size_t kMostLearningFrames = 48 * 60;

// The postures of the device in force and the one the hand holds, from every frame the poll
// reads whole, compared on the calibration in force when the frame comes. While a posture is
// being learnt it also keeps the frames' raw values. Times are passed in, so that a test sets
// them.
class PostureWatch final : public FrameFeed {
  public:
    using Clock = std::chrono::steady_clock;

    explicit PostureWatch(const calibration::Calibrator& calibrator) : calibrator_(calibrator) {}

    [[nodiscard]] const PostureSet& postures() const { return postures_; }
    // A new set. The posture held stays held when the new set has it (an edit of another
    // posture is no change to receivers), under its new name when it was renamed; otherwise
    // the hand holds none until a posture has held for kHoldFrames frames.
    void setPostures(PostureSet postures);

    // The posture held, empty for none; and how many times it has changed, so that an output
    // that looks after each frame can tell a change from the same posture held again.
    [[nodiscard]] const std::string& held() const { return debouncer_.held(); }
    [[nodiscard]] long changes() const { return changes_; }

    // Keeps the values of the frames from now on, for `time`.
    void startLearning(Clock::time_point now, Clock::duration time = kDefaultLearningTime);
    void cancelLearning() { learning_ = false; }
    [[nodiscard]] bool learning() const { return learning_; }
    [[nodiscard]] Clock::duration left(Clock::time_point now) const;
    // Once the time is up: the posture those frames held under `name`, or why it cannot be
    // learnt. Before that, or when no learning runs: nullopt. The set is not changed.
    std::optional<Learnt> finishLearningIfDue(Clock::time_point now, std::string_view name);

    void frameRead(std::span<const Frame> lines) noexcept override;

  private:
    const calibration::Calibrator& calibrator_;
    PostureSet postures_;
    // postures_ on the calibration they were last compared on, made again when it changes.
    PostureSet compared_;
    std::optional<calibration::Ranges> comparedOn_;
    Debouncer debouncer_;
    long changes_ = 0;
    bool learning_ = false;
    Clock::time_point learningEnd_{};
    std::vector<Values> learnt_;
};

}  // namespace glove::posture
