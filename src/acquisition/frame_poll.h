#pragma once

#include <QByteArray>
#include <optional>
#include <string>
#include <vector>

#include "exchange/exchange_file.h"

namespace glove {

class Files;
class FrameFeed;
class RunTimeError;
class SerialControl;

// One rotation for each frame marker, starting at it, in the order of the markers' positions.
std::vector<Frame> alignedLines(const Frame& values);

// One poll of the glove: read up to ten characters into DataF, take their codes as the
// frame values, and rewrite the exchange file with one line for each frame marker,
// rotated so that the marker comes first. The poll never yields; its errors end inside
// it, except a failure while it closes a port that was already open.
class FramePoll {
  public:
    FramePoll(SerialControl& comm, Files& files, QByteArray& dataF,
              std::string exchangePath = std::string(exchange::kDefaultPath))
        : comm_(comm), files_(files), dataF_(dataF), exchangePath_(std::move(exchangePath)) {}

    void run();
    // Every frame read whole with a marker also goes to the feed, before the file.
    void feedTo(FrameFeed& feed) { feed_ = &feed; }

  private:
    // The frame values of a whole read, none for an empty one; a short read fails.
    std::optional<Frame> readFrame();
    // One line for each frame marker, rotated to it; no line without values.
    void writeExchangeFile(const std::optional<Frame>& values);
    // Says on stderr why the file cannot be written, once until it has been written again.
    void exchangeFileFailed(const RunTimeError& e);

    SerialControl& comm_;
    Files& files_;
    QByteArray& dataF_;
    std::string exchangePath_;
    FrameFeed* feed_ = nullptr;
    bool exchangeFileProblemSaid_ = false;
};

}  // namespace glove
