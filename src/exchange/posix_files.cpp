#include "exchange/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <system_error>

#include "common/run_time_error.h"
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
    std::array<unsigned char, kRandomLength * 6 / 8> bits{};
    ssize_t n = 0;
    do {
        n = ::getrandom(bits.data(), bits.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(bits.size())) failIo(errno, path);
    std::string suffix;
    for (std::size_t i = 0; i < bits.size(); i += 3) {
        const unsigned group = bits[i] << 16U | bits[i + 1] << 8U | bits[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            suffix += kRandomAlphabet[group >> shift & 63U];
    }
    return suffix;
}

const char* kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    return "something other than a regular file";
}

bool isNumberText(std::string_view text) {
    // Digits with an optional sign, fraction and exponent: what a person or a program
    // may write for a number, and nothing that from_chars would read only in part.
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == text.size();
}

}  // namespace

PosixFiles::~PosixFiles() {
    // Nothing is published from here: output that was never closed is discarded.
    for (auto& [number, h] : handles_) {
        ::close(h.fd);
        if (h.mode == Mode::Output) ::unlink(h.temporaryPath.c_str());
    }
    for (const auto& [path, spare] : spares_) ::unlink(spare.name.c_str());
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

std::optional<struct stat> PosixFiles::checkReplaceable(const std::string& path) {
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

std::optional<PosixFiles::TakenSpare> PosixFiles::takeSpare(
    const std::string& path, const std::optional<struct stat>& ownFile) {
    const auto it = spares_.find(path);
    if (it == spares_.end()) return std::nullopt;
    const Spare spare = it->second;
    // The file we placed is no longer at the path: the spare does not go with it.
    if (!ownFile || ownFile->st_ino != spare.placed || spare.name.empty()) {
        dropSpare(path);
        return std::nullopt;
    }
    const int fd = openNoFollow(spare.name, O_WRONLY);
    struct stat st {};
    // Still the very file, ours, with one link; and a write lease is granted only to a file's
    // one holder, so nobody reads it. The lease is held until the file is closed: a reader
    // that opens it meanwhile, by its hidden name or at the path just before it was swapped
    // out, waits until the content is whole, and a later run's clean-up passes it by. The
    // signal that tells us of such a reader is one ignored by default, not SIGIO, whose
    // default would end the program.
    const bool usable = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                        st.st_ino == spare.inode && st.st_nlink == 1 && st.st_uid == ourUser() &&
                        ::fcntl(fd, F_SETSIG, SIGURG) == 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (!usable) {
        if (fd >= 0) ::close(fd);
        dropSpare(path);
        return std::nullopt;
    }
    spares_.erase(it);  // now the content being written
    // The new content keeps the mode and group the user gives the file at the path.
    if (st.st_gid != ownFile->st_gid) (void)::fchown(fd, static_cast<uid_t>(-1), ownFile->st_gid);
    if ((st.st_mode & 07777) != (ownFile->st_mode & 07777)) {
        (void)::fchmod(fd, ownFile->st_mode & 07777);
    }
    return TakenSpare{.fd = fd, .name = spare.name, .inode = st.st_ino, .length = st.st_size};
}

void PosixFiles::dropSpare(const std::string& path) {
    const auto it = spares_.find(path);
    if (it == spares_.end()) return;
    // One that cannot be removed now (a read-only disk) stays known, to go later.
    const std::string& name = it->second.name;
    if (!name.empty() && ::unlink(name.c_str()) != 0 && errno != ENOENT) return;
    spares_.erase(it);
}

void PosixFiles::discard(const Handle& h) {
    if (::unlink(h.temporaryPath.c_str()) == 0 || errno == ENOENT) return;
    // It cannot be removed now (a directory closed to us): as the spare of the file still at
    // the path it takes the next content, or goes at a later rewrite or at the end.
    spares_[h.path] = {.name = h.temporaryPath,
                       .inode = h.inode,
                       .placed = h.replacesOwnFile ? h.replacedInode : 0};
}

void PosixFiles::openForOutput(int number, const std::string& path) {
    checkCanOpen(number, path);
    const std::optional<struct stat> ownFile = checkReplaceable(path);
    if (std::optional<TakenSpare> spare = takeSpare(path, ownFile)) {
        Handle& h = handles_[number];
        h.fd = spare->fd;
        h.mode = Mode::Output;
        h.path = path;
        h.temporaryPath = std::move(spare->name);
        h.inode = spare->inode;
        h.replacedInode = ownFile->st_ino;
        h.replacesOwnFile = true;
        h.lengthBefore = spare->length;
        return;
    }
    const std::string prefix = temporaryPrefix(path);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string temporaryPath = prefix + randomSuffix(path);
        const int fd = openNoFollow(temporaryPath, O_WRONLY | O_CREAT | O_EXCL);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            failOutput(errno, path);
        }
        // Held until the file is renamed or removed: it tells a later run's clean-up that
        // this file is still being written. Without locks the clean-up merely keeps less.
        (void)::flock(fd, LOCK_EX | LOCK_NB);
        if (ownFile) {
            // The new content keeps the mode and group the user gave the file; a group this
            // user is not in cannot be given, and then the file keeps the user's own.
            (void)::fchown(fd, static_cast<uid_t>(-1), ownFile->st_gid);
            (void)::fchmod(fd, ownFile->st_mode & 07777);
        }
        struct stat st {};
        Handle& h = handles_[number];
        h.fd = fd;
        h.mode = Mode::Output;
        h.path = path;
        h.temporaryPath = std::move(temporaryPath);
        h.inode = ::fstat(fd, &st) == 0 ? st.st_ino : 0;
        h.replacedInode = ownFile ? ownFile->st_ino : 0;
        h.replacesOwnFile = ownFile.has_value();
        return;
    }
    fail(ErrorNumber::PathAccessError, "Path/File access error (no free temporary name)", path);
}

void PosixFiles::openForInput(int number, const std::string& path) {
    checkCanOpen(number, path);
    const int fd = openNoFollow(path, O_RDONLY);
    if (fd < 0) failOpen(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(ErrorNumber::PathAccessError, "Path/File access error (not a regular file)", path);
    }
    Handle& h = handles_[number];
    h.fd = fd;
    h.mode = Mode::Input;
    h.path = path;
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
    h.written += static_cast<off_t>(done);
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
    if (!isNumberText(item)) fail(ErrorNumber::TypeMismatch, "Type mismatch", h.path);

    std::string_view digits = item;
    if (digits.front() == '+') digits.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Only an exponent takes a number this short out of range: a negative one makes
        // it too small to tell from 0, a positive one too large to hold.
        const bool tiny = digits.find("e-") != std::string_view::npos ||
                          digits.find("E-") != std::string_view::npos;
        if (tiny) return 0.0;
        fail(ErrorNumber::Overflow, "Overflow", h.path);
    }
    if (!std::isfinite(value)) fail(ErrorNumber::Overflow, "Overflow", h.path);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        fail(ErrorNumber::TypeMismatch, "Type mismatch", h.path);
    }
    return value;
}

void PosixFiles::release(Handle& h) {
    // A file written again may hold more of the content before: cut to what was written.
    int truncateError = 0;
    if (h.mode == Mode::Output && !h.writeFailed && h.written < h.lengthBefore) {
        if (::ftruncate(h.fd, h.written) != 0) truncateError = errno;
    }
    const bool closed = ::close(h.fd) == 0 || errno == EINTR;
    const int closeError = errno;
    if (h.mode == Mode::Input) {
        if (!closed) failIo(closeError, h.path);
        return;
    }
    // From here the temporary file is renamed, removed, or kept as the spare of the next.
    if (!closed || h.writeFailed || truncateError != 0) {
        // Lines may be missing: the path keeps its whole previous content. A failed write
        // was reported when it happened.
        discard(h);
        if (truncateError != 0) failIo(truncateError, h.path);
        if (!closed) failIo(closeError, h.path);
        return;
    }
    // Our own file is swapped with the new one rather than renamed over: renaming over a
    // file makes ext4 write the new data out at once, and the next rewrite then waits for
    // that write when it drops the file (up to seconds while another program syncs the
    // disk). Swapped, the short-lived files never reach the disk. Where the path was free
    // at open, whatever has appeared there since is not ours.
    const char* from = h.temporaryPath.c_str();
    const char* to = h.path.c_str();
    int result = -1;
    bool swapped = false;
    if (h.replacesOwnFile) {
        result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
        swapped = result == 0;
    }
    if (!h.replacesOwnFile || (result != 0 && errno == ENOENT)) {  // or it was deleted since
        result = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    }
    if (result != 0 && errno == EINVAL) {
        result = ::rename(from, to);  // a file system without these flags renames atomically
    }
    const int error = errno;
    if (swapped) {
        // The old content, now under the hidden name: the next content's file.
        spares_[h.path] = {.name = h.temporaryPath, .inode = h.replacedInode, .placed = h.inode};
        return;
    }
    discard(h);  // nothing, or what could not be renamed
    if (result != 0) failOutput(error, h.path);
    spares_[h.path] = {.name = {}, .inode = 0, .placed = h.inode};
}

void PosixFiles::close(int number) {
    if (number == kAllFiles) {
        closeAll();
        return;
    }
    const auto it = handles_.find(number);
    if (it == handles_.end()) return;
    // The handle is gone either way; a failure means the written lines may be lost.
    auto node = handles_.extract(it);
    release(node.mapped());
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
    dropSpare(path);
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
        if (!isTemporaryName(entry->d_name, prefix)) continue;
        const int fd = ::openat(dirFd, entry->d_name,
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        // A run writing its file of the content before again holds a lease on it, which
        // refuses this open at once.
        if (fd < 0) continue;
        struct stat st {};
        // A run writing a new file holds the lock; a killed run's lock went with it.
        const bool leftover = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                              st.st_uid == ourUser() && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (leftover) ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

}  // namespace glove
