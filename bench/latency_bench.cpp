// From the glove's last byte to each output: the real glove-monitor, Connect pressed on its
// window, beside latency_bridge (a minimal serial-to-UDP bridge), each on a pseudo-terminal of
// its own, both fed the same counted frames at the same moments. Receivers time the monitor's
// UDP and OSC datagrams, the bridge's datagrams and each rewrite of the exchange file; given a
// JACK server, JACK clients of the benchmark's own also time the monitor's MIDI events and the
// bridge's.
//
//     latency_bench --monitor PATH --bridge PATH [--seconds S] [--work DIR] [--jack-server NAME]
//
// Needs an X server (DISPLAY) and xdotool. Prints, for each load, one line a receiver:
//     load=paced source=udp sent=1440 received=1440 twice=0 p50=0.21 p90=0.30 p99=0.80 max=2.10
// (milliseconds; twice: datagrams, or MIDI frames, received again), and one line of wake-ups a
// frame: the monitor's window thread's voluntary context switches, and the bridge's, divided by
// the frames sent. With a JACK server, first one line of its cycle:
//     jack period=128 rate=48000
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/glove_frame.h"
#include "frame_maker.h"
#include "monitor_process.h"
#include "pseudo_terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The monitor's MIDI twice: timed by the receiving client's process callback, and by the start
// of the JACK cycle the event came in.
enum Source {
    MonitorUdp,
    MonitorOsc,
    ExchangeFile,
    BridgeUdp,
    MonitorMidi,
    MidiCycle,
    BridgeMidi,
    kSourceCount
};
constexpr std::array<const char*, kSourceCount> kSourceNames{
    "udp", "osc", "file", "bridge", "midi", "midi_cycle", "bridge_midi"};
constexpr int kMonitorLine = 0;
constexpr int kBridgeLine = 1;

// The processes started here, ended by fail() too: left running, they would hold the pipe
// that the script reads this benchmark's output from.
std::vector<pid_t> started;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
    for (const pid_t pid : started) ::kill(pid, SIGTERM);
    std::exit(1);
}

std::optional<glove::Frame> valuesFromText(const char* text) {
    glove::Frame v{};
    const int got = std::sscanf(text, "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3],
                                &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
    if (got != glove::kFrameLength) return std::nullopt;
    return v;
}

// The OSC frame message's ten int32 arguments follow its type tags ",iiiiiiiiii".
std::optional<glove::Frame> valuesFromOsc(const char* data, std::size_t size) {
    static constexpr char kTags[] = ",iiiiiiiiii";  // 12 bytes with the terminator: aligned
    const void* tags = memmem(data, size, kTags, sizeof kTags);
    if (tags == nullptr) return std::nullopt;
    const std::size_t first = static_cast<const char*>(tags) - data + sizeof kTags;
    if (first + 4 * glove::kFrameLength > size) return std::nullopt;
    glove::Frame v{};
    for (int k = 0; k < glove::kFrameLength; ++k) {
        std::uint32_t word = 0;
        std::memcpy(&word, data + first + 4 * k, 4);
        v[k] = static_cast<int>(ntohl(word));
    }
    return v;
}

std::uint32_t counterOf(const glove::Frame& v) {
    glove_sim::CounterValues counter{};
    for (std::size_t i = 0; i < counter.size(); ++i) {
        counter[i] = static_cast<std::uint8_t>(v[glove_sim::counterFirstValue - 1 + i]);
    }
    return glove_sim::decodeCounter(counter);
}

// Every datagram and every new exchange file, with the counter it carries and its arrival.
class Receivers {
  public:
    explicit Receivers(const std::filesystem::path& dir) : exchange_(dir / "InputFile") {
        for (int i = 0; i < 3; ++i) fds_[i] = bench::boundUdpSocket(ports_[i]);
        inotify_ = inotify_init1(IN_CLOEXEC);
        if (inotify_ < 0 ||
            inotify_add_watch(inotify_, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
            fail("cannot watch " + dir.string());
        }
        if (::pipe2(stop_.data(), O_CLOEXEC) != 0) fail("no pipe");
        thread_ = std::thread([this] { receive(); });
    }
    ~Receivers() {
        ::write(stop_[1], "x", 1);
        thread_.join();
    }
    [[nodiscard]] int port(Source s) const { return ports_[s == BridgeUdp ? 2 : s]; }
    // The first arrival of each counter, per source.
    [[nodiscard]] std::map<std::uint32_t, Clock::time_point> arrivals(Source s) {
        const std::lock_guard lock(mutex_);
        return arrivals_[s];
    }
    // Datagrams that came again with a counter already received, between two counters.
    [[nodiscard]] long repeats(Source s, std::uint32_t first, std::uint32_t end) {
        const std::lock_guard lock(mutex_);
        return std::count_if(repeats_[s].begin(), repeats_[s].end(),
                             [&](std::uint32_t c) { return c >= first && c < end; });
    }

  private:
    void note(Source s, const std::optional<glove::Frame>& values, Clock::time_point at) {
        if (!values || (*values)[0] != glove::kFrameMarker) return;
        const std::lock_guard lock(mutex_);
        const std::uint32_t counter = counterOf(*values);
        // The exchange file is read again at every event in its directory; a datagram is not.
        if (!arrivals_[s].emplace(counter, at).second && s != ExchangeFile) {
            repeats_[s].push_back(counter);
        }
    }

    void receive() {
        constexpr std::array<Source, 3> kSockets{MonitorUdp, MonitorOsc, BridgeUdp};
        std::array<pollfd, 5> polls{};
        for (int i = 0; i < 3; ++i) polls[i] = {fds_[i], POLLIN, 0};
        polls[3] = {inotify_, POLLIN, 0};
        polls[4] = {stop_[0], POLLIN, 0};
        alignas(inotify_event) std::array<char, 4096> buffer{};
        while (::poll(polls.data(), polls.size(), -1) >= 0 && polls[4].revents == 0) {
            for (int i = 0; i < 3; ++i) {
                if (polls[i].revents == 0) continue;
                const ssize_t n = ::recv(fds_[i], buffer.data(), buffer.size() - 1, 0);
                const Clock::time_point at = Clock::now();
                if (n <= 0) continue;
                buffer[n] = '\0';
                note(kSockets[i],
                     kSockets[i] == MonitorOsc ? valuesFromOsc(buffer.data(), n)
                                               : valuesFromText(buffer.data()),
                     at);
            }
            if (polls[3].revents != 0 && ::read(inotify_, buffer.data(), buffer.size()) > 0) {
                // Any event in the directory may be the new file: read what the path holds now.
                const Clock::time_point at = Clock::now();
                std::ifstream file(exchange_);
                std::string first;
                if (std::getline(file, first))
                    note(ExchangeFile, valuesFromText(first.c_str()), at);
            }
        }
    }

    std::filesystem::path exchange_;
    std::array<int, 3> fds_{};
    std::array<int, 3> ports_{};
    int inotify_ = -1;
    std::array<int, 2> stop_{};
    std::mutex mutex_;
    std::array<std::map<std::uint32_t, Clock::time_point>, kSourceCount> arrivals_;
    std::array<std::vector<std::uint32_t>, kSourceCount> repeats_;
    std::thread thread_;
};

// A MIDI port, the monitor's or the bridge's, as a JACK client of the benchmark's own sees it.
// With the calibration the benchmark keeps (values 7 to 10 over 0 to 127), the counter's four
// values come as controllers 25 to 28 unchanged, the last, its low seven bits, in every frame and
// last of the frame's events: its arrival is the frame's. The process callback notes each control
// change with two times on the benchmark's clock: the callback's own, and the start of the JACK
// cycle the event came in, JACK's frame time moved onto the steady clock by the two clocks' offset
// read in that callback. JACK 2 keeps time on CLOCK_MONOTONIC_RAW, which drifts from the steady
// clock's CLOCK_MONOTONIC by the clock's adjustments (145 ms after ten hours on one machine).
class MidiReceiver {
  public:
    // The monitor's default controllers: value n as controller 18 + n.
    static constexpr int kCounterController = 18 + glove_sim::counterFirstValue;

    MidiReceiver(const std::string& server, const std::string& name) {
        jack_status_t status{};
        client_ = jack_client_open(name.c_str(),
                                   static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                   &status, server.c_str());
        if (client_ == nullptr) fail("no JACK server called " + server);
        input_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (input_ == nullptr || jack_set_process_callback(client_, &process, this) != 0 ||
            jack_activate(client_) != 0) {
            fail("the JACK server " + server + " did not take the receiving client");
        }
    }
    MidiReceiver(const MidiReceiver&) = delete;
    MidiReceiver& operator=(const MidiReceiver&) = delete;
    ~MidiReceiver() { jack_client_close(client_); }

    // Connects `port`, once it is there, to this client.
    void connect(const std::string& port) {
        for (const auto until = Clock::now() + 20s; Clock::now() < until;
             std::this_thread::sleep_for(50ms)) {
            if (jack_port_by_name(client_, port.c_str()) == nullptr) continue;
            if (jack_connect(client_, port.c_str(), jack_port_name(input_)) != 0) break;
            return;
        }
        fail("cannot connect " + port);
    }
    [[nodiscard]] jack_nframes_t period() const { return jack_get_buffer_size(client_); }
    [[nodiscard]] jack_nframes_t rate() const { return jack_get_sample_rate(client_); }
    // Events that found the record full.
    [[nodiscard]] long overflowed() const { return overflowed_; }

    // The first arrival of each counter, by the callback's time or the cycle's, and the
    // counters that came again between two counters.
    [[nodiscard]] std::map<std::uint32_t, Clock::time_point> arrivals(bool byCycle) const {
        std::map<std::uint32_t, Clock::time_point> at;
        decode([&](std::uint32_t counter, const Event& e) {
            at.emplace(counter, byCycle ? e.cycleAt : e.at);
        });
        return at;
    }
    [[nodiscard]] long repeats(std::uint32_t first, std::uint32_t end) const {
        std::map<std::uint32_t, int> seen;
        decode([&](std::uint32_t counter, const Event&) { ++seen[counter]; });
        long twice = 0;
        for (const auto& [counter, times] : seen) {
            if (counter >= first && counter < end) twice += times - 1;
        }
        return twice;
    }

  private:
    struct Event {
        std::uint8_t controller;
        std::uint8_t value;
        Clock::time_point at;
        Clock::time_point cycleAt;
    };
    // Minutes of frames of nine controllers each.
    static constexpr std::size_t kCapacity = 1 << 20;

    // The counter of each frame's last event. The whole counter is read from the first frame,
    // which sends every value; after it only the low seven bits are followed, as the counter
    // nearest the last one that ends in them: a missed cycle takes the high values' events with
    // it, which would make every frame up to their next change look 128 frames older, and where
    // cycles are missed a frame's events may come again.
    template <typename Take>
    void decode(Take take) const {
        constexpr int kLow = 1 << glove_sim::counterBitsPerValue;
        glove_sim::CounterValues latest{};
        std::optional<std::uint32_t> last;
        const std::span<const Event> events(events_.data(), count_.load(std::memory_order_acquire));
        for (const Event& e : events) {
            const int digit = e.controller - kCounterController;
            if (digit < 0 || digit >= static_cast<int>(latest.size())) continue;
            latest[digit] = e.value;
            if (digit + 1 != static_cast<int>(latest.size())) continue;
            if (!last) {
                last = glove_sim::decodeCounter(latest);
                take(*last, e);
                continue;
            }
            // Up to half the low values forward, or back: a frame met again.
            const int ahead = (e.value - static_cast<int>(*last % kLow) + kLow) % kLow;
            const int step = ahead <= kLow / 2 ? ahead : ahead - kLow;
            take(*last + step, e);
            if (step > 0) *last += step;
        }
    }

    static int process(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<MidiReceiver*>(arg);
        const Clock::time_point now = Clock::now();
        const auto jackNow = static_cast<std::int64_t>(jack_get_time());
        const jack_nframes_t cycleStart = jack_last_frame_time(self.client_);
        void* buffer = jack_port_get_buffer(self.input_, frames);
        std::size_t count = self.count_.load(std::memory_order_relaxed);
        const jack_nframes_t events = jack_midi_get_event_count(buffer);
        for (jack_nframes_t i = 0; i < events; ++i) {
            jack_midi_event_t event{};
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size != 3 ||
                event.buffer[0] != 0xB0) {  // a control change on channel 1
                continue;
            }
            if (count == kCapacity) {
                ++self.overflowed_;
                continue;
            }
            const auto eventTime = static_cast<std::int64_t>(
                jack_frames_to_time(self.client_, cycleStart + event.time));
            self.events_[count++] = {event.buffer[1], event.buffer[2], now,
                                     now + std::chrono::microseconds(eventTime - jackNow)};
        }
        self.count_.store(count, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* input_ = nullptr;
    std::vector<Event> events_ = std::vector<Event>(kCapacity);
    std::atomic<std::size_t> count_ = 0;
    std::atomic<long> overflowed_ = 0;
};

// Keeps, for the monitor's line, the calibration that sends the counter's values unchanged as
// controllers: a recording of two frames, values 2 to 6 over 0 to 255, 7 to 10 over 0 to 127.
void calibrateForCounter(const std::string& monitor, const std::string& line,
                         const std::filesystem::path& work) {
    const std::filesystem::path recording = work / "calibration.csv";
    std::ofstream(recording) << "time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10\n"
                                "2026-12-08T10:00:00.000+00:00,0.000,128,0,0,0,0,0,0,0,0,0\n"
                                "2026-12-08T10:00:00.021+00:00,20.833,128,255,255,255,255,255,"
                                "127,127,127,127\n";
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = bench::spawn({monitor, "--port", line, "--calibrate-from", recording},
                                   work / "calibration.stderr", quiet);
    ::close(quiet);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail("the monitor did not calibrate from " + recording.string());
    }
}

long voluntarySwitches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:")) return std::stol(line.substr(24));
    }
    return 0;
}

struct Load {
    const char* name;
    bool bytePaced;                   // byte by byte at the line's pace, or a frame in one write
    std::chrono::nanoseconds period;  // from one frame's start to the next
};

// Writes `frame` to both lines, the first line first for even counters; notes when each
// line's last byte is written.
class Feeder {
  public:
    std::array<glove::pty::PseudoTerminal, 2> lines{
        glove::pty::openPseudoTerminal(B4800, glove::pty::MasterMode::Blocking),
        glove::pty::openPseudoTerminal(B4800, glove::pty::MasterMode::Blocking)};
    std::array<std::map<std::uint32_t, Clock::time_point>, 2> lastByteAt;

    void send(const Load& load, Clock::time_point start, std::uint32_t counter,
              const glove_sim::Frame& frame) {
        const std::size_t chunk = load.bytePaced ? 1 : frame.size();
        for (std::size_t at = 0; at < frame.size(); at += chunk) {
            std::this_thread::sleep_until(start + glove::lineTime(at, glove::kGloveBaud));
            for (int k = 0; k < 2; ++k) {
                const int line = (counter + k) % 2;
                // Taken before the write: a feeder preempted after it would put the frame's
                // end after its arrival.
                if (at + chunk == frame.size()) lastByteAt[line][counter] = Clock::now();
                if (::write(lines[line].master.get(), frame.data() + at, chunk) !=
                    static_cast<ssize_t>(chunk)) {
                    fail("cannot write to the line");
                }
            }
        }
    }
};

struct Figures {
    double p50, p90, p99, max;
};

Figures figures(std::vector<double> ms) {
    if (ms.empty()) return {0, 0, 0, 0};
    std::sort(ms.begin(), ms.end());
    const auto rank = [&](double p) {
        const auto i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(ms.size()))) - 1;
        return ms[std::min(i, ms.size() - 1)];
    };
    return {rank(0.50), rank(0.90), rank(0.99), ms.back()};
}

}  // namespace

int measure(int argc, char** argv) {
    std::string monitor;
    std::string bridge;
    double seconds = 30;
    std::filesystem::path work = std::filesystem::temp_directory_path() / "latency_bench";
    std::string jackServer;  // none: no MIDI
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--monitor")
            monitor = argv[i + 1];
        else if (option == "--bridge")
            bridge = argv[i + 1];
        else if (option == "--seconds")
            seconds = std::stod(argv[i + 1]);
        else if (option == "--work")
            work = argv[i + 1];
        else if (option == "--jack-server")
            jackServer = argv[i + 1];
        else
            fail("unknown option " + option);
    }
    if (monitor.empty() || bridge.empty()) {
        fail(
            "usage: latency_bench --monitor PATH --bridge PATH [--seconds S] [--work DIR] "
            "[--jack-server NAME]");
    }
    std::filesystem::create_directories(work);
    std::filesystem::remove(work / "InputFile");
    ::signal(SIGPIPE, SIG_IGN);

    Feeder feeder;
    Receivers receivers(work);
    std::vector<std::string> bridgeArgs{bridge, feeder.lines[kBridgeLine].path,
                                        std::to_string(receivers.port(BridgeUdp))};
    // The monitor's MIDI and the bridge's.
    std::optional<MidiReceiver> midi;
    std::optional<MidiReceiver> bridgeMidi;
    if (!jackServer.empty()) {
        ::setenv("JACK_DEFAULT_SERVER", jackServer.c_str(), 1);
        bridgeArgs.push_back(jackServer);
        midi.emplace(jackServer, "latency_bench");
        bridgeMidi.emplace(jackServer, "latency_bench bridge");
        std::printf("jack period=%u rate=%u\n", midi->period(), midi->rate());
    }
    const pid_t bridgePid = bench::spawn(bridgeArgs, work / "bridge.stderr");
    started.push_back(bridgePid);
    std::vector<std::string> monitorArgs{monitor,
                                         "--port",
                                         feeder.lines[kMonitorLine].path,
                                         "--exchange-file",
                                         (work / "InputFile").string(),
                                         "--udp",
                                         "127.0.0.1:" + std::to_string(receivers.port(MonitorUdp)),
                                         "--osc",
                                         "127.0.0.1:" + std::to_string(receivers.port(MonitorOsc))};
    if (midi) {
        calibrateForCounter(monitor, feeder.lines[kMonitorLine].path, work);
        monitorArgs.insert(monitorArgs.end(), {"--midi", "--midi-api", "jack"});
    }
    const pid_t monitorPid = bench::spawn(monitorArgs, work / "monitor.stderr");
    started.push_back(monitorPid);
    if (midi) {
        midi->connect("Glove Monitor:Glove Monitor");
        bridgeMidi->connect("latency_bridge:out");
    }
    bench::pressConnect(monitorPid, feeder.lines[kMonitorLine].path);
    std::this_thread::sleep_for(1s);

    const auto frameTime = glove::lineTime(glove::kFrameLength, glove::kGloveBaud);
    const std::array<Load, 3> loads{{{"paced", true, frameTime},
                                     {"paused", true, std::chrono::nanoseconds(100ms)},
                                     {"whole", false, frameTime}}};
    std::mt19937 rng(1);
    std::uint32_t counter = 0;
    for (const Load& load : loads) {
        const std::uint32_t first = counter;
        const long monitorBefore = voluntarySwitches(monitorPid);
        const long bridgeBefore = voluntarySwitches(bridgePid);
        const Clock::time_point begin = Clock::now() + 10ms;
        const auto frames = static_cast<std::uint32_t>(std::chrono::duration<double>(seconds) /
                                                       std::chrono::duration<double>(load.period));
        for (std::uint32_t k = 0; k < frames; ++k, ++counter) {
            glove_sim::Frame frame =
                glove_sim::makeFrame(glove_sim::Scenario::Wave, counter, rng, true);
            // No reading at 128: the bridge aligns on any 128 it meets at a frame's start, and
            // one held there would keep it a frame behind.
            std::replace(frame.begin() + 1, frame.end(), glove_sim::frameMarker,
                         static_cast<std::uint8_t>(glove_sim::frameMarker - 1));
            feeder.send(load, begin + k * load.period, counter, frame);
        }
        // The last frame's outputs; then a pause, which the monitor reads as a silent line.
        std::this_thread::sleep_for(30ms);
        const double monitorWakes =
            static_cast<double>(voluntarySwitches(monitorPid) - monitorBefore);
        const double bridgeWakes = static_cast<double>(voluntarySwitches(bridgePid) - bridgeBefore);
        std::this_thread::sleep_for(500ms);
        for (int s = 0; s < kSourceCount; ++s) {
            const bool isMidi = s == MonitorMidi || s == MidiCycle || s == BridgeMidi;
            if (isMidi && !midi) continue;
            const MidiReceiver* receiver = !isMidi           ? nullptr
                                           : s == BridgeMidi ? &*bridgeMidi
                                                             : &*midi;
            const int line = s == BridgeUdp || s == BridgeMidi ? kBridgeLine : kMonitorLine;
            std::vector<double> ms;
            for (const auto& [c, at] : isMidi ? receiver->arrivals(s == MidiCycle)
                                              : receivers.arrivals(static_cast<Source>(s))) {
                if (c < first || c >= counter) continue;
                ms.push_back(
                    std::chrono::duration<double, std::milli>(at - feeder.lastByteAt[line].at(c))
                        .count());
            }
            const Figures f = figures(ms);
            std::printf(
                "load=%s source=%s sent=%u received=%zu twice=%ld p50=%.3f p90=%.3f p99=%.3f "
                "max=%.3f\n",
                load.name, kSourceNames[s], frames, ms.size(),
                isMidi ? receiver->repeats(first, counter)
                       : receivers.repeats(static_cast<Source>(s), first, counter),
                f.p50, f.p90, f.p99, f.max);
        }
        std::printf("load=%s wakeups monitor=%.3f bridge=%.3f\n", load.name, monitorWakes / frames,
                    bridgeWakes / frames);
        std::fflush(stdout);
        std::this_thread::sleep_for(500ms);
    }
    if (midi && midi->overflowed() + bridgeMidi->overflowed() > 0)
        fail("more MIDI events than the receiver can hold");
    ::kill(monitorPid, SIGTERM);
    ::kill(bridgePid, SIGTERM);
    ::waitpid(monitorPid, nullptr, 0);
    ::waitpid(bridgePid, nullptr, 0);
    return 0;
}

int main(int argc, char** argv) {
    try {
        return measure(argc, argv);
    } catch (const std::exception& e) {
        fail(e.what());
    }
}
