#pragma once

#include <termios.h>

#include <QByteArray>
#include <QString>
#include <chrono>

#include "pseudo_terminal.h"

namespace glove::test {

// A pseudo-terminal pair in raw mode standing in for the glove's receiver: the test
// writes to the master as the glove would, the program opens the slave's path.
class Pty {
  public:
    Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty() = default;

    [[nodiscard]] QString path() const { return path_; }
    void send(const QByteArray& bytes) const;
    // What arrives at the master within the timeout: anything echoed back to the glove.
    [[nodiscard]] QByteArray received(std::chrono::milliseconds timeout) const;
    // The line's settings as the reader has made them.
    [[nodiscard]] termios settings() const;
    // Unplugs the receiver: both ends close and the reader sees a hang-up.
    void unplug();

  private:
    pty::FileDescriptor master_;
    pty::FileDescriptor slave_;
    QString path_;
};

// Lets the event loop run for a while, so the port's notifier takes bytes in.
void processEventsFor(std::chrono::milliseconds duration);

// Bytes as written, e.g. bytes({128, 40, 50}).
QByteArray bytes(std::initializer_list<int> values);

}  // namespace glove::test
