#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <string>

#include "acquisition/frame_poll.h"
#include "acquisition/mscomm.h"
#include "exchange/exchange_file.h"
#include "exchange/posix_files.h"
#include "monitor/connect_loop.h"
#include "monitor/paced_yield.h"

namespace glove {

class FrameFeed;
class GloveDisplay;

// The road of a frame, without a window: the serial control, the poll with its alignment,
// the pace, the exchange file and the Connect loop, wired once. The window, the benchmarks
// and the tests build this; every output takes its frames through the feed.
class GlovePipeline {
  public:
    struct Options {
        QString device;  // empty: serial port 2's device
        std::string exchangePath = std::string(exchange::kDefaultPath);
        FrameFeed* feed = nullptr;  // takes every frame the poll reads whole
        // Where a benchmark or a test watches or steers the loop: each runs in place of a
        // poll or a yield and is handed the real one, to run or not.
        std::function<void(FramePoll&)> aroundPoll = {};
        std::function<void(PacedYield&)> aroundYield = {};
        Files* files = nullptr;  // the files the exchange file goes through; none: its own
    };

    GlovePipeline(GloveDisplay& display, Options options);
    GlovePipeline(const GlovePipeline&) = delete;
    GlovePipeline& operator=(const GlovePipeline&) = delete;

    // Connect: sets the port up and runs the loop until stop(); pressed again, starts over.
    void connect() { loop_.run(); }
    // One poll outside the loop, as the serial control's OnComm asks for one. The error a
    // poll lets through has no caller here to take it, so it is said on stderr.
    void pollNow();
    // The program is ending: the loop runs no further step.
    void stop() { loop_.stop(); }

    [[nodiscard]] MSComm& comm() { return comm_; }
    [[nodiscard]] Files& files() { return files_; }
    [[nodiscard]] const std::string& exchangePath() const { return exchangePath_; }
    [[nodiscard]] const QByteArray& dataF() const { return dataF_; }
    [[nodiscard]] ConnectLoop& loop() { return loop_; }
    [[nodiscard]] const ConnectLoop& loop() const { return loop_; }

  private:
    void poll() { aroundPoll_(poll_); }
    void yield() { aroundYield_(pace_); }

    std::string exchangePath_;
    // Declared before all that hold on to it, so it outlives them; owned here, not by a window.
    MSComm comm_;
    PosixFiles ownFiles_;
    Files& files_;
    QByteArray dataF_;  // what the last read of the port returned
    FramePoll poll_;
    PacedYield pace_;
    // The options' own, else the plain run.
    std::function<void(FramePoll&)> aroundPoll_;
    std::function<void(PacedYield&)> aroundYield_;
    ConnectLoop loop_;
};

}  // namespace glove
