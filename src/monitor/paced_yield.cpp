#include "monitor/paced_yield.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdint>
#include <utility>

#include "acquisition/mscomm.h"

namespace glove {

PacedYield::PacedYield(MSComm& comm)
    : comm_(comm),
      pace_([&comm](int characters) { return comm.lineTime(characters); }),
      reads_(QObject::connect(&comm, &MSComm::charactersRead,
                              [this](const QByteArray& read) {
                                  phase_.observe(read);
                                  pace_.took(static_cast<int>(read.size()));
                              })),
      arrivals_(QObject::connect(&comm, &MSComm::charactersArrived,
                                 [this] {
                                     sinceArrival_.start();
                                     if (!waiting_) return;
                                     quietSince_.restart();
                                     // Taken in at a wake, they tell no time: the wake decides.
                                     if (watching_) {
                                         follow(pace_.arrived(comm_.inBufferCount(),
                                                              FramePace::Clock::now()));
                                     }
                                 })),
      wakeFd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    quietTimer_.setSingleShot(true);
    quietTimer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % late
    QObject::connect(&quietTimer_, &QTimer::timeout, [this] { quietTimeElapsed(); });
    if (wakeFd_ >= 0) {
        wake_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
        QObject::connect(wake_.get(), &QSocketNotifier::activated, [this] { woke(); });
    }
}

PacedYield::~PacedYield() {
    QObject::disconnect(reads_);
    QObject::disconnect(arrivals_);
    wake_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
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
    wanted_ = FramePace::readLength(inputLen, phase_.nextReadLength());
    comm_.limitNextInput(wanted_ < inputLen ? wanted_ : 0);
    // A device that cannot be opened is tried again after a quiet time, as a silent line.
    const bool receiving = comm_.receive();
    const FramePace::Wait wait =
        pace_.begin(wanted_, comm_.inBufferCount(), FramePace::Clock::now());
    // A pass that does not wait still lets the window handle its events; one that waits
    // handles them in the wait.
    if (receiving && wait.kind == FramePace::Wait::Kind::Done) {
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
    waiting_ = true;
    follow(wait);
    quietTimer_.start(quiet_);
    wait_.exec();
    waiting_ = false;
    quietTimer_.stop();
    if (sleeping_) {
        // Ended by the quiet time or an interrupt: the wake must not come in a later pass.
        const itimerspec never{};
        timerfd_settime(wakeFd_, 0, &never, nullptr);
        sleeping_ = false;
    }
    // What waits now came before the quiet; the character after it may start a frame.
    if (wentQuiet_) {
        phase_.quietAfter(comm_.inBufferCount());
        pace_.lost();
    }
    quietWithRest_ = wentQuiet_ && comm_.inBufferCount() > 0;
}

void PacedYield::follow(FramePace::Wait wait) {
    switch (wait.kind) {
        case FramePace::Wait::Kind::Done:
            wait_.quit();
            return;
        case FramePace::Wait::Kind::Sleep:
            if (sleepUntil(wait.until)) return;
            // No timer to wake by: watching costs wake-ups, not frames.
            [[fallthrough]];
        case FramePace::Wait::Kind::Watch:
            watching_ = true;
            comm_.watchArrivals(true);
            return;
    }
}

// Characters that come while the line is not watched wait in the system and wake nobody: a
// glove streaming at the line's pace costs one wake-up a frame, at its end.
bool PacedYield::sleepUntil(FramePace::Time until) {
    if (wakeFd_ < 0) return false;
    const auto since = until.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    itimerspec at{};
    at.it_value.tv_sec = static_cast<time_t>(seconds.count());
    at.it_value.tv_nsec = static_cast<long>((since - seconds).count());
    if (timerfd_settime(wakeFd_, TFD_TIMER_ABSTIME, &at, nullptr) != 0) return false;
    sleeping_ = true;
    watching_ = false;
    comm_.watchArrivals(false);
    return true;
}

void PacedYield::woke() {
    std::uint64_t expirations = 0;
    // Nothing to read: the timer was disarmed after it expired, and the wake is void.
    if (::read(wakeFd_, &expirations, sizeof expirations) != sizeof expirations) return;
    sleeping_ = false;
    if (!waiting_) return;
    comm_.takeInWaiting();
    follow(pace_.wake(comm_.inBufferCount(), FramePace::Clock::now()));
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
