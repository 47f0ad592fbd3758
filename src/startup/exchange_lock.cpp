#include "startup/exchange_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/printable_text.h"

namespace glove {

namespace {

// Another run may remove the file between our open and our lock, again and again only if
// something is badly wrong.
constexpr int kAttempts = 16;
constexpr std::size_t kMaxRecord = 1024;

ExchangeLockError cannotLock(const std::string& path, const std::string& reason) {
    return ExchangeLockError("cannot lock " + path + ": " + reason);
}

// "pid=1234\ndevice=/dev/ttyUSB0\n", as take() writes it; what cannot be read stays unknown.
ExchangeHolder readHolder(int fd) {
    std::array<char, kMaxRecord> buffer{};
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), 0);
    ExchangeHolder holder;
    std::string_view text(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with("pid=")) {
            holder.pid = std::strtol(std::string(line.substr(4)).c_str(), nullptr, 10);
        } else if (line.starts_with("device=")) {
            // Another user may have written the file: it reaches a terminal made printable.
            holder.device = printableText(line.substr(7));
        }
    }
    // A holder that could not write its own record (another user's file) leaves an old one.
    if (holder.pid <= 0 || (::kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno == ESRCH)) {
        return {};
    }
    return holder;
}

// Whether the lock file at `path` is still the one open as `fd`.
bool stillAtPath(int fd, const std::string& path) {
    struct stat open {};
    struct stat atPath {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &atPath) == 0 &&
           open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
}

}  // namespace

ExchangeInUse::ExchangeInUse(const std::string& exchangePath, const ExchangeHolder& holder)
    : std::runtime_error([&] {
          std::string who;
          if (holder.pid > 0) who = "pid " + std::to_string(holder.pid);
          if (!holder.device.empty()) who += (who.empty() ? "" : " ") + ("on " + holder.device);
          return exchangePath + " is written by another glove-monitor" +
                 (who.empty() ? "" : " (" + who + ")") +
                 "; give each glove its own --exchange-file";
      }()),
      holder_(holder) {}

std::string ExchangeLock::pathFor(const std::string& exchangePath) {
    const std::size_t slash = exchangePath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    return exchangePath.substr(0, nameStart) + '.' + exchangePath.substr(nameStart) + ".lock";
}

ExchangeLock ExchangeLock::take(const std::string& exchangePath, const std::string& device) {
    const std::string path = pathFor(exchangePath);
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644));
        // Another user's file, which a sticky directory keeps us from opening to write: it
        // can still be locked.
        if (fd.get() < 0 && errno == EACCES) fd.reset(::open(path.c_str(), O_RDONLY | kFlags));
        if (fd.get() < 0) {
            throw cannotLock(
                path, errno == ELOOP ? "a symbolic link, not followed" : std::strerror(errno));
        }
        struct stat status {};
        if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            throw cannotLock(path, "not a regular file");
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) throw ExchangeInUse(exchangePath, readHolder(fd.get()));
            throw cannotLock(path, std::strerror(errno));
        }
        // The monitor before may have removed the file just before letting go: the lock
        // counts only on the file that is at the path.
        if (!stillAtPath(fd.get(), path)) continue;
        const bool own = status.st_uid == ::geteuid() && status.st_nlink == 1 &&
                         (::fcntl(fd.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
        if (!own) return {std::move(fd), {}};
        const std::string record =
            "pid=" + std::to_string(::getpid()) + "\ndevice=" + device + '\n';
        // Readable by others whatever the umask: a monitor of theirs names us from it. The
        // record only names the holder, so a failure to write it does not stop the start.
        ::fchmod(fd.get(), 0644);
        if (::ftruncate(fd.get(), 0) == 0) {
            [[maybe_unused]] const ssize_t written =
                ::pwrite(fd.get(), record.data(), record.size(), 0);
        }
        return {std::move(fd), path};
    }
    throw cannotLock(path, "it keeps being replaced");
}

ExchangeLock::~ExchangeLock() {
    // A lock moved away holds no descriptor, which is at no path.
    if (!ownPath_.empty() && stillAtPath(fd_.get(), ownPath_)) ::unlink(ownPath_.c_str());
}

}  // namespace glove
