#include "monitor/paced_yield.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "acquisition/mscomm.h"
#include "exchange/exchange_file.h"

namespace glove {

int PacedYield::charactersToWaitFor() const {
    const int inputLen = comm_.inputLen();
    const qsizetype marker = dataF_.lastIndexOf(static_cast<char>(exchange::kFrameMarker));
    if (marker < 0) return inputLen;
    const auto rest = exchange::kFrameLength - (dataF_.size() - marker);
    return rest > 0 && rest < inputLen ? static_cast<int>(rest) : inputLen;
}

void PacedYield::operator()() {
    QCoreApplication::processEvents();
    const auto quietTime = std::chrono::ceil<std::chrono::milliseconds>(comm_.frameTime());
    const int wanted = charactersToWaitFor();
    const auto enoughWaits = [&] { return wanted > 0 && comm_.inBufferCount() >= wanted; };
    if (enoughWaits() || quietTime.count() == 0) return;

    QEventLoop wait;
    QTimer quiet;
    quiet.setSingleShot(true);
    quiet.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire up to 5 % late
    QObject::connect(&quiet, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(&comm_, &MSComm::charactersArrived, &wait, [&] {
        if (enoughWaits()) {
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
