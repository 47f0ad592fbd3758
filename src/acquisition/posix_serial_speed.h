#pragma once

namespace glove {

// Sets an open terminal device's input and output speed to `baud` bits a second: any rate
// the driver can make, not only the classic ones; false with errno set if it refuses. Apart from
// <termios.h>, as the kernel's own terminal structure that takes any rate cannot be declared beside
// the C library's.
bool setLineSpeed(int fd, int baud);

}  // namespace glove
