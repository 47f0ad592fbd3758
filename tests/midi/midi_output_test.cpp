#include "midi/midi_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/case_names.h"
#include "support/message_log.h"

namespace glove::midi {
namespace {

using namespace std::chrono_literals;
using State = MidiPort::State;
using Clock = MidiOutput::Clock;

struct ControllerCase {
    const char* name;
    calibration::Range range;
    int reading;
    std::optional<int> sent;   // the value sent last
    std::optional<int> value;  // the value to send now
};

class ControllerValue : public ::testing::TestWithParam<ControllerCase> {};

TEST_P(ControllerValue, IsTheReadingsPlaceInItsRangeOnceItMovesAStep) {
    const ControllerCase& c = GetParam();
    EXPECT_EQ(controllerChange(c.range, c.reading, c.sent), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ControllerValue,
    ::testing::Values(
        ControllerCase{"LowEndIs0", {30, 220}, 30, {}, 0},
        ControllerCase{"HighEndIs127", {30, 220}, 220, {}, 127},
        ControllerCase{"HalfwayRoundsUp", {0, 254}, 127, {}, 64},
        ControllerCase{"JustUnderHalfwayRoundsDown", {0, 254}, 126, {}, 63},
        ControllerCase{"AboveTheRangeIs127", {30, 220}, 255, {}, 127},
        ControllerCase{"TheValueSentIsNotSentAgain", {0, 254}, 127, 64, std::nullopt},
        ControllerCase{"UnderAStepFromTheValueSentSendsNothing", {0, 150}, 58, 50, std::nullopt},
        ControllerCase{"MoreThanAStepFromTheValueSentIsSent", {0, 150}, 57, 50, 48},
        ControllerCase{"TooNarrowARangeSendsNothing", {100, 107}, 107, {}, std::nullopt},
        ControllerCase{"AReadingOnARangeOf127IsNoChange", {0, 127}, 61, 60, std::nullopt},
        ControllerCase{"AReadingOnANarrowRangeIsNoChange", {20, 30}, 26, 64, std::nullopt},
        ControllerCase{"TwoReadingsOnANarrowRangeAreAChange", {20, 30}, 27, 64, 89},
        ControllerCase{"TheLowEndIsReachedFromUnderAStep", {0, 255}, 1, 1, 0},
        ControllerCase{"TheHighEndIsReachedFromUnderAStep", {0, 255}, 254, 126, 127}),
    test::CaseName());

TEST(MidiMessages, CarryTheChannelInTheStatusByte) {
    EXPECT_EQ(controlChange(1, 20, 127), (Message{0xB0, 20, 127}));
    EXPECT_EQ(controlChange(16, 28, 0), (Message{0xBF, 28, 0}));
    EXPECT_EQ(noteOn(10, 61), (Message{0x99, 61, 100}));
    EXPECT_EQ(noteOff(10, 61), (Message{0x89, 61, 0}));
}

// A port that keeps what it is sent, and that the test opens, refuses and fails at will: the
// real ones need a MIDI system, which the end-to-end tests start.
class TestPort final : public MidiPort {
  public:
    void open() noexcept override {
        ++opens;
        state = available ? State::Open : State::Failed;
    }
    Status status() noexcept override { return {state, fault}; }
    bool send(std::span<const std::uint8_t> message) noexcept override {
        if (state != State::Open || refusing) return false;
        sent.push_back({message[0], message[1], message[2]});
        return true;
    }
    // What it was sent since the last call.
    std::vector<Message> taken() { return std::exchange(sent, {}); }

    State state = State::Closed;
    std::string fault = "no MIDI system";
    bool available = true;
    bool refusing = false;
    int opens = 0;
    std::vector<Message> sent;
};

Frame frameOf(int raw) {
    Frame frame{};
    frame.fill(raw);
    frame[0] = kFrameMarker;
    return frame;
}

class MidiControllers : public ::testing::Test {
  protected:
    MidiControllers() {
        calibration::Ranges ranges{};
        ranges.fill({0, 254});
        ranges[0] = {1, 1};  // value 2, the battery, is not calibrated
        calibrator.setInForce(ranges);
    }
    calibration::Calibrator calibrator;
    TestPort port;
};

TEST_F(MidiControllers, GoOutOnlyWhenTheirValueChanges) {
    Controllers controllers{};
    for (int i = 0; i < calibration::kValueCount; ++i) controllers[i] = 100 + i;
    MidiOutput output(port, calibrator, 3, controllers);
    Frame frame = frameOf(127);
    output.frameRead(frame, Clock::now());
    std::vector<Message> all;
    for (int i = 1; i < calibration::kValueCount; ++i) all.push_back(controlChange(3, 100 + i, 64));
    EXPECT_EQ(port.taken(), all);
    output.frameRead(frame, Clock::now());
    EXPECT_EQ(port.taken(), std::vector<Message>{});
    frame[5] = 254;  // value 6
    frame[7] = 124;  // value 8: 62, two steps from the 64 sent
    output.frameRead(frame, Clock::now());
    EXPECT_EQ(port.taken(),
              (std::vector<Message>{controlChange(3, 104, 127), controlChange(3, 106, 62)}));
}

TEST_F(MidiControllers, AreSentAgainOnANewPortAndOnceCalibratedAgain) {
    MidiOutput output(port, calibrator, 1);
    const Frame frame = frameOf(254);
    output.frameRead(frame, Clock::now());
    EXPECT_EQ(port.taken().size(), 8U);
    port.state = State::Failed;
    output.frameRead(frame, Clock::now());
    port.state = State::Open;
    output.frameRead(frame, Clock::now());
    EXPECT_EQ(port.taken().size(), 8U) << "the new port's receivers have heard nothing";

    calibrator.setInForce(std::nullopt);
    output.frameRead(frame, Clock::now());
    calibration::Ranges ranges{};
    ranges.fill({0, 254});
    calibrator.setInForce(ranges);
    output.frameRead(frame, Clock::now());
    EXPECT_EQ(port.taken().size(), 9U);
}

// Two postures learnt, each values 2 to 10 all at one reading, uncalibrated.
class MidiNotes : public ::testing::Test {
  protected:
    MidiNotes() {
        posture::PostureSet set;
        for (const auto& [name, raw] : {std::pair{"open", kOpen}, {"fist", kFist}}) {
            posture::Values values{};
            values.fill(static_cast<float>(raw) / 255.0F);
            EXPECT_EQ(set.add({name, values}), "");
        }
        watch.setPostures(set);
    }

    // The hand holds `raw` long enough for the watch, which takes each frame first.
    void hold(MidiOutput& output, int raw) {
        const Frame frame = frameOf(raw);
        for (int i = 0; i < posture::kHoldFrames; ++i) {
            watch.frameRead(std::span(&frame, 1));
            output.frameRead(frame, Clock::now());
        }
    }

    static constexpr int kOpen = 51;
    static constexpr int kFist = 230;
    static constexpr int kBetween = 140;
    calibration::Calibrator calibrator;
    posture::PostureWatch watch{calibrator};
    TestPort port;
};

TEST_F(MidiNotes, StartAndEndWithThePostureInTheOrderLearnt) {
    MidiOutput output(port, calibrator, 2);
    output.usePostures(watch);
    hold(output, kOpen);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(2, 60)});
    hold(output, kFist);
    EXPECT_EQ(port.taken(), (std::vector<Message>{noteOff(2, 60), noteOn(2, 61)}));
    hold(output, kBetween);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOff(2, 61)});
    hold(output, kFist);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(2, 61)});
}

// A synthesiser's patch is mapped to the notes: removing an earlier posture moves none, and a
// note changed while its posture is held ends and the new one sounds.
TEST_F(MidiNotes, AreEachPosturesOwnAndFollowAChangeWhileHeld) {
    MidiOutput output(port, calibrator);
    output.usePostures(watch);
    posture::PostureSet set = watch.postures();
    ASSERT_TRUE(set.remove("open"));
    watch.setPostures(set);
    hold(output, kFist);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 61)});
    ASSERT_EQ(set.setNote("fist", 36), "");
    watch.setPostures(set);
    hold(output, kFist);
    EXPECT_EQ(port.taken(), (std::vector<Message>{noteOff(1, 61), noteOn(1, 36)}));
}

TEST_F(MidiNotes, EndAtExit) {
    {
        MidiOutput output(port, calibrator);
        output.usePostures(watch);
        hold(output, kFist);
    }
    EXPECT_EQ(port.taken(), (std::vector<Message>{noteOn(1, 61), noteOff(1, 61)}));
}

TEST_F(MidiNotes, EndWhenTheGloveIsGoneAndStartAgainWhenItIsBack) {
    MidiOutput output(port, calibrator);
    output.usePostures(watch);
    hold(output, kOpen);
    output.textShown("Connecting.....");
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 60)});
    output.textShown(" No Device Found");
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOff(1, 60)});
    hold(output, kOpen);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 60)});
}

// A receiver that does not read: the note off it refused is sent once it reads again, and
// the note on of a posture still held goes out late rather than never.
TEST_F(MidiNotes, ThatAReceiverRefusedAreSentOnceItTakesThemIn) {
    const test::MessageLog log;
    MidiOutput output(port, calibrator);
    output.usePostures(watch);
    hold(output, kOpen);
    port.refusing = true;
    hold(output, kFist);
    output.textShown(" No Device Found");
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 60)});
    port.refusing = false;
    output.textShown(" No Device Found");
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOff(1, 60)});
    port.refusing = true;
    hold(output, kFist);
    port.refusing = false;
    hold(output, kFist);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 61)});
    EXPECT_EQ(log.count("not taking events in"), 1);
    EXPECT_GT(output.dropped(), 0);
}

// The port's notes went with it; the posture held sounds again on the new port, and the port
// is tried again only every so often, each outage said once.
TEST_F(MidiNotes, SoundAgainOnAPortOpenedAgain) {
    const test::MessageLog log;
    MidiOutput output(port, calibrator);
    output.usePostures(watch);
    hold(output, kOpen);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 60)});
    port.state = State::Failed;
    port.fault = "the JACK server stopped";
    port.available = false;
    const int opens = port.opens;
    const Frame frame = frameOf(kOpen);
    const auto start = Clock::now() + kRetryTime;
    for (auto t = start; t < start + kRetryTime; t += 20ms) output.frameRead(frame, t);
    port.fault = "no JACK server is running";  // the same outage, told once
    for (auto t = start + kRetryTime; t < start + kRetryTime * 2; t += 20ms) {
        output.frameRead(frame, t);
    }
    EXPECT_EQ(port.opens - opens, 2);
    EXPECT_EQ(log.count("MIDI:"), 1) << log.text().toStdString();
    EXPECT_EQ(log.count("MIDI: the JACK server stopped; the port is opened again"), 1);
    port.available = true;
    output.frameRead(frame, start + kRetryTime * 3);
    output.frameRead(frame, start + kRetryTime * 3);
    EXPECT_EQ(port.taken(), std::vector<Message>{noteOn(1, 60)});
    port.state = State::Failed;
    output.frameRead(frame, start + kRetryTime * 3);
    EXPECT_EQ(log.count("MIDI:"), 2) << "each outage is told";
}

}  // namespace
}  // namespace glove::midi
