/* The least a program can do to carry a glove's frames from its serial line to the network,
 * to measure the monitor's latency against: the line raw at 4800 baud, a blocking read that
 * returns once a frame's ten characters have come (VMIN 10), frames aligned on the marker, one UDP
 * datagram a frame, holding the frame as the monitor's UDP output does (one line of values).
 *     latency_bridge DEVICE PORT      (sends to 127.0.0.1:PORT; ends when the line hangs up) */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

enum { kFrameLength = 10, kMarker = 128 };

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: latency_bridge DEVICE PORT\n");
        return 2;
    }
    const int line = open(argv[1], O_RDONLY | O_NOCTTY);
    struct termios t;
    if (line < 0 || tcgetattr(line, &t) != 0) {
        perror(argv[1]);
        return 1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, B4800);
    t.c_cc[VMIN] = kFrameLength;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(line, TCSANOW, &t) != 0) {
        perror(argv[1]);
        return 1;
    }
    const int out = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(argv[2]))};
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    /* A frame's characters as they come; a read asks for the rest of the frame only, so it
     * returns at the frame's last character. */
    unsigned char held[kFrameLength];
    size_t have = 0;
    for (;;) {
        const ssize_t n = read(line, held + have, sizeof held - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 ? 0 : 1; /* hung up */
        have += (size_t)n;
        if (have < kFrameLength) continue;
        if (held[0] != kMarker) {
            /* Out of step: keep what starts at the next marker, and read the rest of it. */
            const unsigned char* marker = memchr(held + 1, kMarker, have - 1);
            const size_t drop = marker ? (size_t)(marker - held) : have;
            memmove(held, held + drop, have - drop);
            have -= drop;
            continue;
        }
        char text[64];
        int length = 0;
        for (int i = 0; i < kFrameLength; ++i) {
            length += snprintf(text + length, sizeof text - (size_t)length, i ? ",%u" : "%u", held[i]);
        }
        length += snprintf(text + length, sizeof text - (size_t)length, "\r\n");
        sendto(out, text, (size_t)length, 0, (const struct sockaddr*)&to, sizeof to);
        have = 0;
    }
}
