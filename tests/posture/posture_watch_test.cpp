#include "posture/posture_watch.h"

#include <gtest/gtest.h>

namespace glove::posture {
namespace {

using namespace std::chrono_literals;
using Clock = PostureWatch::Clock;

// Values 2 to 10 all `raw`, uncalibrated: raw / 255 each.
Frame frameOf(int raw) {
    Frame frame{};
    frame.fill(raw);
    frame[0] = kFrameMarker;
    return frame;
}

void feed(PostureWatch& watch, int raw, int frames) {
    const Frame frame = frameOf(raw);
    for (int i = 0; i < frames; ++i) watch.frameRead(std::span(&frame, 1));
}

TEST(PostureWatch, LearnsFromTheFramesOfItsTimeAndThenRecognisesThePosture) {
    const calibration::Calibrator calibrator;
    PostureWatch watch(calibrator);
    const Clock::time_point start{};
    feed(watch, 200, 20);  // before learning: not kept
    watch.startLearning(start, 2s);
    feed(watch, 51, 96);
    EXPECT_EQ(watch.finishLearningIfDue(start + 1s, "open"), std::nullopt);
    EXPECT_EQ(watch.left(start + 1s), 1s);
    const auto learnt = watch.finishLearningIfDue(start + 2s, "open");
    ASSERT_TRUE(learnt);
    EXPECT_EQ(learnt->fault, "");
    EXPECT_FLOAT_EQ(learnt->posture.values[0], 0.2F);
    EXPECT_FALSE(watch.learning());

    PostureSet set;
    ASSERT_EQ(set.add(learnt->posture), "");
    watch.setPostures(set);
    feed(watch, 51, kHoldFrames - 1);
    EXPECT_EQ(watch.held(), "");
    feed(watch, 51, 1);
    EXPECT_EQ(watch.held(), "open");
    EXPECT_EQ(watch.changes(), 1);
    feed(watch, 230, kHoldFrames);
    EXPECT_EQ(watch.held(), "");
    EXPECT_EQ(watch.changes(), 2);
}

TEST(PostureWatch, ANewSetKeepsThePostureHeldOnlyWhenItHasIt) {
    const calibration::Calibrator calibrator;
    PostureWatch watch(calibrator);
    PostureSet set;
    Values values{};
    values.fill(0.2F);
    ASSERT_EQ(set.add({"open", values}), "");
    watch.setPostures(set);
    feed(watch, 51, kHoldFrames);
    ASSERT_EQ(watch.held(), "open");
    values.fill(0.9F);
    ASSERT_EQ(set.add({"fist", values}), "");
    watch.setPostures(set);
    EXPECT_EQ(watch.held(), "open");
    EXPECT_EQ(watch.changes(), 1);
    ASSERT_EQ(set.rename("open", "flat"), "");
    watch.setPostures(set);
    EXPECT_EQ(watch.held(), "flat") << "a rename is no move of the hand";
    EXPECT_EQ(watch.changes(), 2);
    ASSERT_TRUE(set.remove("flat"));
    watch.setPostures(set);
    EXPECT_EQ(watch.held(), "");
    EXPECT_EQ(watch.changes(), 3);
}

TEST(PostureWatch, PosturesLearntBeforeACalibrationAreRecognisedOnIt) {
    calibration::Calibrator calibrator;
    PostureWatch watch(calibrator);
    const Clock::time_point start{};
    watch.startLearning(start, 1s);
    feed(watch, 60, 48);
    const auto learnt = watch.finishLearningIfDue(start + 1s, "open");
    ASSERT_TRUE(learnt && learnt->fault.empty());
    PostureSet set;
    ASSERT_EQ(set.add(learnt->posture), "");
    watch.setPostures(set);
    // A narrow calibration moves the hand's values far from their raw / 255.
    calibration::Ranges ranges{};
    ranges.fill({50, 90});
    calibrator.setInForce(ranges);
    feed(watch, 60, kHoldFrames);
    EXPECT_EQ(watch.held(), "open");
    // Within the rejection distance on the raw values, far beyond it on the calibration.
    feed(watch, 80, kHoldFrames);
    EXPECT_EQ(watch.held(), "");
}

TEST(PostureWatch, LearningWithoutFramesSaysWhy) {
    const calibration::Calibrator calibrator;
    PostureWatch watch(calibrator);
    watch.startLearning(Clock::time_point{}, 2s);
    const auto learnt = watch.finishLearningIfDue(Clock::time_point{} + 2s, "fist");
    ASSERT_TRUE(learnt);
    EXPECT_NE(learnt->fault.find("not 0"), std::string::npos) << learnt->fault;
}

}  // namespace
}  // namespace glove::posture
