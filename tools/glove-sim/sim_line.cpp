#include "sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>

#include "acquisition/posix_serial_speed.h"
#include "sim_options.h"

namespace glove_sim {

namespace {

using namespace std::chrono_literals;

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::optional<speed_t> termiosSpeed(std::uint32_t baud) {
    if (baud > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) return std::nullopt;
    return glove::classicSpeedCode(static_cast<int>(baud));
}

SerialLine::SerialLine(glove::pty::FileDescriptor writer, glove::pty::FileDescriptor heldSlave,
                       std::string path)
    : writer_(std::move(writer)), heldSlave_(std::move(heldSlave)), path_(std::move(path)) {}

SerialLine SerialLine::openPseudoTerminal(std::uint32_t baud) {
    // Non-blocking, so that writes wait in poll() while nobody reads.
    glove::pty::PseudoTerminal pair =
        glove::pty::openPseudoTerminal(termiosSpeed(baud), glove::pty::MasterMode::NonBlocking);
    return SerialLine(std::move(pair.master), std::move(pair.slave), std::move(pair.path));
}

SerialLine SerialLine::openDevice(const std::string& path, speed_t speed) {
    // Non-blocking, so a port waiting for carrier cannot hang the open and writes wait in poll().
    glove::pty::FileDescriptor device{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)};
    if (!device) fail("opening " + path);
    glove::pty::makeRaw(device.get(), speed, path);
    return SerialLine(std::move(device), glove::pty::FileDescriptor{}, path);
}

bool SerialLine::writeAll(std::span<const std::uint8_t> bytes,
                          const std::function<bool()>& keepGoing) {
    // Short enough that a stop request is noticed promptly while the line stays full.
    constexpr int pollSliceMs = 100;
    while (!bytes.empty()) {
        const ssize_t written = ::write(writer_.get(), bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        const int error = written < 0 ? errno : 0;
        if (error != 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR)
            fail("writing to " + path_);
        if (!keepGoing()) return false;
        if (error == EINTR) continue;
        pollfd room{.fd = writer_.get(), .events = POLLOUT, .revents = 0};
        if (::poll(&room, 1, pollSliceMs) < 0 && errno != EINTR) fail("waiting for " + path_);
    }
    return true;
}

void SerialLine::drain() {
    if (!heldSlave_) {
        // A serial port sends what it holds (no flow control), then this returns.
        ::tcdrain(writer_.get());
        return;
    }
    // Unread input is lost when a pseudo-terminal closes, so give the reader a moment to take
    // it. The kernel hands written bytes to the reader's side asynchronously, hence the settle.
    // A reader that takes nothing for longer than the monitor waits on a quiet line is not
    // reading.
    constexpr auto settle = 20ms;
    constexpr auto step = 10ms;
    constexpr auto patience = 1s;
    constexpr auto noProgress = 400ms;
    std::this_thread::sleep_for(settle);
    const auto start = std::chrono::steady_clock::now();
    auto lastProgress = start;
    std::size_t before = unread();
    for (std::size_t now = before; now > 0; before = now, now = unread()) {
        const auto time = std::chrono::steady_clock::now();
        if (now < before) lastProgress = time;
        if (time - start >= patience || time - lastProgress >= noProgress) return;
        std::this_thread::sleep_for(step);
    }
}

std::size_t SerialLine::unread() const {
    int unread = 0;
    if (!heldSlave_ || ::ioctl(heldSlave_.get(), TIOCINQ, &unread) != 0) return 0;
    return static_cast<std::size_t>(std::max(unread, 0));
}

DeviceLink::DeviceLink(std::string linkPath, std::string target)
    : linkPath_(std::move(linkPath)), target_(std::move(target)) {
    struct stat existing {};
    if (::lstat(linkPath_.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        throw UsageError("--link: " + linkPath_ +
                         " exists and is not a symbolic link; not replacing it");
    // Made under a temporary name and renamed over, so a reader never finds the name missing.
    const std::string temporary = linkPath_ + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target_.c_str(), temporary.c_str()) != 0) fail("creating link " + temporary);
    if (::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail("creating link " + linkPath_);
    }
}

DeviceLink::~DeviceLink() {
    // Only while it is still ours: another run may have taken the name over since.
    std::array<char, PATH_MAX> pointsTo{};
    const ssize_t length = ::readlink(linkPath_.c_str(), pointsTo.data(), pointsTo.size());
    if (length >= 0 &&
        std::string_view(pointsTo.data(), static_cast<std::size_t>(length)) == target_)
        ::unlink(linkPath_.c_str());
}

}  // namespace glove_sim
