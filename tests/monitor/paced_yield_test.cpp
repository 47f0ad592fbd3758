#include "monitor/paced_yield.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <random>

#include "acquisition/mscomm.h"
#include "support/pty.h"

namespace glove {
namespace {

using test::bytes;

// ---- Where frames start: reads taken as FramePhase asks, on streams gloves send ----------

using FrameOf = std::function<QByteArray(int index, std::mt19937& random)>;

QByteArray frameWith(std::mt19937& random, int lowest, int highest, std::vector<int> held128) {
    QByteArray frame(1, static_cast<char>(128));
    for (int value = 2; value <= 10; ++value) {
        const bool held = std::find(held128.begin(), held128.end(), value) != held128.end();
        const auto reading = lowest + static_cast<int>(random() % (highest - lowest + 1));
        frame += static_cast<char>(held ? 128 : reading);
    }
    return frame;
}

struct Stream {
    const char* name;
    FrameOf frame;
    int offset = 0;          // bytes of the first frame the reader never sees
    int dropAt = -1;         // a byte lost on the line, counted in the stream as sent
    int mostLost = 0;        // whole frames after the damaged one that may go unread whole
    bool keepsStep = false;  // the stream cannot tell where frames start: no read is cut
    friend void PrintTo(const Stream& stream, std::ostream* os) { *os << stream.name; }
};

class Phase : public ::testing::TestWithParam<Stream> {};

TEST_P(Phase, ReadsComeIntoStepAndStayThere) {
    constexpr int kFrames = 60;
    const Stream& s = GetParam();
    std::mt19937 random(7);
    QByteArray line;
    std::vector<qsizetype> starts;  // where each whole frame starts in what the reader gets
    int damaged = -1;
    for (int i = 0; i < kFrames; ++i) {
        QByteArray frame = s.frame(i, random);
        const qsizetype sent = i * 10;
        if (i == 0 && s.offset > 0) {
            frame.remove(0, s.offset);
            damaged = 0;
        } else if (s.dropAt >= sent && s.dropAt < sent + 10) {
            frame.remove(s.dropAt - sent, 1);
            damaged = i;
        }
        starts.push_back(frame.size() == 10 ? line.size() : -1);
        line += frame;
    }

    FramePhase phase;
    std::vector<bool> whole(kFrames, false);
    bool cut = false;
    for (qsizetype at = 0; at < line.size();) {
        const int length = phase.nextReadLength();
        const QByteArray read = line.mid(at, length);
        cut = cut || (at > 0 && length != 10);
        const auto frame = std::find(starts.begin(), starts.end(), at);
        if (read.size() == 10 && frame != starts.end()) whole[frame - starts.begin()] = true;
        phase.observe(read);
        at += read.size();
    }
    if (s.keepsStep) {
        EXPECT_FALSE(cut) << "a read was cut where the stream cannot tell where frames start";
        return;
    }
    const auto firstWhole = std::find(whole.begin() + damaged + 1, whole.end(), true);
    ASSERT_NE(firstWhole, whole.end()) << "reads never came into step";
    EXPECT_LE(firstWhole - whole.begin() - damaged - 1, s.mostLost);
    for (auto frame = firstWhole; frame != whole.end(); ++frame) {
        EXPECT_TRUE(*frame) << "frame " << frame - whole.begin() << " not read whole";
    }
}

const FrameOf kHeldValue6 = [](int, std::mt19937& r) { return frameWith(r, 0, 127, {6}); };
const FrameOf kHeldValues2To6 = [](int, std::mt19937& r) {
    return frameWith(r, 0, 127, {2, 3, 4, 5, 6});
};
const FrameOf kResting = [](int, std::mt19937& r) { return frameWith(r, 124, 132, {}); };
const FrameOf kRandom = [](int, std::mt19937& r) { return frameWith(r, 0, 255, {}); };
const FrameOf kSweep = [](int i, std::mt19937& r) {
    QByteArray frame = frameWith(r, 0, 100, {});
    frame[3] = static_cast<char>(120 + i % 17);  // through 128 and back
    return frame;
};

INSTANTIATE_TEST_SUITE_P(
    Gloves, Phase,
    ::testing::Values(Stream{"held_value_6", kHeldValue6}, Stream{"held_2_to_6", kHeldValues2To6},
                      Stream{"resting", kResting}, Stream{"random", kRandom},
                      Stream{"random_joined", kRandom, 3, -1, 5},
                      Stream{"random_joined_late", kRandom, 9, -1, 5},
                      Stream{"random_byte_lost", kRandom, 0, 204, 5},
                      Stream{"resting_joined", kResting, 6, -1, 5},
                      Stream{"resting_byte_lost", kResting, 0, 137, 5},
                      Stream{"sweep_byte_lost", kSweep, 0, 255, 5},
                      Stream{"held_value_6_joined", kHeldValue6, 2, -1, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The yield, against the real serial control on a pseudo-terminal ----------------------

class Paced : public ::testing::Test {
  protected:
    Paced() {
        comm.setSettings("4800,N,8,1");
        comm.setInputLen(10);
        comm.setPortOpen(true);  // opens the device underneath
        comm.setPortOpen(false);
    }

    qint64 timedYield() {
        QElapsedTimer timer;
        timer.start();
        yield();
        return timer.elapsed();
    }

    QByteArray read() {
        comm.setPortOpen(true);
        QByteArray got = comm.input();
        comm.setPortOpen(false);
        return got;
    }

    test::Pty glove;
    MSComm comm{glove.path()};
    PacedYield yield{comm};
};

TEST_F(Paced, AQuietLineOutlastsTheSlowestGlovesPauseBetweenFrames) {
    EXPECT_EQ(yield.quietTime().count(), 300);
    const qint64 ms = timedYield();
    EXPECT_GE(ms, 300);
}

TEST_F(Paced, ReturnsAsSoonAsAWholeReadWaits) {
    QTimer::singleShot(5, [this] { glove.send(QByteArray(10, 'a')); });
    const qint64 ms = timedYield();
    EXPECT_LT(ms, 150);
    EXPECT_EQ(comm.inBufferCount(), 10);
}

TEST_F(Paced, ReturnsAtOnceWhenAWholeReadAlreadyWaits) {
    glove.send(QByteArray(12, 'a'));
    test::processEventsFor(std::chrono::milliseconds(20));
    EXPECT_LT(timedYield(), 5);
}

TEST_F(Paced, AGlovePausingBetweenBytesIsWaitedFor) {
    // Five characters 100 ms apart: the wait outlasts them and then the quiet time.
    for (int i = 0; i < 5; ++i) {
        QTimer::singleShot(100 * i, Qt::PreciseTimer, [this] { glove.send(bytes({1})); });
    }
    EXPECT_GE(timedYield(), 400 + 300);
    EXPECT_EQ(read().size(), 5);
}

// After a read that cut a frame, the next read takes only the rest of it, even when the
// rest and the next frame arrive at once.
TEST_F(Paced, TheReadAfterACutFrameTakesOnlyItsRest) {
    // Joined three characters before a marker: two reads show where frames start.
    glove.send(bytes({7, 8, 9, 128, 1, 2, 3, 4, 5, 6, 7, 8, 9, 128, 1, 2, 3, 4, 5, 6}));
    test::processEventsFor(std::chrono::milliseconds(20));
    ASSERT_EQ(read().size(), 10);
    ASSERT_EQ(read().size(), 10);
    QTimer::singleShot(2, [this] { glove.send(bytes({7, 8, 9, 128, 1, 2, 3, 4, 5, 6, 7, 8, 9})); });
    EXPECT_LT(timedYield(), 150);
    EXPECT_EQ(read(), bytes({7, 8, 9}));
    yield();
    EXPECT_EQ(read(), bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Paced, HandlesTheWindowsEventsWhileItWaits) {
    bool handled = false;
    QTimer::singleShot(2, [&] { handled = true; });
    yield();
    EXPECT_TRUE(handled);
}

TEST_F(Paced, InterruptEndsTheWaitAtOnce) {
    QTimer::singleShot(5, [this] { yield.interrupt(); });
    EXPECT_LT(timedYield(), 100);
}

}  // namespace
}  // namespace glove
