#pragma once

#include <termios.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "pseudo_terminal.h"

namespace glove_sim {

// The termios constant for a classic line speed, if `baud` is one.
std::optional<speed_t> termiosSpeed(std::uint32_t baud);

// Where the frames go: a new pseudo-terminal or an existing serial device, raw, 8N1.
// Closing it (destruction) drops the line; a reader on a pseudo-terminal then sees a hang-up.
class SerialLine {
  public:
    static SerialLine openPseudoTerminal(std::uint32_t baud);
    static SerialLine openDevice(const std::string& path, speed_t speed);

    // The device a reader opens.
    const std::string& path() const { return path_; }

    // Writes all of `bytes`. While the line is full (nobody reading) it waits for room rather
    // than dropping bytes, asking keepGoing() now and then; false if that said stop.
    bool writeAll(std::span<const std::uint8_t> bytes, const std::function<bool()>& keepGoing);

    // Waits until what was written has left, while a reader keeps taking it; never more than
    // a second.
    void drain();

    // Bytes written that the reader has not taken yet. A pseudo-terminal keeps them for as long
    // as nobody reads; a serial device sends at the line's pace whether anyone listens or not,
    // so for it this is 0.
    std::size_t unread() const;

  private:
    SerialLine(glove::pty::FileDescriptor writer, glove::pty::FileDescriptor heldSlave,
               std::string path);

    glove::pty::FileDescriptor writer_;
    // Pseudo-terminal only: our own handle on the reader's side, so the monitor closing and
    // reopening it does not hang up the line.
    glove::pty::FileDescriptor heldSlave_;
    std::string path_;
};

// A symbolic link to the line, swapped in atomically and removed when this goes away.
class DeviceLink {
  public:
    // Throws UsageError if linkPath exists and is not a symbolic link.
    DeviceLink(std::string linkPath, std::string target);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

  private:
    std::string linkPath_;
    std::string target_;
};

}  // namespace glove_sim
