#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <chrono>
#include <memory>

#include "acquisition/frame_phase.h"
#include "monitor/frame_pace.h"

class QSocketNotifier;

namespace glove {

class MSComm;

// The Connect loop's one yield per pass. It lets the window handle its events until the
// read that FramePhase asks for waits in the port's receive buffer, or until the line has
// been quiet for longer than a glove pauses between frames. A glove sends at least five
// frames a second, in bursts or byte by byte, so a quiet time of one and a half of its
// slowest frame periods never ends a wait between two frames of a streaming glove, and a
// line that really went silent says so within a third of a second. A silent line also
// costs only about three passes a second.
//
// The yield opens the device underneath (not the port) when it is not open, so that the
// first pass after Connect or after a replug also waits for a whole frame.
//
// A read that is to take only the rest of a cut frame is limited to that many characters
// at the serial control, so it stays short however the characters arrive: one at a time
// or many at once.
//
// When it looks at the line is FramePace's decision. It sleeps until an absolute time on the
// system's monotonic clock (a timer descriptor the window's event loop watches), so a wake
// lands within a few microseconds of a frame's last character instead of up to a
// millisecond after it, and does not move with the time the pass before it took.
class PacedYield {
  public:
    explicit PacedYield(MSComm& comm);
    PacedYield(const PacedYield&) = delete;
    PacedYield& operator=(const PacedYield&) = delete;
    ~PacedYield();

    void operator()();
    // Ends a wait at once, e.g. when the loop is to start over or the program ends.
    void interrupt();

    // How long the line stays quiet before a wait ends with what has arrived.
    [[nodiscard]] std::chrono::milliseconds quietTime() const;

    // The slowest glove still streams: at least five frames a second.
    static constexpr std::chrono::milliseconds kSlowestFramePeriod{200};

  private:
    [[nodiscard]] bool enoughWaits() const;
    void follow(FramePace::Wait wait);
    bool sleepUntil(FramePace::Time until);
    void woke();
    void quietTimeElapsed();

    MSComm& comm_;
    FramePhase phase_;
    FramePace pace_;
    QMetaObject::Connection reads_;
    QMetaObject::Connection arrivals_;
    QElapsedTimer sinceArrival_;  // since the last character arrived
    bool quietWithRest_ = false;  // the last wait went quiet with part of a frame waiting

    // The wait in progress; kept from pass to pass, as a pass comes 48 times a second.
    QEventLoop wait_;
    QTimer quietTimer_;
    int wakeFd_ = -1;  // a timer descriptor; -1 if the system gave none: the line is watched
    std::unique_ptr<QSocketNotifier> wake_;
    QElapsedTimer quietSince_;  // since the wait began or a character last arrived in it
    std::chrono::milliseconds quiet_{};
    int wanted_ = 0;
    bool waiting_ = false;
    bool watching_ = false;  // the wait watches the line rather than sleeping
    bool sleeping_ = false;  // the wake timer is set
    bool wentQuiet_ = false;
};

}  // namespace glove
