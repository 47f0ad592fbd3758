#include "frame_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/case_names.h"

namespace {

using namespace glove_sim;

// The monitor's warning rules, restated independently to check the scenarios against.
bool gestureWarning(const Frame& f) {
    return f[valuePos(4)] < 170 && f[valuePos(5)] > 200 && f[valuePos(6)] < 160;
}

bool batteryWarning(const Frame& f) {
    return f[valuePos(2)] > 2;
}

// Well over ten full movements of the hand.
constexpr std::size_t chunksChecked = 2000;

std::vector<Chunk> chunksOf(const StreamSettings& settings, std::size_t n = chunksChecked) {
    FrameMaker maker(settings);
    std::vector<Chunk> chunks(n);
    std::ranges::generate(chunks, [&] { return maker.next(); });
    return chunks;
}

// A scenario's name on the command line, as the name of its case.
std::string nameOf(Scenario scenario) {
    return std::string(
        std::ranges::find(scenarioNames, scenario, &decltype(scenarioNames)::value_type::second)
            ->first);
}

Frame asFrame(const Chunk& chunk) {
    Frame frame{};
    std::copy_n(chunk.bytes.begin(), std::min(frameLength, chunk.bytes.size()), frame.begin());
    return frame;
}

class Counter : public testing::TestWithParam<std::uint32_t> {};

TEST_P(Counter, RoundTripsWithEveryValueBelowTheMarker) {
    const CounterValues values = encodeCounter(GetParam());
    for (const auto value : values) EXPECT_LT(value, frameMarker);
    EXPECT_EQ(decodeCounter(values), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Encoding, Counter,
                         testing::Values(0U, 1U, 127U, 128U, 255U, 16383U, 16384U, 0x1234567U,
                                         counterModulus - 1),
                         glove::test::Numbered{"Value"});

TEST(CounterLayout, MostSignificantValueFirst) {
    EXPECT_EQ(encodeCounter(128), (CounterValues{0, 0, 1, 0}));
    EXPECT_EQ(encodeCounter(1U << 21), (CounterValues{1, 0, 0, 0}));
}

TEST(CounterLayout, WrapsAfter28Bits) {
    EXPECT_EQ(encodeCounter(counterModulus + 5), encodeCounter(5));
}

struct Contract {
    Scenario scenario = Scenario::Wave;
    bool (*holds)(const Frame&) = nullptr;
};

class ScenarioContract : public testing::TestWithParam<std::tuple<Contract, bool>> {};

TEST_P(ScenarioContract, HoldsInEveryFrameWithTheMarkerFirst) {
    const auto [contract, count] = GetParam();
    const auto chunks = chunksOf({.scenario = contract.scenario, .seed = 3, .count = count});
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        ASSERT_EQ(chunks[i].bytes.size(), frameLength) << "frame " << i;
        const Frame frame = asFrame(chunks[i]);
        ASSERT_EQ(frame[valuePos(1)], frameMarker) << "frame " << i;
        ASSERT_TRUE(contract.holds(frame)) << "frame " << i;
        if (count) {
            CounterValues counter{};
            std::copy_n(frame.begin() + valuePos(counterFirstValue), counterValueCount,
                        counter.begin());
            ASSERT_EQ(decodeCounter(counter), i);
        }
    }
}

bool calm(const Frame& f) {
    return !gestureWarning(f) && !batteryWarning(f);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioContract,
                         testing::Combine(testing::Values(Contract{Scenario::Wave, calm},
                                                          Contract{Scenario::Unplug, calm},
                                                          Contract{Scenario::Gesture,
                                                                   [](const Frame& f) {
                                                                       return gestureWarning(f) &&
                                                                              !batteryWarning(f);
                                                                   }},
                                                          Contract{Scenario::Battery,
                                                                   [](const Frame& f) {
                                                                       return batteryWarning(f) &&
                                                                              !gestureWarning(f);
                                                                   }}),
                                          testing::Bool()),
                         [](const auto& info) {
                             return nameOf(std::get<Contract>(info.param).scenario) +
                                    (std::get<bool>(info.param) ? "_counted" : "");
                         });

// Readings are 0..255 as a real glove's are: 128 is one of them, in any place.
class Readings : public testing::TestWithParam<std::tuple<Scenario, int, int>> {};

TEST_P(Readings, CoverTheirRangeAndTakeTheMarkerValueInManyPlaces) {
    const auto [scenario, lowest, highest] = GetParam();
    std::array<bool, 256> seen{};
    std::set<std::size_t> placesOf128;
    for (const auto& chunk : chunksOf({.scenario = scenario, .seed = 5})) {
        ASSERT_EQ(chunk.bytes.front(), frameMarker);
        for (std::size_t place = 1; place < frameLength; ++place) {
            seen.at(chunk.bytes[place]) = true;
            if (chunk.bytes[place] == frameMarker) placesOf128.insert(place);
        }
    }
    EXPECT_EQ(std::ranges::find(seen, true) - seen.begin(), lowest);
    EXPECT_EQ(seen.rend() - std::ranges::find(seen.rbegin(), seen.rend(), true) - 1, highest);
    EXPECT_GE(placesOf128.size(), 4U);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Readings,
                         testing::Values(std::tuple{Scenario::Wave, 0, 250},
                                         std::tuple{Scenario::Rest, 125, 131},
                                         std::tuple{Scenario::Random, 0, 255}),
                         [](const auto& info) { return nameOf(std::get<Scenario>(info.param)); });

TEST(Wave, FingersAndThumbOpenAndCloseSmoothly) {
    constexpr int leastTravel = 90;  // enough to see every bar move in the monitor
    constexpr int largestStep = 10;
    const auto chunks = chunksOf({.scenario = Scenario::Wave});
    for (int value = 3; value <= 6; ++value) {
        std::vector<int> trace;
        for (const auto& chunk : chunks) trace.push_back(chunk.bytes[valuePos(value)]);
        EXPECT_GE(std::ranges::max(trace) - std::ranges::min(trace), leastTravel)
            << "value " << value;
        for (std::size_t i = 1; i < trace.size(); ++i)
            ASSERT_LE(std::abs(trace[i] - trace[i - 1]), largestStep)
                << "value " << value << " frame " << i;
    }
}

TEST(Hand, EveryFingerSweepsItsWholeRangeWithinEachPeriodAndNoFurther) {
    const auto chunks = chunksOf({.scenario = Scenario::Hand}, handPeriodFrames);
    for (int value = 3; value <= 10; ++value) {
        std::vector<int> trace;
        for (const auto& chunk : chunks) trace.push_back(chunk.bytes[valuePos(value)]);
        const HandRange range = handRanges[static_cast<std::size_t>(value - 3)];
        EXPECT_EQ(std::ranges::min(trace), range.low) << "value " << value;
        EXPECT_EQ(std::ranges::max(trace), range.high) << "value " << value;
    }
    for (const auto& chunk : chunks) ASSERT_LE(chunk.bytes[valuePos(2)], 2);
}

class Repeatable : public testing::TestWithParam<Scenario> {};

TEST_P(Repeatable, SameSeedGivesSameStream) {
    const auto first = chunksOf({.scenario = GetParam(), .seed = 42});
    const auto second = chunksOf({.scenario = GetParam(), .seed = 42});
    for (std::size_t i = 0; i < first.size(); ++i) {
        ASSERT_EQ(first[i].bytes, second[i].bytes) << "chunk " << i;
        ASSERT_EQ(first[i].lineSlots, second[i].lineSlots) << "chunk " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Repeatable,
                         testing::Values(Scenario::Wave, Scenario::Gesture, Scenario::Battery,
                                         Scenario::Rest, Scenario::Random, Scenario::Noise,
                                         Scenario::Silent, Scenario::Unplug, Scenario::Hand,
                                         Scenario::Postures),
                         [](const auto& info) { return nameOf(info.param); });

TEST(Postures, HoldEachPostureForARandomTimeAndMoveBetweenThemAsTheLogSays) {
    const auto chunks = chunksOf({.scenario = Scenario::Postures, .seed = 5}, 6000);
    std::set<std::string_view> held;
    std::string_view now;
    std::uint64_t since = 0;
    for (std::size_t i = 0; i <= chunks.size(); ++i) {
        const std::string_view begins = i < chunks.size() ? chunks[i].begins : "end";
        if (!begins.empty()) {
            const std::uint64_t lasted = i - since;
            if (now == movingHand) {
                EXPECT_TRUE(lasted >= postureShortestMove && lasted <= postureLongestMove) << i;
                EXPECT_NE(begins, movingHand) << i;
            } else if (!now.empty() && begins != "end") {
                EXPECT_TRUE(lasted >= postureShortestHold && lasted <= postureLongestHold) << i;
                EXPECT_EQ(begins, movingHand) << i;
            }
            now = begins;
            since = i;
            if (begins != movingHand) held.insert(begins);
        }
        if (i == chunks.size() || now == movingHand) continue;
        const auto posture = std::ranges::find(simPostures, now, &SimPosture::name);
        ASSERT_NE(posture, simPostures.end()) << "frame " << i << " holds " << now;
        const Frame frame = asFrame(chunks[i]);
        for (std::size_t v = 0; v < handRanges.size(); ++v) {
            const HandRange r = handRanges[v];
            const double reading = r.low + posture->levels[v] * (r.high - r.low);
            EXPECT_NEAR(frame[valuePos(static_cast<int>(v) + 3)], reading, postureNoise + 0.5)
                << "frame " << i << ", value " << v + 3;
        }
    }
    EXPECT_EQ(held.size(), simPostures.size() + 1) << "every posture, and the end";
}

TEST(Postures, OnePostureNamedIsHeldInEveryFrameWithNoiseAndLoggedOnce) {
    constexpr std::size_t pinch = 3;
    const auto chunks =
        chunksOf({.scenario = Scenario::Postures, .posture = pinch}, 4 * postureLongestHold);
    EXPECT_EQ(chunks.front().begins, simPostures[pinch].name);
    std::set<int> readings;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(chunks[i].begins, "") << "frame " << i;
        }
        const Frame frame = asFrame(chunks[i]);
        for (std::size_t v = 0; v < handRanges.size(); ++v) {
            const HandRange r = handRanges[v];
            const double reading = r.low + simPostures[pinch].levels[v] * (r.high - r.low);
            EXPECT_NEAR(frame[valuePos(static_cast<int>(v) + 3)], reading, postureNoise + 0.5)
                << "frame " << i << ", value " << v + 3;
        }
        readings.insert(frame[valuePos(3)]);
    }
    EXPECT_GT(readings.size(), 1U) << "noise on the readings";
}

TEST(Noise, OtherSeedGivesOtherBytes) {
    const auto one = chunksOf({.scenario = Scenario::Noise, .seed = 1}, 50);
    const auto two = chunksOf({.scenario = Scenario::Noise, .seed = 2}, 50);
    EXPECT_FALSE(std::ranges::equal(one, two, {}, &Chunk::bytes, &Chunk::bytes));
}

TEST(Noise, HasStrayMarkersOddLengthsAndPauses) {
    std::size_t strayMarkers = 0;
    std::size_t shorter = 0;
    std::size_t longer = 0;
    std::size_t pauses = 0;
    for (const auto& chunk : chunksOf({.scenario = Scenario::Noise}, 500)) {
        strayMarkers += static_cast<std::size_t>(
            std::count(chunk.bytes.begin() + 1, chunk.bytes.end(), frameMarker));
        shorter += chunk.bytes.size() < frameLength ? 1 : 0;
        longer += chunk.bytes.size() > frameLength ? 1 : 0;
        pauses += chunk.lineSlots > chunk.bytes.size() ? 1 : 0;
    }
    EXPECT_GT(strayMarkers, 0U);
    EXPECT_GT(shorter, 0U);
    EXPECT_GT(longer, 0U);
    EXPECT_GT(pauses, 0U);
}

TEST(Silent, SendsNothingButTakesFrameTime) {
    for (const auto& chunk : chunksOf({.scenario = Scenario::Silent}, 20)) {
        EXPECT_TRUE(chunk.bytes.empty());
        EXPECT_EQ(chunk.lineSlots, frameLength);
    }
}

TEST(Hold, SendsThePoseInEveryFrameWithTheCounterIfAsked) {
    const Frame pose{128, 1, 255, 150, 220, 100, 9, 8, 7, 6};
    for (const auto& chunk : chunksOf({.scenario = Scenario::Battery, .hold = pose}, 5))
        EXPECT_TRUE(std::ranges::equal(chunk.bytes, pose));
    const auto counted = chunksOf({.count = true, .hold = pose}, 3);
    EXPECT_EQ(counted[2].bytes,
              (std::vector<std::uint8_t>{128, 1, 255, 150, 220, 100, 0, 0, 0, 2}));
}

class Offset : public testing::TestWithParam<std::size_t> {};

TEST_P(Offset, DropsLeadingBytesOfTheFirstFrameOnly) {
    const std::size_t skip = GetParam();
    const auto whole = chunksOf({.count = true}, 2);
    const auto joined = chunksOf({.count = true, .offset = skip}, 2);
    EXPECT_TRUE(std::equal(joined[0].bytes.begin(), joined[0].bytes.end(),
                           whole[0].bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                           whole[0].bytes.end()));
    EXPECT_EQ(joined[0].lineSlots, frameLength - skip);
    EXPECT_EQ(joined[1].bytes, whole[1].bytes);
}

INSTANTIATE_TEST_SUITE_P(StartMidFrame, Offset, testing::Range<std::size_t>(0, frameLength),
                         glove::test::Numbered{"Skip"});

TEST(DropByte, LosesThatOneByteOfTheStreamAndKeepsItsLineTime) {
    const auto whole = chunksOf({.count = true, .offset = 3}, 4);
    const auto lossy = chunksOf({.count = true, .offset = 3, .dropByte = 7 + 10 + 4}, 4);
    std::vector<std::uint8_t> expected = whole[2].bytes;
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(lossy[2].bytes, expected);
    EXPECT_EQ(lossy[2].lineSlots, frameLength);
    for (const std::size_t i : {0, 1, 3}) EXPECT_EQ(lossy[i].bytes, whole[i].bytes) << i;
}

}  // namespace
