#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "common/glove_frame.h"

namespace glove_sim {

// A frame is ten values, numbered 1..10 as the monitor numbers them. Value 1 is the marker.
//
// In every scenario except noise, value 1 is the marker. The readings are 0..255 and may
// equal it, as a real glove's do: a finger half bent reads 128. Length and marker are the
// glove's, as a byte count and a byte.
inline constexpr auto frameLength = static_cast<std::size_t>(glove::kFrameLength);
inline constexpr auto frameMarker = static_cast<std::uint8_t>(glove::kFrameMarker);
using Frame = std::array<std::uint8_t, frameLength>;

// Where the monitor's 1-based "value n" sits in a Frame.
constexpr std::size_t valuePos(int n) {
    return static_cast<std::size_t>(n - 1);
}

enum class Scenario { Wave, Gesture, Battery, Rest, Random, Noise, Silent, Unplug, Hand, Postures };

inline constexpr std::array scenarioNames{
    std::pair{std::string_view{"wave"}, Scenario::Wave},
    std::pair{std::string_view{"gesture"}, Scenario::Gesture},
    std::pair{std::string_view{"battery"}, Scenario::Battery},
    std::pair{std::string_view{"rest"}, Scenario::Rest},
    std::pair{std::string_view{"random"}, Scenario::Random},
    std::pair{std::string_view{"noise"}, Scenario::Noise},
    std::pair{std::string_view{"silent"}, Scenario::Silent},
    std::pair{std::string_view{"unplug"}, Scenario::Unplug},
    std::pair{std::string_view{"hand"}, Scenario::Hand},
    std::pair{std::string_view{"postures"}, Scenario::Postures},
};

// The hand scenario, for trying a calibration: each of values 3 to 10 opens and closes
// through its own range, lowest to highest and back, once every handPeriodFrames (2 s at
// 4800 baud), with a little noise that never leaves the range; value 2, the battery, stays
// at 0 to 2, too still to be calibrated. A reading's place in its range is what a calibration
// should give for it.
struct HandRange {
    int low = 0;
    int high = 0;
};
inline constexpr std::uint64_t handPeriodFrames = 96;
inline constexpr std::array<HandRange, 8> handRanges{
    {{30, 220}, {20, 180}, {40, 240}, {10, 200}, {60, 230}, {25, 150}, {50, 250}, {0, 120}}};

// The postures scenario, for scoring posture recognition: the hand holds one of these postures
// for a random time, moves to another one over a few frames, holds that, and so on, with noise
// on every value. A posture is a place in each hand range (0 its low end, 1 its high end) of
// values 3 to 10, so a calibration taken from the hand scenario fits it.
struct SimPosture {
    std::string_view name;
    std::array<double, handRanges.size()> levels{};
};
inline constexpr std::array simPostures{
    SimPosture{"open", {0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05, 0.05}},
    SimPosture{"fist", {0.9, 0.95, 0.95, 0.95, 0.95, 0.9, 0.9, 0.9}},
    SimPosture{"point", {0.9, 0.05, 0.95, 0.95, 0.95, 0.1, 0.9, 0.9}},
    SimPosture{"pinch", {0.6, 0.6, 0.1, 0.1, 0.1, 0.5, 0.1, 0.1}},
    SimPosture{"horns", {0.9, 0.05, 0.95, 0.95, 0.05, 0.1, 0.9, 0.1}},
};
// Holds last 1 to 4 s and moves an eighth to half a second at 4800 baud.
inline constexpr std::uint64_t postureShortestHold = 48;
inline constexpr std::uint64_t postureLongestHold = 192;
inline constexpr std::uint64_t postureShortestMove = 6;
inline constexpr std::uint64_t postureLongestMove = 24;
// Noise on every value of every frame, in readings.
inline constexpr int postureNoise = 3;
// What the postures scenario calls a hand on the move between two postures.
inline constexpr std::string_view movingHand = "none";

std::optional<Scenario> scenarioFromName(std::string_view name);

// With --count, values 7-10 carry the frame index: 28 bits, 7 per value, most significant
// first. Every value stays below 128, so the counter never looks like a marker.
inline constexpr int counterFirstValue = 7;
inline constexpr std::size_t counterValueCount = 4;
inline constexpr unsigned counterBitsPerValue = 7;
inline constexpr std::uint32_t counterModulus = 1U << (counterValueCount * counterBitsPerValue);
using CounterValues = std::array<std::uint8_t, counterValueCount>;

constexpr CounterValues encodeCounter(std::uint64_t frameIndex) {
    constexpr std::uint32_t valueMask = (1U << counterBitsPerValue) - 1;
    const auto counter = static_cast<std::uint32_t>(frameIndex % counterModulus);
    CounterValues values{};
    for (std::size_t i = 0; i < counterValueCount; ++i) {
        const auto shift = counterBitsPerValue * static_cast<unsigned>(counterValueCount - 1 - i);
        values[i] = static_cast<std::uint8_t>((counter >> shift) & valueMask);
    }
    return values;
}

constexpr std::uint32_t decodeCounter(const CounterValues& values) {
    std::uint32_t counter = 0;
    for (const auto value : values) counter = (counter << counterBitsPerValue) | value;
    return counter;
}

// Frame number `frameIndex` of the gesture, battery, rest or random scenario; any other
// scenario gets the wave's frames (noise and silent have none of their own, see FrameMaker).
Frame makeFrame(Scenario scenario, std::uint64_t frameIndex, std::mt19937& rng, bool count);

// One step of the stream: bytes to send, and how many byte times the step lasts on the line
// (more than bytes.size() when the line then stays idle for a while).
struct Chunk {
    std::vector<std::uint8_t> bytes;
    std::uint64_t lineSlots = 0;
    // Postures scenario: on the first frame of a hold, the posture's name; on the first frame
    // of a move, movingHand. Empty on every other frame.
    std::string_view begins;
};

struct StreamSettings {
    Scenario scenario = Scenario::Wave;
    std::uint32_t seed = 1;
    bool count = false;      // values 7-10 carry the frame index (ignored by noise)
    std::size_t offset = 0;  // bytes of the first frame left out, 0..frameLength-1
    // Every frame is this one instead of the scenario's: a pose held still (--hold).
    std::optional<Frame> hold = std::nullopt;
    // This byte of the stream (1 = the first sent) is lost on the line: it is left out, and
    // the line stays idle for its time.
    std::optional<std::uint64_t> dropByte = std::nullopt;
    // Postures scenario: this one of simPostures held in every frame, with the scenario's
    // noise, instead of holds and moves (--posture): the hand a posture is learnt from.
    std::optional<std::size_t> posture = std::nullopt;
};

// Produces the stream for one scenario; the same settings always give the same chunks.
class FrameMaker {
  public:
    explicit FrameMaker(const StreamSettings& settings);

    Chunk next();

  private:
    Chunk noiseChunk();
    Frame postureFrame(std::string_view& begins);

    StreamSettings settings_;
    std::mt19937 rng_{settings_.seed};
    std::uint64_t index_ = 0;
    std::uint64_t bytesMade_ = 0;  // bytes of the stream so far, a dropped one included
    // Postures scenario: the posture held or moved from, the one moved to, and the frames
    // left of the hold or move (none before the first frame).
    std::size_t posture_ = 0;
    std::size_t target_ = 0;
    bool moving_ = false;
    std::uint64_t moveFrames_ = 0;
    std::uint64_t framesLeft_ = 0;
};

}  // namespace glove_sim
