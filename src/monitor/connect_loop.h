#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <string>

#include "common/glove_frame.h"
#include "exchange/exchange_file.h"
#include "monitor/reading.h"

namespace glove {

class Files;
class GloveDisplay;
class SerialControl;

// The Connect button's loop: set the port up once, then for ever yield to the window,
// poll, read the aligned frame back, show the status text and move the bars. Any error
// runs one extra poll and goes on with the step that the continuation table names, so
// the loop never stops by itself; it ends only with the program.
class ConnectLoop {
  public:
    // Setup, then one pass of the loop. A failing test continues into the branch it guards.
    enum class Step {
        CloseAllFiles,
        ShowConnecting,
        SetCommPort,
        SetSettings,
        SetInputLen,
        Yield,
        Poll,
        OpenExchangeFile,
        ReadReading,
        GestureTest,
        ShowGesture,
        BatteryTest,
        ShowBattery,
        ShowValues,
        CloseExchangeFile,
        DataFTest,
        ShowNoDevice,
        SetThumbLeft,
        SetThumbWidth,
        SetFinger0Top,
        SetFinger1Top,
        SetFinger2Top,
        SetFinger3Top,
    };
    static constexpr int kStepCount = static_cast<int>(Step::SetFinger3Top) + 1;

    static constexpr int kCommPort = 2;
    static inline const QString kSettings =
        QString::fromLatin1(kGloveSettings.data(), static_cast<qsizetype>(kGloveSettings.size()));
    static constexpr int kInputLen = kFrameLength;

    struct Parts {
        SerialControl& comm;
        Files& files;
        GloveDisplay& display;
        const QByteArray& dataF;
        std::function<void()> poll;   // one poll of the port into the exchange file
        std::function<void()> yield;  // lets the window handle its pending events
        std::function<void()> interruptYield = [] {};  // ends a yield that is waiting
        std::string exchangePath = std::string(exchange::kDefaultPath);
    };

    explicit ConnectLoop(Parts parts) : parts_(std::move(parts)) {}

    // Runs the setup and the loop until stop(). Pressed again while it runs (from inside
    // the yield), it restarts the running loop in place instead of nesting a new one.
    void run();
    // The program is ending: the loop runs no further step once the yield returns.
    void stop();
    [[nodiscard]] bool running() const { return running_; }

    // Sees every step before it runs; an error it raises counts as that step's failure.
    void setStepProbe(std::function<void(Step)> probe) { probe_ = std::move(probe); }

  private:
    void loop();
    Step execute(Step step);

    Parts parts_;
    Reading reading_{};
    std::function<void(Step)> probe_;
    bool running_ = false;
    bool restartRequested_ = false;
    bool stopRequested_ = false;
};

}  // namespace glove
