#pragma once

#include <stdexcept>
#include <string>

#include "common/unique_fd.h"

namespace glove {

// The monitor writing an exchange file, as its lock file records it.
struct ExchangeHolder {
    long pid = 0;        // 0: not known
    std::string device;  // empty: not known; made printable
};

// Another running monitor writes the exchange file; what() names the file and that monitor.
class ExchangeInUse : public std::runtime_error {
  public:
    ExchangeInUse(const std::string& exchangePath, const ExchangeHolder& holder);
    [[nodiscard]] const ExchangeHolder& holder() const { return holder_; }

  private:
    ExchangeHolder holder_;
};

// The lock could not be taken for another reason; what() says why, in one line.
class ExchangeLockError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One monitor per exchange file: an flock on "<dir>/.<name>.lock" beside it, held for the
// program's life. The kernel drops it when the process ends, however it ends, so a killed
// monitor never blocks the next. The file records the holder's pid and device, so that a second
// monitor can name it. The exchange file's directory is often /tmp, writable by anyone: the
// lock file is never opened through a symbolic link, and only a plain single-link file of our
// own user is written to or removed; another user's is only locked.
class ExchangeLock {
  public:
    // "/tmp/InputFile" gives "/tmp/.InputFile.lock".
    static std::string pathFor(const std::string& exchangePath);

    // Takes the lock for the exchange file at `exchangePath`, recording `device` in it.
    // ExchangeInUse when another process holds it; ExchangeLockError when it cannot be taken.
    static ExchangeLock take(const std::string& exchangePath, const std::string& device);

    ExchangeLock(ExchangeLock&&) noexcept = default;
    ExchangeLock& operator=(ExchangeLock&&) = delete;
    // Removes a lock file of our own, while still holding it, then lets go.
    ~ExchangeLock();

  private:
    ExchangeLock(UniqueFd fd, std::string ownPath)
        : fd_(std::move(fd)), ownPath_(std::move(ownPath)) {}

    UniqueFd fd_;
    std::string ownPath_;  // empty: the file is not ours to remove
};

}  // namespace glove
