#include "monitor/connect_loop.h"

#include <QtDebug>

#include "acquisition/serial_control.h"
#include "common/run_time_error.h"
#include "exchange/files.h"
#include "monitor/bar_graph.h"
#include "monitor/glove_display.h"
#include "monitor/status_text.h"

namespace glove {

namespace {

using Step = ConnectLoop::Step;

struct Continuation {
    Step failed;
    Step next;
};

// After an error the loop runs one extra poll and goes on here. A failing test goes on
// with the branch it guards, as if it had held.
constexpr std::array<Continuation, ConnectLoop::kStepCount> kAfterError{{
    {Step::CloseAllFiles, Step::ShowConnecting},
    {Step::ShowConnecting, Step::SetCommPort},
    {Step::SetCommPort, Step::SetSettings},
    {Step::SetSettings, Step::SetInputLen},
    {Step::SetInputLen, Step::Yield},
    {Step::Yield, Step::Poll},
    {Step::Poll, Step::OpenExchangeFile},
    {Step::OpenExchangeFile, Step::ReadReading},
    {Step::ReadReading, Step::GestureTest},
    {Step::GestureTest, Step::ShowGesture},
    {Step::ShowGesture, Step::CloseExchangeFile},
    {Step::BatteryTest, Step::ShowBattery},
    {Step::ShowBattery, Step::CloseExchangeFile},
    {Step::ShowValues, Step::CloseExchangeFile},
    {Step::CloseExchangeFile, Step::DataFTest},
    {Step::DataFTest, Step::ShowNoDevice},
    {Step::ShowNoDevice, Step::Yield},
    {Step::SetThumbLeft, Step::SetThumbWidth},
    {Step::SetThumbWidth, Step::SetFinger0Top},
    {Step::SetFinger0Top, Step::SetFinger1Top},
    {Step::SetFinger1Top, Step::SetFinger2Top},
    {Step::SetFinger2Top, Step::SetFinger3Top},
    {Step::SetFinger3Top, Step::Yield},
}};

constexpr bool tableFollowsSteps() {
    for (int i = 0; i < ConnectLoop::kStepCount; ++i) {
        if (static_cast<int>(kAfterError[i].failed) != i) return false;
    }
    return true;
}
static_assert(tableFollowsSteps(), "one row per step, in the order of the steps");

}  // namespace

void ConnectLoop::run() {
    if (running_) {
        // Pressed again from inside the yield: the running loop starts over when the
        // yield returns, so presses never deepen the stack.
        restartRequested_ = true;
        parts_.interruptYield();
        return;
    }
    running_ = true;
    restartRequested_ = false;
    stopRequested_ = false;
    try {
        loop();
    } catch (const RunTimeError& e) {
        // Only the trap's own extra poll lets an error through; it ends this run.
        qWarning().noquote() << "glove-monitor: the Connect loop stopped:" << e.what() << "(error"
                             << static_cast<int>(e.number()) << ")";
    }
    running_ = false;
}

void ConnectLoop::stop() {
    stopRequested_ = true;
    parts_.interruptYield();
}

void ConnectLoop::loop() {
    reading_ = {};
    Step step = Step::CloseAllFiles;
    while (!stopRequested_) {
        if (restartRequested_) {
            restartRequested_ = false;
            reading_ = {};
            step = Step::CloseAllFiles;
        }
        try {
            step = execute(step);
        } catch (const RunTimeError&) {
            parts_.poll();
            step = kAfterError[static_cast<std::size_t>(step)].next;
        }
    }
}

ConnectLoop::Step ConnectLoop::execute(Step step) {
    if (probe_) probe_(step);
    GloveDisplay& display = parts_.display;
    switch (step) {
        case Step::CloseAllFiles:
            parts_.files.closeAll();
            return Step::ShowConnecting;
        case Step::ShowConnecting:
            display.setText(status::kConnecting);
            return Step::SetCommPort;
        case Step::SetCommPort:
            parts_.comm.setCommPort(kCommPort);
            return Step::SetSettings;
        case Step::SetSettings:
            parts_.comm.setSettings(kSettings);
            return Step::SetInputLen;
        case Step::SetInputLen:
            parts_.comm.setInputLen(kInputLen);
            return Step::Yield;
        case Step::Yield:
            parts_.yield();
            return Step::Poll;
        case Step::Poll:
            parts_.poll();
            return Step::OpenExchangeFile;
        case Step::OpenExchangeFile:
            parts_.files.openForInput(exchange::kReaderFileNumber, parts_.exchangePath);
            return Step::ReadReading;
        case Step::ReadReading: {
            // All ten or none: a read that fails part-way keeps the previous reading.
            Reading fresh;
            for (Value& value : fresh) value = parts_.files.readNumber(exchange::kReaderFileNumber);
            reading_ = fresh;
            return Step::GestureTest;
        }
        case Step::GestureTest:
            return status::gestureTest(reading_) ? Step::ShowGesture : Step::BatteryTest;
        case Step::ShowGesture:
            display.setText(status::kGesture);
            return Step::CloseExchangeFile;
        case Step::BatteryTest:
            return status::batteryTest(reading_) ? Step::ShowBattery : Step::ShowValues;
        case Step::ShowBattery:
            display.setText(status::kBattery);
            return Step::CloseExchangeFile;
        case Step::ShowValues:
            display.setText(status::valuesLine(reading_));
            return Step::CloseExchangeFile;
        case Step::CloseExchangeFile:
            parts_.files.close(exchange::kReaderFileNumber);
            return Step::DataFTest;
        case Step::DataFTest:
            return parts_.dataF.isEmpty() ? Step::ShowNoDevice : Step::SetThumbLeft;
        case Step::ShowNoDevice:
            display.setText(status::kNoDevice);
            return Step::Yield;
        case Step::SetThumbLeft:
            display.setThumbLeft(bars::thumbLeft(reading_));
            return Step::SetThumbWidth;
        case Step::SetThumbWidth:
            display.setThumbWidth(bars::thumbWidth(reading_));
            return Step::SetFinger0Top;
        case Step::SetFinger0Top:
            display.setFingerTop(0, bars::fingerTop(reading_, 0));
            return Step::SetFinger1Top;
        case Step::SetFinger1Top:
            display.setFingerTop(1, bars::fingerTop(reading_, 1));
            return Step::SetFinger2Top;
        case Step::SetFinger2Top:
            display.setFingerTop(2, bars::fingerTop(reading_, 2));
            return Step::SetFinger3Top;
        case Step::SetFinger3Top:
            display.setFingerTop(3, bars::fingerTop(reading_, 3));
            return Step::Yield;
    }
    return Step::Yield;
}

}  // namespace glove
