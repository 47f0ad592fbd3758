// Gloves unlike our simulator: readings of 128 anywhere, random and boundary readings, pauses
// between frames, a reader joining mid-frame and a byte lost on the line.

#include <random>
#include <thread>

#include "common/glove_frame.h"
#include "fault_rig.h"
#include "monitor/status_text.h"
#include "support/case_names.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove::fault {
namespace {

using Clock = std::chrono::steady_clock;

enum class Readings { Random, Resting, Held6, Held2To6, All128, All0, All255 };

QByteArray frameOf(Readings kind, std::mt19937& random) {
    QByteArray frame(1, static_cast<char>(kFrameMarker));
    for (int value = 2; value <= kFrameLength; ++value) {
        int reading = static_cast<int>(random() % 256);
        if (kind == Readings::Resting) reading = 125 + reading % 7;
        if (kind == Readings::Held6 && value == 6) reading = 128;
        if (kind == Readings::Held2To6 && value <= 6) reading = 128;
        if (kind == Readings::All128) reading = 128;
        if (kind == Readings::All0) reading = 0;
        if (kind == Readings::All255) reading = 255;
        frame += static_cast<char>(reading);
    }
    return frame;
}

// Sends frames on its own thread as a glove does: each at its start time, byte by byte at
// the line's pace or all at once.
class PacedGlove {
  public:
    PacedGlove(const test::Pty& pty, std::vector<QByteArray> frames, double perSecond, bool burst)
        : pty_(pty), frames_(std::move(frames)), perSecond_(perSecond), burst_(burst) {}
    ~PacedGlove() {
        if (thread_.joinable()) thread_.join();
    }

    void start() {
        thread_ = std::thread([this] {
            const auto begin = Clock::now();
            const auto period = std::chrono::duration<double>(1.0 / perSecond_);
            for (std::size_t k = 0; k < frames_.size(); ++k) {
                const auto at = begin + std::chrono::duration_cast<Clock::duration>(period * k);
                const QByteArray& frame = frames_[k];
                for (qsizetype i = 0; i < frame.size(); i += burst_ ? frame.size() : 1) {
                    std::this_thread::sleep_until(at + lineTime(i, kGloveBaud));
                    pty_.send(frame.mid(i, burst_ ? frame.size() : 1));
                }
            }
        });
    }

  private:
    const test::Pty& pty_;
    std::vector<QByteArray> frames_;
    double perSecond_;
    bool burst_;
    std::thread thread_;
};

// Runs the loop on the frames until every byte has been read; the reads in order.
std::vector<QByteArray> readsOf(LoopRig& rig, const test::Pty& pty,
                                const std::vector<QByteArray>& frames, double perSecond,
                                bool burst) {
    qsizetype total = 0;
    for (const QByteArray& frame : frames) total += frame.size();
    rig.comm.setPortOpen(true);  // the device is open before the glove starts
    rig.comm.setPortOpen(false);
    PacedGlove glove(pty, frames, perSecond, burst);
    rig.run(static_cast<int>(frames.size()) * 3 + 20, [&](int pass) {
        if (pass == 1) glove.start();
        return rig.everything.size() < total;
    });
    std::vector<QByteArray> reads;
    for (const LoopRig::Poll& poll : rig.polls) {
        if (poll.read && !poll.read->isEmpty()) reads.push_back(*poll.read);
    }
    return reads;
}

// A glove on a pseudo-terminal and the loop on real parts reading it.
class OnALine {
  protected:
    test::Pty pty;
    test::TempDir dir;
    LoopRig rig{pty.path(), dir.path()};
};

struct Glove {
    const char* name;
    Readings readings;
    double perSecond;
    bool burst;
    int frames;
    friend void PrintTo(const Glove& glove, std::ostream* os) { *os << glove.name; }
};

class AnyGlove : public OnALine, public ::testing::TestWithParam<Glove> {};

TEST_P(AnyGlove, EveryFrameIsReadWholeAndTheMonitorNeverSaysNoDevice) {
    const Glove& g = GetParam();
    std::mt19937 random(99);
    std::vector<QByteArray> frames;
    QByteArray sent;
    for (int k = 0; k < g.frames; ++k) sent += frames.emplace_back(frameOf(g.readings, random));

    const std::vector<QByteArray> reads = readsOf(rig, pty, frames, g.perSecond, g.burst);

    ASSERT_TRUE(rig.everything == sent) << "bytes lost or out of order";
    for (std::size_t k = 0; k < reads.size(); ++k) {
        ASSERT_EQ(reads[k].size(), 10) << "read " << k << " cut a frame";
    }
    EXPECT_TRUE(noExchangeFaults(rig));
    const auto firstRead = std::find_if(rig.polls.begin(), rig.polls.end(), [](const auto& poll) {
        return poll.read && !poll.read->isEmpty();
    });
    for (auto poll = firstRead; poll != rig.polls.end(); ++poll) {
        EXPECT_FALSE(poll->after.content.isEmpty()) << "pass " << poll->pass << " emptied it";
        EXPECT_NE(rig.display.lastTextOfPass(poll->pass), status::kNoDevice)
            << "pass " << poll->pass;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AnyGlove,
    ::testing::Values(Glove{"random", Readings::Random, 48, false, 96},
                      Glove{"resting_bursts", Readings::Resting, 48, true, 96},
                      Glove{"held_value_6", Readings::Held6, 48, false, 96},
                      Glove{"held_values_2_to_6", Readings::Held2To6, 48, false, 48},
                      Glove{"all_128", Readings::All128, 48, true, 48},
                      Glove{"all_0", Readings::All0, 48, false, 48},
                      Glove{"all_255", Readings::All255, 48, false, 48},
                      Glove{"random_25_a_second_bursts", Readings::Random, 25, true, 30},
                      Glove{"resting_10_a_second", Readings::Resting, 10, false, 15},
                      Glove{"random_5_a_second_bursts", Readings::Random, 5, true, 8}),
    test::CaseName());

struct Damage {
    const char* name;
    Readings readings;
    int offset;  // bytes of the first frame never sent: joined mid-frame
    int lostIn;  // the frame that loses its fifth byte on the line; -1: none
    // The stream cannot tell where frames start: reads keep their step, none is cut.
    bool keepsStep = false;
    friend void PrintTo(const Damage& damage, std::ostream* os) { *os << damage.name; }
};

class Rejoin : public OnALine, public ::testing::TestWithParam<Damage> {};

TEST_P(Rejoin, ReadsAreWholeAgainWithinFiveFramesAndStaySo) {
    constexpr int kFrames = 60;
    constexpr int kMostLost = 5;
    const Damage& d = GetParam();
    std::mt19937 random(31);
    std::vector<QByteArray> frames;
    for (int k = 0; k < kFrames; ++k) frames.push_back(frameOf(d.readings, random));
    frames.front().remove(0, d.offset);
    if (d.lostIn >= 0) frames[static_cast<std::size_t>(d.lostIn)].remove(4, 1);
    const int damaged = d.lostIn >= 0 ? d.lostIn : 0;

    std::vector<qsizetype> starts;  // of the frames still whole, in the bytes sent
    qsizetype at = 0;
    for (const QByteArray& frame : frames) {
        starts.push_back(frame.size() == 10 ? at : -1);
        at += frame.size();
    }
    const qsizetype total = at;
    std::vector<bool> whole(kFrames, false);
    at = 0;
    for (const QByteArray& read : readsOf(rig, pty, frames, 48, false)) {
        const bool last = at + read.size() == total;  // the stream's tail, then silence
        EXPECT_TRUE(!d.keepsStep || last || read.size() == 10) << "a read was cut at " << at;
        const auto frame = std::find(starts.begin(), starts.end(), at);
        if (read.size() == 10 && frame != starts.end()) whole[frame - starts.begin()] = true;
        at += read.size();
    }

    if (d.keepsStep) return;
    const auto again = std::find(whole.begin() + damaged + 1, whole.end(), true);
    ASSERT_NE(again, whole.end()) << "reads never came back into step";
    EXPECT_LE(again - whole.begin() - damaged - 1, kMostLost);
    EXPECT_EQ(std::count(again, whole.end(), false), 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, Rejoin,
                         ::testing::Values(Damage{"random_joined", Readings::Random, 4, -1},
                                           Damage{"random_byte_lost", Readings::Random, 0, 20},
                                           Damage{"resting_joined", Readings::Resting, 7, -1},
                                           Damage{"resting_byte_lost", Readings::Resting, 0, 20},
                                           Damage{"held_value_6_joined", Readings::Held6, 3, -1,
                                                  true}),
                         test::CaseName());

}  // namespace
}  // namespace glove::fault
