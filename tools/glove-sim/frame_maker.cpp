#include "frame_maker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace glove_sim {

namespace {

struct Range {
    int lo = 0;
    int hi = 0;
};

// rng() % n rather than std::uniform_int_distribution: mt19937's output is fixed by the
// standard, the distributions are not, so a seed gives the same bytes with any library.
int pick(std::mt19937& rng, Range range) {
    return range.lo + static_cast<int>(rng() % static_cast<std::uint32_t>(range.hi - range.lo + 1));
}

std::uint8_t randomByte(std::mt19937& rng) {
    return static_cast<std::uint8_t>(rng());
}

std::uint8_t sensorValue(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// One open-and-close of the hand takes this many frames (about 3.3 s at 4800 baud).
constexpr std::uint64_t wavePeriodFrames = 160;
constexpr Range sensorJitter{-2, 2};

// Moves smoothly from range.lo (phase 0) to range.hi (half a period) and back, with a little
// sensor jitter, never leaving the range.
int sweep(std::uint64_t frameIndex, double phaseShift, Range range, std::mt19937& rng,
          std::uint64_t periodFrames = wavePeriodFrames) {
    const double phase = 2.0 * std::numbers::pi * static_cast<double>(frameIndex % periodFrames) /
                             static_cast<double>(periodFrames) +
                         phaseShift;
    const double level = (1.0 - std::cos(phase)) / 2.0;
    const int value = range.lo + static_cast<int>(std::lround(level * (range.hi - range.lo)));
    return std::clamp(value + pick(rng, sensorJitter), range.lo, range.hi);
}

constexpr Range batteryFine{0, 2};
constexpr Range batteryLow{3, 12};
constexpr Range thumbTravel{110, 250};  // the thumb bar shows from 102 up
// Value 5 tops out at 190 while waving, short of the gesture's "above 200".
constexpr Range fingerTravel{90, 190};  // fingers rise above the palm from 80 up
// The warned-about pose, with a margin to every threshold: 4 below 170, 5 above 200, 6 below 160.
constexpr Range gestureValue4{40, 160};
constexpr Range gestureValue5{210, 250};
constexpr Range gestureValue6{30, 150};
constexpr Range extraTravel{60, 200};
// A hand at rest: every sensor near the middle of its travel, on 128 about one time in seven.
constexpr Range atRest{frameMarker - 3, frameMarker + 3};
// Each finger trails the one before a little, and values 7-10 drift against the hand.
constexpr double fingerLag = 0.4;
constexpr double extraLag = 1.1;

}  // namespace

std::optional<Scenario> scenarioFromName(std::string_view name) {
    const auto found =
        std::ranges::find(scenarioNames, name, [](const auto& entry) { return entry.first; });
    if (found == scenarioNames.end()) return std::nullopt;
    return found->second;
}

Frame makeFrame(Scenario scenario, std::uint64_t frameIndex, std::mt19937& rng, bool count) {
    const bool gesture = scenario == Scenario::Gesture;
    Frame frame{};
    frame[valuePos(1)] = frameMarker;
    if (scenario == Scenario::Rest || scenario == Scenario::Random) {
        for (int value = 2; value <= static_cast<int>(frameLength); ++value) {
            frame[valuePos(value)] =
                scenario == Scenario::Rest ? sensorValue(pick(rng, atRest)) : randomByte(rng);
        }
        if (count)
            std::ranges::copy(encodeCounter(frameIndex),
                              frame.begin() + valuePos(counterFirstValue));
        return frame;
    }
    frame[valuePos(2)] =
        sensorValue(pick(rng, scenario == Scenario::Battery ? batteryLow : batteryFine));
    if (scenario == Scenario::Hand) {
        for (int value = 3; value <= static_cast<int>(frameLength); ++value) {
            const HandRange r = handRanges[static_cast<std::size_t>(value - 3)];
            frame[valuePos(value)] = sensorValue(
                sweep(frameIndex, fingerLag * (value - 3), {r.low, r.high}, rng, handPeriodFrames));
        }
        if (count)
            std::ranges::copy(encodeCounter(frameIndex),
                              frame.begin() + valuePos(counterFirstValue));
        return frame;
    }
    frame[valuePos(3)] = sensorValue(sweep(frameIndex, 0.0, thumbTravel, rng));
    frame[valuePos(4)] =
        sensorValue(sweep(frameIndex, fingerLag, gesture ? gestureValue4 : fingerTravel, rng));
    frame[valuePos(5)] =
        sensorValue(sweep(frameIndex, 2 * fingerLag, gesture ? gestureValue5 : fingerTravel, rng));
    frame[valuePos(6)] =
        sensorValue(sweep(frameIndex, 3 * fingerLag, gesture ? gestureValue6 : fingerTravel, rng));
    // Drawn even when the counter replaces them, so --count leaves values 2-6 as they were.
    for (int value = counterFirstValue; value <= static_cast<int>(frameLength); ++value)
        frame[valuePos(value)] = sensorValue(sweep(frameIndex, extraLag * value, extraTravel, rng));
    if (count)
        std::ranges::copy(encodeCounter(frameIndex), frame.begin() + valuePos(counterFirstValue));
    return frame;
}

FrameMaker::FrameMaker(const StreamSettings& settings) : settings_(settings) {}

Chunk FrameMaker::next() {
    Chunk chunk;
    switch (settings_.scenario) {
        case Scenario::Noise:
            chunk = noiseChunk();
            break;
        case Scenario::Silent:
            chunk.lineSlots = frameLength;
            break;
        default: {
            Frame frame = settings_.scenario == Scenario::Postures
                              ? postureFrame(chunk.begins)
                              : makeFrame(settings_.scenario, index_, rng_, settings_.count);
            if (settings_.hold) {
                frame = *settings_.hold;
                if (settings_.count) {
                    std::ranges::copy(encodeCounter(index_),
                                      frame.begin() + valuePos(counterFirstValue));
                }
            }
            chunk.bytes.assign(frame.begin(), frame.end());
            chunk.lineSlots = frameLength;
        }
    }
    if (index_ == 0) {
        // Joining mid-frame: the skipped bytes' line time goes with them.
        const std::size_t skipped = std::min(settings_.offset, chunk.bytes.size());
        chunk.bytes.erase(chunk.bytes.begin(),
                          chunk.bytes.begin() + static_cast<std::ptrdiff_t>(skipped));
        chunk.lineSlots -= skipped;
    }
    const std::uint64_t made = chunk.bytes.size();
    if (settings_.dropByte && *settings_.dropByte > bytesMade_ &&
        *settings_.dropByte <= bytesMade_ + made) {
        chunk.bytes.erase(chunk.bytes.begin() +
                          static_cast<std::ptrdiff_t>(*settings_.dropByte - bytesMade_ - 1));
    }
    bytesMade_ += made;
    ++index_;
    return chunk;
}

Frame FrameMaker::postureFrame(std::string_view& begins) {
    const auto between = [this](std::uint64_t lo, std::uint64_t hi) {
        return static_cast<std::uint64_t>(pick(rng_, {static_cast<int>(lo), static_cast<int>(hi)}));
    };
    const auto postures = static_cast<int>(simPostures.size());
    if (framesLeft_ == 0) {
        if (settings_.posture) {
            // One hold that never ends.
            posture_ = target_ = *settings_.posture;
            framesLeft_ = std::numeric_limits<std::uint64_t>::max();
            begins = simPostures[posture_].name;
        } else if (index_ == 0 || moving_) {
            posture_ =
                index_ == 0 ? static_cast<std::size_t>(pick(rng_, {0, postures - 1})) : target_;
            moving_ = false;
            framesLeft_ = between(postureShortestHold, postureLongestHold);
            begins = simPostures[posture_].name;
        } else {
            // Never to the posture it holds: every move ends in another one.
            target_ = (posture_ + static_cast<std::size_t>(pick(rng_, {1, postures - 1}))) %
                      simPostures.size();
            moving_ = true;
            moveFrames_ = framesLeft_ = between(postureShortestMove, postureLongestMove);
            begins = movingHand;
        }
    }
    // A move passes evenly from one posture to the other, reaching neither.
    const double along = moving_ ? static_cast<double>(moveFrames_ - framesLeft_ + 1) /
                                       static_cast<double>(moveFrames_ + 1)
                                 : 0.0;
    --framesLeft_;
    Frame frame{};
    frame[valuePos(1)] = frameMarker;
    frame[valuePos(2)] = sensorValue(pick(rng_, batteryFine));
    for (std::size_t i = 0; i < handRanges.size(); ++i) {
        const double from = simPostures[posture_].levels[i];
        const double level = from + along * (simPostures[target_].levels[i] - from);
        const HandRange r = handRanges[i];
        const auto reading = static_cast<int>(std::lround(r.low + level * (r.high - r.low)));
        frame[valuePos(static_cast<int>(i) + 3)] =
            sensorValue(reading + pick(rng_, {-postureNoise, postureNoise}));
    }
    if (settings_.count)
        std::ranges::copy(encodeCounter(index_), frame.begin() + valuePos(counterFirstValue));
    return frame;
}

// What a flaky radio link delivers: frame-sized runs with a stray marker inside, short
// bursts followed by silence, and runs of unusual length. Every run gets a marker at a random
// place, besides any the random bytes bring.
Chunk FrameMaker::noiseChunk() {
    constexpr Range shortBurstLength{1, 4};
    constexpr Range idleAfterBurst{5, 40};
    constexpr Range oddLength{11, 25};
    enum Kind { FrameSized, ShortBurst, OddLength, KindCount };

    Chunk chunk;
    std::size_t idle = 0;
    const auto kind = static_cast<Kind>(pick(rng_, {0, KindCount - 1}));
    switch (kind) {
        case FrameSized:
            chunk.bytes.resize(frameLength);
            break;
        case ShortBurst:
            chunk.bytes.resize(static_cast<std::size_t>(pick(rng_, shortBurstLength)));
            idle = static_cast<std::size_t>(pick(rng_, idleAfterBurst));
            break;
        default:
            chunk.bytes.resize(static_cast<std::size_t>(pick(rng_, oddLength)));
            break;
    }
    std::ranges::generate(chunk.bytes, [this] { return randomByte(rng_); });
    const int last = static_cast<int>(chunk.bytes.size()) - 1;
    if (kind == FrameSized) chunk.bytes.front() = frameMarker;
    chunk.bytes[static_cast<std::size_t>(pick(rng_, {kind == FrameSized ? 1 : 0, last}))] =
        frameMarker;
    chunk.lineSlots = chunk.bytes.size() + idle;
    return chunk;
}

}  // namespace glove_sim
