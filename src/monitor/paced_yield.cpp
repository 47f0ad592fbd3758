#include "monitor/paced_yield.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <utility>

#include "acquisition/mscomm.h"

namespace glove {

namespace {
constexpr int kEnoughSeen = 2 * kFrameLength;
}  // namespace

void FramePhase::observe(const QByteArray& read) {
    for (const char character : read) {
        if (static_cast<unsigned char>(character) != kFrameMarker) markerPlaces_ &= ~1U;
        // Every place has been ruled out: start over, this character's place excepted.
        if (markerPlaces_ == 0) {
            markerPlaces_ = kAllPlaces & ~1U;
            seen_ = 0;
        }
        seen_ = std::min(seen_ + 1, kEnoughSeen);
        // The next character's place becomes place 0.
        markerPlaces_ = static_cast<std::uint16_t>((markerPlaces_ >> 1) |
                                                   ((markerPlaces_ & 1U) << (kFrameLength - 1)));
        if (untilQuiet_ > 0 && --untilQuiet_ == 0) quietAfter(0);
    }
}

void FramePhase::quietAfter(int characters) {
    untilQuiet_ = characters;
    if (characters > 0) return;
    markerPlaces_ = kAllPlaces;
    untilQuiet_ = -1;
    seen_ = 0;
}

int FramePhase::nextReadLength() const {
    if ((markerPlaces_ & 1U) != 0 || std::popcount(markerPlaces_) != 1 || seen_ < kEnoughSeen) {
        return kFrameLength;
    }
    return std::countr_zero(markerPlaces_);
}

PacedYield::PacedYield(MSComm& comm)
    : comm_(comm),
      reads_(QObject::connect(&comm, &MSComm::charactersRead,
                              [this](const QByteArray& read) { phase_.observe(read); })),
      arrivals_(
          QObject::connect(&comm, &MSComm::charactersArrived, [this] { sinceArrival_.start(); })) {}

PacedYield::~PacedYield() {
    QObject::disconnect(reads_);
    QObject::disconnect(arrivals_);
}

std::chrono::milliseconds PacedYield::quietTime() const {
    const auto period = std::max<std::chrono::nanoseconds>(kSlowestFramePeriod, comm_.frameTime());
    return std::chrono::ceil<std::chrono::milliseconds>(period * 3 / 2);
}

void PacedYield::operator()() {
    QCoreApplication::processEvents();
    const int inputLen = comm_.inputLen();
    const int phaseWants = phase_.nextReadLength();
    const int wanted = phaseWants < kFrameLength ? std::min(phaseWants, inputLen) : inputLen;
    comm_.limitNextInput(wanted < inputLen ? wanted : 0);
    const auto enoughWaits = [&] { return wanted > 0 && comm_.inBufferCount() >= wanted; };
    // A device that cannot be opened is tried again after a quiet time, as a silent line.
    const bool receiving = comm_.receive();
    if (receiving && enoughWaits()) return;
    // The last wait ended on a quiet line with part of a frame, which the poll has taken
    // since, and nothing came after it: the line has been quiet for a quiet time already.
    // Waiting it out again would tell of a glove that stopped mid-frame twice as late.
    const std::chrono::milliseconds quiet = quietTime();
    if (std::exchange(quietWithRest_, false) && comm_.inBufferCount() == 0 &&
        sinceArrival_.isValid() && std::chrono::milliseconds(sinceArrival_.elapsed()) >= quiet) {
        return;
    }

    // The quiet time counts from the last character that arrived during the wait. The timer
    // is not started again for every character; when it fires early it waits out the rest.
    QElapsedTimer sinceArrival;
    sinceArrival.start();
    QEventLoop wait;
    QTimer quietTimer;
    quietTimer.setSingleShot(true);
    quietTimer.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % late
    bool wentQuiet = false;
    QObject::connect(&quietTimer, &QTimer::timeout, &wait, [&] {
        const std::chrono::milliseconds rest =
            quiet - std::chrono::milliseconds(sinceArrival.elapsed());
        if (rest.count() > 0) {
            quietTimer.start(rest);
        } else {
            wentQuiet = true;
            wait.quit();
        }
    });
    // Once part of the read has come, the rest cannot come sooner than its time on the line.
    // The wait stops watching arrivals and sleeps that long, and one character more, so a
    // glove streaming at the line's pace is met with its frame complete and the next one
    // begun: one wake-up a frame instead of one a character. A glove that sends slower than
    // its line, found so when a sleep brings nothing, is watched character by character for
    // the rest of the wait, as sleeping would only add wake-ups.
    QTimer lineTimer;
    lineTimer.setSingleShot(true);
    lineTimer.setTimerType(Qt::PreciseTimer);
    bool slowerThanTheLine = false;
    QObject::connect(&lineTimer, &QTimer::timeout, &wait, [&] {
        const int before = comm_.inBufferCount();
        comm_.watchArrivals(true);
        slowerThanTheLine = comm_.inBufferCount() == before;
    });
    const auto sleepThroughRest = [&] {
        const int missing = wanted - comm_.inBufferCount();
        if (slowerThanTheLine || missing <= 0 || missing >= wanted) return;
        comm_.watchArrivals(false);
        lineTimer.start(std::chrono::ceil<std::chrono::milliseconds>(comm_.lineTime(missing + 1)));
    };
    const QMetaObject::Connection arrivals =
        QObject::connect(&comm_, &MSComm::charactersArrived, &wait, [&] {
            if (enoughWaits()) {
                wait.quit();
            } else {
                sinceArrival.restart();
                sleepThroughRest();
            }
        });
    sleepThroughRest();
    quietTimer.start(quiet);
    waiting_ = &wait;
    wait.exec();
    waiting_ = nullptr;
    QObject::disconnect(arrivals);
    lineTimer.stop();
    comm_.watchArrivals(true);
    // What waits now came before the quiet; the character after it may start a frame.
    if (wentQuiet) phase_.quietAfter(comm_.inBufferCount());
    quietWithRest_ = wentQuiet && comm_.inBufferCount() > 0;
}

void PacedYield::interrupt() {
    if (waiting_ != nullptr) waiting_->quit();
}

}  // namespace glove
