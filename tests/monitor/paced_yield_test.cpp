#include "monitor/paced_yield.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "acquisition/mscomm.h"
#include "support/pty.h"

namespace glove {
namespace {

using test::bytes;

// The one yield of a pass, against the real serial control on a pseudo-terminal.
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

    test::Pty glove;
    MSComm comm{glove.path()};
    QByteArray dataF;
    PacedYield yield{comm, dataF};
};

TEST_F(Paced, QuietLineReturnsAfterOneFrameTime) {
    const qint64 ms = timedYield();
    EXPECT_GE(ms, 20);  // 10 characters of 10 bits at 4800 baud: 20.8 ms
    EXPECT_LT(ms, 60);
}

TEST_F(Paced, ReturnsAsSoonAsAWholeReadWaits) {
    QTimer::singleShot(5, [this] { glove.send(QByteArray(10, 'a')); });
    const qint64 ms = timedYield();
    EXPECT_LT(ms, 18);
    EXPECT_EQ(comm.inBufferCount(), 10);
}

TEST_F(Paced, ReturnsAtOnceWhenAWholeReadAlreadyWaits) {
    glove.send(QByteArray(12, 'a'));
    test::processEventsFor(std::chrono::milliseconds(20));
    EXPECT_LT(timedYield(), 5);
}

TEST_F(Paced, EachArrivingCharacterStartsTheQuietTimeAgain) {
    // Five characters 12 ms apart: the wait outlasts them and then one frame time more.
    for (int i = 0; i < 5; ++i) {
        QTimer::singleShot(12 * i, Qt::PreciseTimer, [this] { glove.send(bytes({1})); });
    }
    const qint64 ms = timedYield();
    EXPECT_GE(ms, 48 + 20);
    EXPECT_LT(ms, 48 + 60);
}

// After a read that cut a frame, the wait ends once the rest of that frame waits, so the
// next read is that short rest and the reads after it start at a marker.
struct Cut {
    QByteArray lastRead;
    int rest;  // characters of the cut frame still to come
};

class RealignAfter : public Paced, public ::testing::WithParamInterface<Cut> {};

TEST_P(RealignAfter, ACutFrameWaitsOnlyForItsRest) {
    dataF = GetParam().lastRead;
    QTimer::singleShot(2, [this] { glove.send(QByteArray(GetParam().rest, 'r')); });
    const qint64 ms = timedYield();
    EXPECT_LT(ms, 15) << "returned as soon as the rest waited";
    EXPECT_EQ(comm.inBufferCount(), GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, RealignAfter,
    ::testing::Values(Cut{bytes({9, 128, 1, 2, 3, 4, 5, 6, 7, 8}), 1},  // one byte late
                      Cut{bytes({1, 2, 3, 4, 5, 6, 7, 128, 1, 2}), 7},
                      Cut{bytes({128, 1, 2, 3, 4, 5, 6, 7, 8}), 1},  // a short read
                      Cut{bytes({128, 1, 2}), 7}));

TEST_F(Paced, AWholeOrMarkerlessReadWaitsForAWholeRead) {
    for (const QByteArray& last : {bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
                                   bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), QByteArray()}) {
        dataF = last;
        QTimer::singleShot(2, [this] { glove.send(QByteArray(5, 'r')); });
        const qint64 ms = timedYield();
        EXPECT_GE(ms, 20) << "five characters are not a whole read";
        comm.setPortOpen(true);
        EXPECT_EQ(comm.input().size(), 5);
        comm.setPortOpen(false);
    }
}

TEST_F(Paced, HandlesTheWindowsEventsWhileItWaits) {
    bool handled = false;
    QTimer::singleShot(2, [&] { handled = true; });
    yield();
    EXPECT_TRUE(handled);
}

TEST_F(Paced, InterruptEndsTheWaitAtOnce) {
    comm.setSettings("300,N,8,1");  // a frame time of a third of a second
    QTimer::singleShot(5, [this] { yield.interrupt(); });
    EXPECT_LT(timedYield(), 100);
}

}  // namespace
}  // namespace glove
