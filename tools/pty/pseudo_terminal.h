#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <utility>

namespace glove::pty {

// An open file descriptor, closed when this goes away.
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

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset();

  private:
    int fd_ = -1;
};

// Makes a terminal line raw: 8 data bits, no parity, one stop bit, no flow control, a local
// line that receives; at `speed` when given. Throws std::system_error naming `name`.
void makeRaw(int fd, std::optional<speed_t> speed, const std::string& name);

enum class MasterMode { Blocking, NonBlocking };

// A new pseudo-terminal pair, both ends open and raw: a reader opens `path`, the one playing
// the device writes to `master`.
struct PseudoTerminal {
    FileDescriptor master;
    FileDescriptor slave;
    std::string path;
};

// Throws std::system_error when the system has no pseudo-terminal to give.
PseudoTerminal openPseudoTerminal(std::optional<speed_t> speed, MasterMode mode);

}  // namespace glove::pty
