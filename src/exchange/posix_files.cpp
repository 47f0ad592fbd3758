#include "exchange/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
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

[[noreturn]] void failIo(int error, const std::string& path) {
    if (error == ENOSPC || error == EDQUOT) fail(ErrorNumber::DiskFull, "Disk full", path);
    fail(ErrorNumber::DeviceIoError, std::string("Device I/O error (") + std::strerror(error) + ")",
         path);
}

int openNoFollow(const std::string& path, int flags) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
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
    for (auto& [number, h] : handles_) ::close(h.fd);
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
    // Not O_TRUNC: what is at the path is truncated only once it is known to be ours.
    const int fd = openNoFollow(path, O_WRONLY | O_CREAT);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) fail(ErrorNumber::PathNotFound, "Path not found", path);
        failOpen(error, path);
    }
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                      st.st_uid == ::geteuid();
    if (!ours) {
        ::close(fd);
        fail(ErrorNumber::PathAccessError,
             "Path/File access error (not a regular file of this user with a single link)", path);
    }
    if (::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        failOpen(error, path);
    }
    Handle& h = handles_[number];
    h.fd = fd;
    h.mode = Mode::Output;
    h.path = path;
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
        if (n < 0) failIo(errno, h.path);
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

void PosixFiles::close(int number) {
    if (number == kAllFiles) {
        closeAll();
        return;
    }
    const auto it = handles_.find(number);
    if (it == handles_.end()) return;
    const int fd = it->second.fd;
    const std::string path = it->second.path;
    handles_.erase(it);
    // The handle is gone either way; a failed close means written lines may be lost.
    if (::close(fd) != 0 && errno != EINTR) failIo(errno, path);
}

void PosixFiles::closeAll() {
    // Close every handle before reporting the first failure, so none is left open.
    std::string firstFailure;
    for (auto& [number, h] : handles_) {
        if (::close(h.fd) != 0 && errno != EINTR && firstFailure.empty()) {
            firstFailure = h.path + " (" + std::strerror(errno) + ")";
        }
    }
    handles_.clear();
    if (!firstFailure.empty()) fail(ErrorNumber::DeviceIoError, "Device I/O error", firstFailure);
}

void PosixFiles::remove(const std::string& path) {
    checkPathNotOpen(path);
    // unlink removes a symbolic link itself, never what it points to.
    if (::unlink(path.c_str()) != 0) {
        const int error = errno;
        if (error == EISDIR) fail(ErrorNumber::PathAccessError, "Path/File access error", path);
        failOpen(error, path);
    }
}

}  // namespace glove
