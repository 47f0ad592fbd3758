#pragma once

#include <termios.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace glove_sim {

// The termios constant for a standard line speed, if `baud` is one.
std::optional<speed_t> termiosSpeed(std::uint32_t baud);

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset();

  private:
    int fd_ = -1;
};

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

    // Waits, for a bounded time, until what was written has left.
    void drain();

    // Bytes written that the reader has not taken yet. A pseudo-terminal keeps them for as long
    // as nobody reads; a serial device sends at the line's pace whether anyone listens or not,
    // so for it this is 0.
    std::size_t unread() const;

  private:
    SerialLine(FileDescriptor writer, FileDescriptor heldSlave, std::string path);

    FileDescriptor writer_;
    // Pseudo-terminal only: our own handle on the reader's side, so the monitor closing and
    // reopening it does not hang up the line.
    FileDescriptor heldSlave_;
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
