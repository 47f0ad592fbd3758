#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <chrono>

#include "acquisition/frame_phase.h"

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
class PacedYield {
  public:
    explicit PacedYield(MSComm& comm);
    PacedYield(const PacedYield&) = delete;
    PacedYield& operator=(const PacedYield&) = delete;

    void operator()();
    // Ends a wait at once, e.g. when the loop is to start over or the program ends.
    void interrupt();

    // How long the line stays quiet before a wait ends with what has arrived.
    [[nodiscard]] std::chrono::milliseconds quietTime() const;

    // The slowest glove still streams: at least five frames a second.
    static constexpr std::chrono::milliseconds kSlowestFramePeriod{200};

  private:
    [[nodiscard]] bool enoughWaits() const;
    void arrivedDuringWait();
    bool sleepThroughRest();
    void lineTimeElapsed();
    void quietTimeElapsed();

    MSComm& comm_;
    FramePhase phase_;
    QElapsedTimer sinceArrival_;  // since the last character arrived
    bool quietWithRest_ = false;  // the last wait went quiet with part of a frame waiting

    // The wait in progress; kept from pass to pass, as a pass comes 48 times a second.
    QEventLoop wait_;
    QTimer quietTimer_;
    QTimer lineTimer_;
    QElapsedTimer quietSince_;  // since the wait began or a character last arrived in it
    std::chrono::milliseconds quiet_{};
    int wanted_ = 0;
    bool waiting_ = false;
    bool wentQuiet_ = false;
    bool slowerThanTheLine_ = false;

    // The connections to the serial control, which outlives this yield, end when it goes;
    // declared last, it goes first.
    QObject receiver_;
};

}  // namespace glove
