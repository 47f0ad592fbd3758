#include "pseudo_terminal.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace glove::pty {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

void FileDescriptor::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void makeRaw(int fd, std::optional<speed_t> speed, const std::string& name) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) fail(name + " is not a terminal");
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    settings.c_cflag |= CLOCAL | CREAD;
    if (speed) {
        ::cfsetispeed(&settings, *speed);
        ::cfsetospeed(&settings, *speed);
    }
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) fail("setting up " + name);
}

PseudoTerminal openPseudoTerminal(std::optional<speed_t> speed, MasterMode mode) {
    const int flags = O_RDWR | O_NOCTTY | (mode == MasterMode::NonBlocking ? O_NONBLOCK : 0);
    FileDescriptor master{::posix_openpt(flags)};
    if (!master) fail("creating a pseudo-terminal");
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
        fail("unlocking the pseudo-terminal");
    std::array<char, PATH_MAX> name{};
    if (::ptsname_r(master.get(), name.data(), name.size()) != 0)
        fail("naming the pseudo-terminal");
    FileDescriptor slave{::open(name.data(), O_RDWR | O_NOCTTY)};
    if (!slave) fail(std::string("opening ") + name.data());
    // A pseudo-terminal ignores the speed; it is set only so the settings look like a real line.
    makeRaw(master.get(), speed, "the pseudo-terminal");
    makeRaw(slave.get(), speed, name.data());
    return {std::move(master), std::move(slave), name.data()};
}

}  // namespace glove::pty
