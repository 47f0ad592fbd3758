#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <chrono>
#include <cstdint>

#include "exchange/exchange_file.h"

namespace glove {

class MSComm;

// Where frames start in the stream of characters read, as far as the reads so far tell.
//
// It keeps, for each of the ten places a character can take within a frame, whether every
// character read at that place since the stream was last found out of step was a marker.
// Places are counted from the start of the next read, so a read of any length just turns
// them round. The marker starts every frame, so its place stays; a reading of 128, even one
// held for a while, drops out as soon as that value moves; noise drops out at once.
//
//   - Place 0 still possible: reads are, or may be, in step. The next read is a whole one,
//     whatever other places hold 128: a glove at rest on 128 never sets off a realignment.
//   - Exactly one other place left, and every place seen twice since the evidence started:
//     the marker is there, so the next read takes only the rest of the frame that the last
//     read cut. (One sight is not enough: a lone 128 in noise would cut a good frame.) The poll
//     drops that short read, and the reads after it start at a marker.
//   - Several other places left: the stream cannot tell yet (or ever, if a reading sits on
//     128 for good) where frames start, and reads keep the step they have.
//   - No place left: the stream moved (a byte was lost, the glove restarted, noise), and
//     the evidence starts over from the character that showed it.
//
// A line that went quiet also starts the evidence over: a glove that pauses or stops does
// so between frames, or drops the rest of a frame, so its next character may start one.
class FramePhase {
  public:
    // Takes in the characters one read returned, in order.
    void observe(const QByteArray& read);
    // The line went quiet after the next `characters` characters still to be read.
    void quietAfter(int characters);
    // How many characters the next read should take: a frame, or the rest of a cut one.
    [[nodiscard]] int nextReadLength() const;

  private:
    static constexpr std::uint16_t kAllPlaces = (1U << kFrameLength) - 1;
    // Bit i: the place i characters after the start of the next read may hold the marker.
    std::uint16_t markerPlaces_ = kAllPlaces;
    int untilQuiet_ = -1;  // characters still to come before the quiet; -1: none known
    int seen_ = 0;         // characters taken in since the evidence started, up to two frames
};

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
    void arrivedDuringWait();
    bool sleepThroughRest();
    void lineTimeElapsed();
    void quietTimeElapsed();

    MSComm& comm_;
    FramePhase phase_;
    QMetaObject::Connection reads_;
    QMetaObject::Connection arrivals_;
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
};

}  // namespace glove
