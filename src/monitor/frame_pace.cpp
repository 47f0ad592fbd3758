#include "monitor/frame_pace.h"

#include <algorithm>

#include "common/glove_frame.h"

namespace glove {

namespace {
// Predicted reads that aim where the anchor says, before the wakes start aiming early.
constexpr int kTrustedReads = 4;
// The first early one aims this share of a character early, and each one after it twice as
// early as the last: an anchor that was right costs a wake-up every eight reads or so, when
// the look comes before the character; one taken a millisecond late is worked off within a
// dozen reads.
constexpr int kFirstEarlyShare = 128;
// Never earlier than half a character: the look would find the read short every time.
constexpr int kEarliestShare = 2;
}  // namespace

int FramePace::readLength(int inputLen, int phaseWants) {
    return phaseWants < kFrameLength ? std::min(phaseWants, inputLen) : inputLen;
}

FramePace::Time FramePace::due(long long index) const {
    return anchor_.time + lineTime_(static_cast<int>(index - anchor_.index)) - early_;
}

FramePace::Wait FramePace::begin(int wanted, int waiting, Time now) {
    wanted_ = wanted;
    seen_ = taken_ + waiting;
    predicted_ = false;
    slowerThanTheLine_ = false;
    // Fewer characters than the anchor counted: the buffer was emptied, the device reopened.
    if (anchored_ && seen_ < anchor_.index) lost();
    if (wanted <= 0) return {};
    if (waiting >= wanted) {
        catchUp(seen_, now);
        return {.kind = Wait::Kind::Done};
    }
    if (!anchored_ || !backToBack_) return {};
    if (++trustedReads_ > kTrustedReads) {
        early_ = early_ == std::chrono::nanoseconds::zero()
                     ? lineTime_(1) / kFirstEarlyShare
                     : std::min(2 * early_, lineTime_(1) / kEarliestShare);
    }
    const Time end = due(taken_ + wanted);
    // Already due and not here: the line is behind the anchor, and the next character tells.
    if (end <= now) return {};
    predicted_ = true;
    return {.kind = Wait::Kind::Sleep, .until = end};
}

FramePace::Wait FramePace::arrived(int waiting, Time now) {
    const long long arrived = taken_ + waiting;
    anchorOn(arrived, now, arrived == seen_ + 1);
    seen_ = arrived;
    if (arrived >= taken_ + wanted_ && wanted_ > 0) return {.kind = Wait::Kind::Done};
    if (slowerThanTheLine_ || wanted_ <= 0) return {};
    return {.kind = Wait::Kind::Sleep, .until = due(taken_ + wanted_)};
}

void FramePace::anchorOn(long long arrived, Time now, bool oneCharacter) {
    // In step: the character came when the old anchor said, give or take half a character.
    bool inStep = false;
    Time said{};
    if (anchored_ && arrived >= anchor_.index) {
        said = anchor_.time + lineTime_(static_cast<int>(arrived - anchor_.index));
        inStep = std::chrono::abs(now - said) <= lineTime_(1) / 2;
    }
    // Several characters seen at once may be a glove that writes whole frames, faster than the
    // line: its reads are foreseen only once a single character has been seen in step.
    backToBack_ = inStep && (oneCharacter || backToBack_);
    // A character is seen some time after it came, the longer the busier the window. In step,
    // the earlier of the two times is the better one: the old anchor stays unless the character
    // shows it was late.
    anchor_ = {inStep && said < now ? said : now, arrived};
    anchored_ = true;
    early_ = {};
    trustedReads_ = 0;
}

void FramePace::catchUp(long long arrived, Time now) {
    // Characters that came sooner than the anchor says: it was taken late.
    if (anchored_ && due(arrived) > now) {
        anchor_ = {now, arrived};
        early_ = {};
        trustedReads_ = 0;
    }
}

FramePace::Wait FramePace::wake(int waiting, Time now) {
    const long long arrived = taken_ + waiting;
    if (arrived >= taken_ + wanted_) {
        catchUp(arrived, now);
        seen_ = arrived;
        return {.kind = Wait::Kind::Done};
    }
    if (arrived == seen_) {
        // Nothing came since the last look: a glove that paused between reads, or one that
        // sends slower than its line, which only a watch follows without extra wake-ups.
        if (predicted_) {
            backToBack_ = false;
        } else {
            slowerThanTheLine_ = true;
        }
    }
    seen_ = arrived;
    return {};
}

void FramePace::took(int characters) {
    taken_ += characters;
}

void FramePace::lost() {
    anchored_ = false;
    backToBack_ = false;
    early_ = {};
    trustedReads_ = 0;
}

}  // namespace glove
