#include "exchange/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <system_error>

#include "common/run_time_error.h"
#include "common/unique_fd.h"
#include "exchange/exchange_file.h"

namespace glove {

namespace {

// A number never needs more characters than this; a longer item is not one, and the
// limit keeps a huge file from being read into memory item by item.
constexpr std::size_t kLongestItem = 40;

[[noreturn]] void fail(ErrorNumber number, const std::string& what, const std::string& path) {
    throw RunTimeError(number, what + ": " + path);
}

[[noreturn]] void failOpen(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            fail(ErrorNumber::FileNotFound, "File not found", path);
        case EACCES:
        case EPERM:
        case EROFS:
            fail(ErrorNumber::PermissionDenied, "Permission denied", path);
        case ENOSPC:
        case EDQUOT:
            fail(ErrorNumber::DiskFull, "Disk full", path);
        default:  // ELOOP (a link), EISDIR, ENXIO (a fifo without reader), ...
            fail(ErrorNumber::PathAccessError,
                 std::string("Path/File access error (") + std::strerror(error) + ")", path);
    }
}

// Creating or renaming into a directory that does not exist.
[[noreturn]] void failOutput(int error, const std::string& path) {
    if (error == ENOENT) fail(ErrorNumber::PathNotFound, "Path not found", path);
    failOpen(error, path);
}

[[noreturn]] void failIo(int error, const std::string& path) {
    if (error == ENOSPC || error == EDQUOT) fail(ErrorNumber::DiskFull, "Disk full", path);
    fail(ErrorNumber::DeviceIoError, std::string("Device I/O error (") + std::strerror(error) + ")",
         path);
}

// The program never changes its user; asked once, not at every rewrite.
uid_t ourUser() {
    static const uid_t user = ::geteuid();
    return user;
}

// New files get this mode less the umask, as any program's new files do.
constexpr mode_t kNewFileMode = 0644;

int openNoFollow(const std::string& path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    kNewFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A temporary file is named after its path, hidden, with random characters that nobody
// can guess ahead: "/tmp/.InputFile.Xq3-9aZ_k2Lm" for "/tmp/InputFile".
constexpr std::string_view kRandomAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::size_t kRandomLength = 12;  // six bits each: 72 bits
constexpr int kNameAttempts = 16;

std::size_t nameStart(const std::string& path) {
    return path.rfind('/') + 1;  // 0 without a slash
}

std::string temporaryPrefix(const std::string& path) {
    const std::size_t start = nameStart(path);
    return path.substr(0, start) + '.' + path.substr(start) + '.';
}

bool isTemporaryName(std::string_view name, std::string_view prefix) {
    return name.size() == prefix.size() + kRandomLength && name.starts_with(prefix) &&
           name.substr(prefix.size()).find_first_not_of(kRandomAlphabet) == std::string_view::npos;
}

std::string randomSuffix(const std::string& path) {
    std::array<unsigned char, kRandomLength> bytes{};
    ssize_t n = 0;
    do {
        n = ::getrandom(bytes.data(), bytes.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(bytes.size())) failIo(errno, path);
    std::string suffix;
    for (const unsigned char byte : bytes) suffix += kRandomAlphabet[byte & 63U];
    return suffix;
}

const char* kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    return "something other than a regular file";
}

// Our own file at the path, if there is one; fails if something else is there.
std::optional<struct stat> replaceableFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::nullopt;  // the path is free, or its directory is missing
        failOpen(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        fail(ErrorNumber::PathAccessError,
             std::string("Path/File access error (") + kindOf(st.st_mode) + " is there)", path);
    }
    // A file made read-only is not replaced, just as it was never written in place. Our own
    // file with its owner's write bit is writable to us, as the bits are what the system
    // asks of an owner; only other files cost the system the question.
    const bool ownAndWritable = st.st_uid == ourUser() && (st.st_mode & S_IWUSR) != 0;
    if (!ownAndWritable &&
        ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        failOpen(errno, path);
    }
    if (st.st_uid != ourUser()) {
        fail(ErrorNumber::PathAccessError,
             "Path/File access error (a file of another user is there)", path);
    }
    if (st.st_nlink != 1) {
        fail(ErrorNumber::PathAccessError,
             "Path/File access error (a file with more than one link is there)", path);
    }
    return st;
}

}  // namespace

PosixFiles::~PosixFiles() {
    // Nothing is published from here: output that was never closed is discarded.
    for (auto& [number, h] : handles_) {
        ::close(h.fd);
        if (h.mode == Mode::Output) ::unlink(h.temporaryPath.c_str());
    }
}

void PosixFiles::checkCanOpen(int number, const std::string& path) const {
    if (number < 1 || number > kHighestFileNumber) {
        fail(ErrorNumber::BadFileNumber, "Bad file name or number", std::to_string(number));
    }
    if (handles_.contains(number)) fail(ErrorNumber::FileAlreadyOpen, "File already open", path);
    checkPathNotOpen(path);
}

void PosixFiles::checkPathNotOpen(const std::string& path) const {
    for (const auto& [number, h] : handles_) {
        if (h.path == path) fail(ErrorNumber::FileAlreadyOpen, "File already open", path);
    }
}

void PosixFiles::openForOutput(int number, const std::string& path) {
    checkCanOpen(number, path);
    const std::optional<struct stat> ownFile = replaceableFile(path);
    const std::string prefix = temporaryPrefix(path);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string temporaryPath = prefix + randomSuffix(path);
        const int fd = openNoFollow(temporaryPath, O_WRONLY | O_CREAT | O_EXCL);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            failOutput(errno, path);
        }
        struct stat st {};
        if (ownFile && ::fstat(fd, &st) == 0) {
            // The new content keeps the mode and group the user gave the file; a group this
            // user is not in cannot be given, and then the file keeps the user's own.
            if (st.st_gid != ownFile->st_gid) {
                (void)::fchown(fd, static_cast<uid_t>(-1), ownFile->st_gid);
            }
            if ((st.st_mode & 07777) != (ownFile->st_mode & 07777)) {
                (void)::fchmod(fd, ownFile->st_mode & 07777);
            }
        }
        handles_.emplace(number, Handle{.fd = fd,
                                        .mode = Mode::Output,
                                        .path = path,
                                        .temporaryPath = std::move(temporaryPath),
                                        .replacesOwnFile = ownFile.has_value()});
        return;
    }
    fail(ErrorNumber::PathAccessError, "Path/File access error (no free temporary name)", path);
}

void PosixFiles::openForInput(int number, const std::string& path) {
    checkCanOpen(number, path);
    UniqueFd fd(openNoFollow(path, O_RDONLY));
    if (fd.get() < 0) failOpen(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(ErrorNumber::PathAccessError, "Path/File access error (not a regular file)", path);
    }
    handles_.emplace(number, Handle{.fd = fd.release(), .mode = Mode::Input, .path = path});
}

PosixFiles::Handle& PosixFiles::handle(int number, Mode mode) {
    const auto it = handles_.find(number);
    if (it == handles_.end()) {
        fail(ErrorNumber::BadFileNumber, "Bad file name or number", std::to_string(number));
    }
    if (it->second.mode != mode) fail(ErrorNumber::BadFileMode, "Bad file mode", it->second.path);
    return it->second;
}

void PosixFiles::writeLine(int number, std::string_view line) {
    Handle& h = handle(number, Mode::Output);
    std::string text(line);
    text += exchange::kLineEnd;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(h.fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            h.writeFailed = true;
            failIo(errno, h.path);
        }
        done += static_cast<std::size_t>(n);
    }
}

int PosixFiles::peekChar(Handle& h) {
    if (h.begin == h.end && !h.atEnd) {
        ssize_t n = 0;
        do {
            n = ::read(h.fd, h.buffer.data(), h.buffer.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) failIo(errno, h.path);
        h.begin = 0;
        h.end = static_cast<std::size_t>(n);
        h.atEnd = n == 0;
    }
    return h.begin == h.end ? -1 : static_cast<unsigned char>(h.buffer[h.begin]);
}

int PosixFiles::nextChar(Handle& h) {
    const int c = peekChar(h);
    if (c >= 0) ++h.begin;
    return c;
}

double PosixFiles::readNumber(int number) {
    Handle& h = handle(number, Mode::Input);
    while (peekChar(h) == ' ' || peekChar(h) == '\t') nextChar(h);
    if (peekChar(h) < 0) fail(ErrorNumber::InputPastEndOfFile, "Input past end of file", h.path);

    std::string item;
    for (int c = nextChar(h); c >= 0 && c != ',' && c != '\n'; c = nextChar(h)) {
        if (c == '\r') {
            if (peekChar(h) == '\n') nextChar(h);
            break;
        }
        if (item.size() == kLongestItem) fail(ErrorNumber::TypeMismatch, "Type mismatch", h.path);
        item += static_cast<char>(c);
    }
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    // Digits with an optional sign, fraction and exponent, as from_chars reads them; it also
    // reads "inf" and "nan", which are no numbers here, and takes no '+' of its own.
    std::string_view digits = item;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if ((item.starts_with('+') && digits.starts_with('-')) ||
        digits.find_first_of("iInN") != std::string_view::npos ||
        error == std::errc::invalid_argument || end != digits.data() + digits.size()) {
        fail(ErrorNumber::TypeMismatch, "Type mismatch", h.path);
    }
    if (error == std::errc::result_out_of_range) {
        // Only an exponent takes a number this short out of range: a negative one makes
        // it too small to tell from 0, a positive one too large to hold.
        const bool tiny = digits.find("e-") != std::string_view::npos ||
                          digits.find("E-") != std::string_view::npos;
        if (tiny) return 0.0;
        fail(ErrorNumber::Overflow, "Overflow", h.path);
    }
    if (!std::isfinite(value)) fail(ErrorNumber::Overflow, "Overflow", h.path);
    return value;
}

void PosixFiles::release(Handle& h) {
    if (h.mode == Mode::Input) {
        if (::close(h.fd) != 0 && errno != EINTR) failIo(errno, h.path);
        return;
    }
    // The close reports what the system could not write (on a network file system).
    const bool closed = ::close(h.fd) == 0 || errno == EINTR;
    const int closeError = errno;
    const char* from = h.temporaryPath.c_str();
    const char* to = h.path.c_str();
    if (!closed || h.writeFailed) {
        // Lines may be missing: the path keeps its whole previous content. A failed write
        // was reported when it happened.
        (void)::unlink(from);
        if (!closed) failIo(closeError, h.path);
        return;
    }
    // Our own file is swapped with the new one rather than renamed over, then removed:
    // renaming over a file makes ext4 write the new data out at once, and the next rewrite
    // then waits for that write when it drops the file (up to seconds while another program
    // syncs the disk). Swapped, the short-lived files never reach the disk. Where the path
    // was free at open, whatever has appeared there since is not ours.
    int result = -1;
    if (h.replacesOwnFile) result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
    const bool swapped = h.replacesOwnFile && result == 0;
    if (!h.replacesOwnFile || (result != 0 && errno == ENOENT)) {  // or it was deleted since
        result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    }
    if (result != 0 && errno == EINVAL) {
        result = ::rename(from, to);  // a file system without these flags renames atomically
    }
    const int error = errno;
    // The content before, now under the hidden name, or the new one that found no place.
    // What cannot be removed now goes at Exit or at the next start.
    if (swapped || result != 0) (void)::unlink(from);
    if (result != 0) failOutput(error, h.path);
}

void PosixFiles::close(int number) {
    if (number == kAllFiles) return closeAll();
    // The handle is gone either way; a failure means the written lines may be lost.
    if (auto node = handles_.extract(number)) release(node.mapped());
}

void PosixFiles::closeAll() {
    // Release every handle before reporting the first failure, so none is left open.
    std::optional<RunTimeError> firstFailure;
    for (auto& [number, h] : handles_) {
        try {
            release(h);
        } catch (const RunTimeError& e) {
            if (!firstFailure) firstFailure = e;
        }
    }
    handles_.clear();
    if (firstFailure) throw *firstFailure;
}

void PosixFiles::remove(const std::string& path) {
    checkPathNotOpen(path);
    removeLeftovers(path);  // also what a rewrite could not remove at the time
    // unlink removes a symbolic link itself, never what it points to.
    if (::unlink(path.c_str()) != 0) {
        const int error = errno;
        if (error == EISDIR) fail(ErrorNumber::PathAccessError, "Path/File access error", path);
        failOpen(error, path);
    }
}

void PosixFiles::removeLeftovers(const std::string& path) {
    const std::size_t start = nameStart(path);
    const std::string directory = start == 0 ? std::string(".") : path.substr(0, start);
    const std::string prefix = '.' + path.substr(start) + '.';
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        const bool leftover = isTemporaryName(entry->d_name, prefix) &&
                              ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISREG(st.st_mode) && st.st_uid == ourUser();
        if (leftover) ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace glove
