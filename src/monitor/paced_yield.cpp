#include "monitor/paced_yield.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <utility>

#include "acquisition/mscomm.h"

namespace glove {

PacedYield::PacedYield(MSComm& comm) : comm_(comm) {
    QObject::connect(&comm, &MSComm::charactersRead, &receiver_,
                     [this](const QByteArray& read) { phase_.observe(read); });
    QObject::connect(&comm, &MSComm::charactersArrived, &receiver_, [this] {
        sinceArrival_.start();
        if (waiting_) arrivedDuringWait();
    });
    quietTimer_.setSingleShot(true);
    quietTimer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % late
    QObject::connect(&quietTimer_, &QTimer::timeout, [this] { quietTimeElapsed(); });
    lineTimer_.setSingleShot(true);
    lineTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&lineTimer_, &QTimer::timeout, [this] { lineTimeElapsed(); });
}

std::chrono::milliseconds PacedYield::quietTime() const {
    const auto period = std::max<std::chrono::nanoseconds>(kSlowestFramePeriod, comm_.frameTime());
    return std::chrono::ceil<std::chrono::milliseconds>(period * 3 / 2);
}

bool PacedYield::enoughWaits() const {
    return wanted_ > 0 && comm_.inBufferCount() >= wanted_;
}

void PacedYield::operator()() {
    const int inputLen = comm_.inputLen();
    const int phaseWants = phase_.nextReadLength();
    wanted_ = phaseWants < kFrameLength ? std::min(phaseWants, inputLen) : inputLen;
    comm_.limitNextInput(wanted_ < inputLen ? wanted_ : 0);
    // A device that cannot be opened is tried again after a quiet time, as a silent line.
    const bool receiving = comm_.receive();
    // A pass that does not wait still lets the window handle its events; one that waits
    // handles them in the wait.
    if (receiving && enoughWaits()) {
        QCoreApplication::processEvents();
        return;
    }
    quiet_ = quietTime();
    if (std::exchange(quietWithRest_, false)) {
        // The last wait ended on a quiet line with part of a frame, which the poll has taken
        // since. If nothing came after it, the line has been quiet for a quiet time already:
        // waiting it out again would tell of a glove that stopped mid-frame twice as late.
        comm_.takeInWaiting();
        const bool nothingCame = comm_.inBufferCount() == 0 && sinceArrival_.isValid() &&
                                 std::chrono::milliseconds(sinceArrival_.elapsed()) >= quiet_;
        if (nothingCame || enoughWaits()) {
            QCoreApplication::processEvents();
            return;
        }
    }

    // The quiet time counts from the last character that arrived during the wait. The timer
    // is not started again for every character; when it fires early it waits out the rest.
    quietSince_.start();
    wentQuiet_ = false;
    slowerThanTheLine_ = false;
    waiting_ = true;
    // Watched only while the next character's time cannot be foreseen. A glove streaming at
    // the line's pace is met with its frame complete and the next one begun, so the line
    // is not watched at all then, and nothing is asked of the system to turn it on and off.
    if (!sleepThroughRest()) comm_.watchArrivals(true);
    quietTimer_.start(quiet_);
    wait_.exec();
    waiting_ = false;
    quietTimer_.stop();
    lineTimer_.stop();
    // What waits now came before the quiet; the character after it may start a frame.
    if (wentQuiet_) phase_.quietAfter(comm_.inBufferCount());
    quietWithRest_ = wentQuiet_ && comm_.inBufferCount() > 0;
}

void PacedYield::arrivedDuringWait() {
    if (enoughWaits()) {
        wait_.quit();
        return;
    }
    quietSince_.restart();
    sleepThroughRest();
}

// Once part of the read has come, the rest cannot come sooner than its time on the line.
// The wait stops watching arrivals and sleeps that long, and one character more, so a glove
// streaming at the line's pace is met with its frame complete and the next one begun: one
// wake-up a frame instead of one a character. A glove that sends slower than its line,
// found so when a sleep brings nothing, is watched character by character for the rest of
// the wait, as sleeping would only add wake-ups.
bool PacedYield::sleepThroughRest() {
    const int missing = wanted_ - comm_.inBufferCount();
    if (slowerThanTheLine_ || missing <= 0 || missing >= wanted_) return false;
    comm_.watchArrivals(false);
    lineTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(comm_.lineTime(missing + 1)));
    return true;
}

void PacedYield::lineTimeElapsed() {
    const int before = comm_.inBufferCount();
    comm_.takeInWaiting();  // may end the wait, or sleep again for what is still missing
    slowerThanTheLine_ = comm_.inBufferCount() == before;
    if (!enoughWaits() && !lineTimer_.isActive()) comm_.watchArrivals(true);
}

void PacedYield::quietTimeElapsed() {
    const std::chrono::milliseconds rest =
        quiet_ - std::chrono::milliseconds(quietSince_.elapsed());
    if (rest.count() > 0) {
        quietTimer_.start(rest);
    } else {
        wentQuiet_ = true;
        wait_.quit();
    }
}

void PacedYield::interrupt() {
    if (waiting_) wait_.quit();
}

}  // namespace glove
