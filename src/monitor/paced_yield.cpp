#include "monitor/paced_yield.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "acquisition/mscomm.h"

namespace glove {

bool PacedYield::wholeReadWaits() const {
    return comm_.inputLen() > 0 && comm_.inBufferCount() >= comm_.inputLen();
}

void PacedYield::operator()() {
    QCoreApplication::processEvents();
    const auto quietTime = std::chrono::ceil<std::chrono::milliseconds>(comm_.frameTime());
    if (wholeReadWaits() || quietTime.count() == 0) return;

    QEventLoop wait;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % late
    QObject::connect(&quiet, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(&comm_, &MSComm::charactersArrived, &wait, [&] {
        if (wholeReadWaits()) {
            wait.quit();
        } else {
            quiet.start(quietTime);
        }
    });
    quiet.start(quietTime);
    waiting_ = &wait;
    wait.exec();
    waiting_ = nullptr;
}

void PacedYield::interrupt() {
    if (waiting_ != nullptr) waiting_->quit();
}

}  // namespace glove
