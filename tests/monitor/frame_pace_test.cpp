#include "monitor/frame_pace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/glove_frame.h"
#include "support/case_names.h"

namespace glove {
namespace {

using namespace std::chrono_literals;
using Kind = FramePace::Wait::Kind;

// A moment on the glove's line: so many character times, and some microseconds, after the
// first character was due.
struct Moment {
    int characters = 0;
    int micros = 0;
};

FramePace::Time at(Moment m) {
    return FramePace::Time(1h) + lineTime(m.characters, kGloveBaud) +
           std::chrono::microseconds(m.micros);
}

enum class Event { Begin, Arrived, Wake, Took };

// One call of the pace, and what it should answer. For a sleep: until `until`, or, where the
// pace may aim early, no more than half a character before it.
struct Step {
    Event event;
    int characters;  // Begin, Arrived, Wake: in the buffer; Took: taken out
    Moment now{};
    Kind kind = Kind::Done;
    Moment until{};
    bool mayAimEarly = false;
};

Step begin(int waiting, Moment now, Kind kind, Moment until = {}, bool early = false) {
    return {Event::Begin, waiting, now, kind, until, early};
}
Step arrive(int waiting, Moment now, Kind kind, Moment until = {}) {
    return {Event::Arrived, waiting, now, kind, until};
}
Step wake(int waiting, Moment now, Kind kind) {
    return {Event::Wake, waiting, now, kind};
}
Step took(int characters) {
    return {Event::Took, characters};
}

struct PaceCase {
    const char* name;
    std::vector<Step> steps;  // every read wants a whole frame
};

// A frame watched from its first character, 50 µs late, then read: the anchor's first frame.
std::vector<Step> firstFrame() {
    return {begin(0, {0}, Kind::Watch), arrive(1, {1, 50}, Kind::Sleep, {10, 50}),
            wake(10, {10, 60}, Kind::Done), took(10)};
}

// Then a second frame whose first character comes in step with the first: back to back.
std::vector<Step> twoFramesBackToBack() {
    std::vector<Step> steps = firstFrame();
    steps.insert(steps.end(),
                 {begin(0, {10, 100}, Kind::Watch), arrive(1, {11, 40}, Kind::Sleep, {20, 40}),
                  wake(10, {20, 50}, Kind::Done), took(10)});
    return steps;
}

std::vector<Step> with(std::vector<Step> steps, std::initializer_list<Step> more) {
    steps.insert(steps.end(), more);
    return steps;
}

class Pace : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Pace, WakesWhenTheLineSaysTheReadIsComplete) {
    FramePace pace([](int characters) { return lineTime(characters, kGloveBaud); });
    int number = 0;
    for (const Step& step : GetParam().steps) {
        ++number;
        SCOPED_TRACE(testing::Message() << "step " << number);
        FramePace::Wait got;
        switch (step.event) {
            case Event::Begin:
                got = pace.begin(kFrameLength, step.characters, at(step.now));
                break;
            case Event::Arrived:
                got = pace.arrived(step.characters, at(step.now));
                break;
            case Event::Wake:
                got = pace.wake(step.characters, at(step.now));
                break;
            case Event::Took:
                pace.took(step.characters);
                continue;
        }
        ASSERT_EQ(got.kind, step.kind);
        if (got.kind != Kind::Sleep) continue;
        EXPECT_LE(got.until, at(step.until));
        const auto earliest =
            step.mayAimEarly ? at(step.until) - lineTime(1, kGloveBaud) / 2 : at(step.until);
        EXPECT_GE(got.until, earliest);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gloves, Pace,
    ::testing::Values(
        PaceCase{"a frame already waiting is read at once", {begin(12, {0}, Kind::Done)}},
        PaceCase{"a frame is slept through from its first character to its end", firstFrame()},
        PaceCase{"a frame in step with the last one is foreseen, with no wake for its start",
                 with(twoFramesBackToBack(), {begin(0, {20, 300}, Kind::Sleep, {30, 40}, true),
                                              wake(10, {30, 50}, Kind::Done), took(10),
                                              begin(1, {30, 200}, Kind::Sleep, {40, 40}, true)})},
        PaceCase{"a foreseen frame found a character short is watched for it",
                 with(twoFramesBackToBack(),
                      {begin(0, {20, 300}, Kind::Sleep, {30, 40}, true),
                       wake(9, {30, 10}, Kind::Watch), arrive(10, {30, 300}, Kind::Done), took(10),
                       // Seen later than the anchor says: the anchor stays.
                       begin(0, {30, 400}, Kind::Sleep, {40, 40}, true)})},
        PaceCase{"a character seen sooner than the anchor says anchors again",
                 with(twoFramesBackToBack(),
                      {begin(0, {20, 300}, Kind::Sleep, {30, 40}, true),
                       wake(9, {29, 1500}, Kind::Watch), arrive(10, {29, 1800}, Kind::Done),
                       took(10), begin(0, {30, 400}, Kind::Sleep, {39, 1800}, true)})},
        PaceCase{
            "a glove that pauses a frame's time is watched for its next first character",
            with(firstFrame(),
                 {begin(0, {10, 100}, Kind::Watch), arrive(1, {48, 50}, Kind::Sleep, {57, 50}),
                  wake(10, {57, 60}, Kind::Done), took(10), begin(0, {57, 100}, Kind::Watch)})},
        PaceCase{
            "a glove that stops after frames back to back is watched again",
            with(twoFramesBackToBack(),
                 {begin(0, {20, 300}, Kind::Sleep, {30, 40}, true), wake(0, {30, 10}, Kind::Watch),
                  arrive(1, {96}, Kind::Sleep, {105}), wake(10, {105, 10}, Kind::Done), took(10),
                  begin(0, {105, 50}, Kind::Watch)})},
        PaceCase{"whole frames written at once are watched, never foreseen",
                 {begin(0, {0}, Kind::Watch), arrive(10, {10, 30}, Kind::Done), took(10),
                  begin(0, {10, 100}, Kind::Watch), arrive(10, {20, 30}, Kind::Done), took(10),
                  begin(0, {20, 100}, Kind::Watch)}},
        PaceCase{"a glove slower than its line is watched character by character",
                 {begin(0, {0}, Kind::Watch), arrive(1, {1}, Kind::Sleep, {10}),
                  wake(1, {10, 10}, Kind::Watch), arrive(2, {50}, Kind::Watch),
                  arrive(10, {400}, Kind::Done)}},
        PaceCase{"characters of the next frame at the wake pull a late anchor earlier",
                 with(twoFramesBackToBack(),
                      {begin(0, {20, 300}, Kind::Sleep, {30, 40}, true),
                       // Three characters more than the frame: the anchor was late.
                       wake(13, {32, 1000}, Kind::Done), took(10),
                       begin(3, {32, 1100}, Kind::Sleep, {39, 1000}, true)})}),
    test::CaseName{});

// An anchor taken late keeps every foreseen wake late by as much, unless the wakes come to
// aim earlier than it says.
TEST(PaceAnchor, ForeseenFramesAimEarlierAndEarlierUntilAWatchAnchorsAgain) {
    FramePace pace([](int characters) { return lineTime(characters, kGloveBaud); });
    for (const Step& step : twoFramesBackToBack()) {
        if (step.event == Event::Begin) pace.begin(kFrameLength, step.characters, at(step.now));
        if (step.event == Event::Arrived) pace.arrived(step.characters, at(step.now));
        if (step.event == Event::Wake) pace.wake(step.characters, at(step.now));
        if (step.event == Event::Took) pace.took(step.characters);
    }
    std::vector<std::chrono::microseconds> aims;  // rounded: line times are whole nanoseconds
    for (int frame = 2; frame < 14; ++frame) {
        const FramePace::Wait wait = pace.begin(kFrameLength, 0, at({10 * frame, 100}));
        ASSERT_EQ(wait.kind, Kind::Sleep);
        aims.push_back(
            std::chrono::round<std::chrono::microseconds>(wait.until - at({10 * frame + 10, 40})));
        pace.wake(kFrameLength, wait.until);
        pace.took(kFrameLength);
    }
    EXPECT_TRUE(std::is_sorted(aims.rbegin(), aims.rend())) << "never later than the last";
    EXPECT_LT(aims.back(), -lineTime(1, kGloveBaud) / 4);
    EXPECT_GE(aims.back(),
              std::chrono::round<std::chrono::microseconds>(-lineTime(1, kGloveBaud) / 2));
}

struct LengthCase {
    const char* name;
    int inputLen;
    int phaseWants;
    int expected;
};

class ReadLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReadLength, IsAFrameOrTheRestOfACutOne) {
    const LengthCase& c = GetParam();
    EXPECT_EQ(FramePace::readLength(c.inputLen, c.phaseWants), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ReadLength,
                         ::testing::Values(LengthCase{"a whole frame", 10, 10, 10},
                                           LengthCase{"the rest of a cut frame", 10, 3, 3},
                                           LengthCase{"no more than InputLen", 2, 3, 2},
                                           LengthCase{"InputLen 0 reads all there is", 0, 10, 0}),
                         test::CaseName{});

}  // namespace
}  // namespace glove
