/* The least a program can do to carry a glove's frames from its serial line to the network,
 * to measure the monitor's latency against: the line raw at 4800 baud, a blocking read that
 * returns once a frame's ten characters have come (VMIN 10), frames aligned on the marker, one UDP
 * datagram a frame, holding the frame as the monitor's UDP output does (one line of values).
 * Given a JACK server, also a MIDI output port "latency_bridge:out": each of values 2 to 10 that
 * changed as controller 18 + n on channel 1, as the monitor sends them (values 7 to 10 as they
 * are, 2 to 6 halved, for want of a calibration), handed to the process callback through a ring
 * buffer, written at the start of the next cycle.
 *     latency_bridge DEVICE PORT [JACK_SERVER]
 * (sends to 127.0.0.1:PORT; ends when the line hangs up) */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

enum { kFrameLength = 10, kMarker = 128, kMessage = 3 };

static jack_port_t* midi_out;
static jack_ringbuffer_t* midi_queue;

static int write_midi(jack_nframes_t frames, void* unused) {
    (void)unused;
    void* buffer = jack_port_get_buffer(midi_out, frames);
    jack_midi_clear_buffer(buffer);
    unsigned char message[kMessage];
    while (jack_ringbuffer_read_space(midi_queue) >= kMessage) {
        jack_ringbuffer_read(midi_queue, (char*)message, kMessage);
        jack_midi_event_write(buffer, 0, message, kMessage);
    }
    return 0;
}

/* The MIDI port on the named server; exits when it cannot be had. */
static void open_midi(const char* server) {
    jack_status_t status;
    jack_client_t* client = jack_client_open("latency_bridge", JackNoStartServer | JackServerName,
                                             &status, server);
    midi_queue = jack_ringbuffer_create(1 << 14);
    if (client == NULL || midi_queue == NULL ||
        (midi_out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput,
                                       0)) == NULL ||
        jack_set_process_callback(client, write_midi, NULL) != 0 || jack_activate(client) != 0) {
        fprintf(stderr, "latency_bridge: no MIDI port on the JACK server %s\n", server);
        exit(1);
    }
}

/* Each value 2 to 10 that changed since it was last sent, as a control change; a full queue
 * drops the message, as a late reader would miss it. */
static void send_midi(const unsigned char* frame) {
    static int sent[kFrameLength];
    for (int i = 1; i < kFrameLength; ++i) {
        const int value = i >= 6 ? frame[i] : frame[i] / 2;
        if (sent[i] == value + 1) continue;
        const unsigned char message[kMessage] = {0xB0, (unsigned char)(19 + i),
                                                 (unsigned char)value};
        if (jack_ringbuffer_write_space(midi_queue) < kMessage) continue;
        jack_ringbuffer_write(midi_queue, (const char*)message, kMessage);
        sent[i] = value + 1;
    }
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: latency_bridge DEVICE PORT [JACK_SERVER]\n");
        return 2;
    }
    if (argc == 4) open_midi(argv[3]);
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
        if (midi_queue != NULL) send_midi(held);
        have = 0;
    }
}
