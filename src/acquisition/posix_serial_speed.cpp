#include "acquisition/posix_serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <utility>

namespace glove {

namespace {

// The classic rates keep their codes, so that other tools show the device's speed as usual.
constexpr std::array<std::pair<int, tcflag_t>, 30> kClassicRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

}  // namespace

std::optional<unsigned int> classicSpeedCode(int baud) {
    const auto classic = std::ranges::find(kClassicRates, baud, &std::pair<int, tcflag_t>::first);
    if (classic == kClassicRates.end()) return std::nullopt;
    return classic->second;
}

bool setLineSpeed(int fd, int baud) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    const tcflag_t code = classicSpeedCode(baud).value_or(BOTHER);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace glove
