#include "monitor/paced_yield.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "acquisition/mscomm.h"
#include "support/pty.h"

namespace glove {
namespace {

using test::bytes;

// The one yield of a pass, against the real serial control on a pseudo-terminal. Where
// frames start is FramePhase's own test, and whole streams are the fault suite's.
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
    EXPECT_GE(timedYield(), 300);
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

// A glove that stops mid-frame: the pass after the one that took the cut frame shows the
// silence at once, and a line silent from the start still waits a quiet time every pass.
TEST_F(Paced, AGloveStoppedMidFrameIsQuietOnceNotTwice) {
    EXPECT_GE(timedYield(), 300);
    EXPECT_GE(timedYield(), 300) << "a silent line must not turn into a busy loop";
    glove.send(bytes({128, 1, 2, 3, 4}));
    EXPECT_GE(timedYield(), 300);
    EXPECT_EQ(read().size(), 5);
    EXPECT_LT(timedYield(), 50);
    EXPECT_GE(timedYield(), 300);
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
