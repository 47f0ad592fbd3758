#pragma once

#include <optional>

namespace glove {

// The classic termios code (B4800 and the like) for `baud`, if it is a classic rate: what
// cfsetspeed() takes. A speed_t, spelt as its type so that <termios.h> stays out of here.
std::optional<unsigned int> classicSpeedCode(int baud);

// Sets an open terminal device's input and output speed to `baud` bits a second: any rate
// the driver can make, not only the classic ones; false with errno set if it refuses. Apart from
// <termios.h>, as the kernel's own terminal structure that takes any rate cannot be declared beside
// the C library's.
bool setLineSpeed(int fd, int baud);

}  // namespace glove
