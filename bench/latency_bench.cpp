// From the glove's last byte to each output: the real glove-monitor, Connect pressed on its
// window, beside latency_bridge (a minimal serial-to-UDP bridge), each on a pseudo-terminal of
// its own, both fed the same counted frames at the same moments. Receivers time the monitor's
// UDP and OSC datagrams, the bridge's datagrams and each rewrite of the exchange file.
//
//     latency_bench --monitor PATH --bridge PATH [--seconds S] [--work DIR]
//
// Needs an X server (DISPLAY) and xdotool. Prints, for each load, one line a receiver:
//     load=paced source=udp sent=1440 received=1440 twice=0 p50=0.21 p90=0.30 p99=0.80 max=2.10
// (milliseconds; twice: datagrams received again), and one line of wake-ups a frame: the
// monitor's window thread's voluntary context switches, and the bridge's, divided by the frames
// sent.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
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

enum Source { MonitorUdp, MonitorOsc, ExchangeFile, BridgeUdp, kSourceCount };
constexpr std::array<const char*, kSourceCount> kSourceNames{"udp", "osc", "file", "bridge"};
constexpr int kMonitorLine = 0;
constexpr int kBridgeLine = 1;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "latency_bench: %s\n", why.c_str());
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
        else
            fail("unknown option " + option);
    }
    if (monitor.empty() || bridge.empty()) {
        fail("usage: latency_bench --monitor PATH --bridge PATH [--seconds S] [--work DIR]");
    }
    std::filesystem::create_directories(work);
    std::filesystem::remove(work / "InputFile");
    ::signal(SIGPIPE, SIG_IGN);

    Feeder feeder;
    Receivers receivers(work);
    const pid_t bridgePid = bench::spawn(
        {bridge, feeder.lines[kBridgeLine].path, std::to_string(receivers.port(BridgeUdp))},
        work / "bridge.stderr");
    const pid_t monitorPid =
        bench::spawn({monitor, "--port", feeder.lines[kMonitorLine].path, "--exchange-file",
                      (work / "InputFile").string(), "--udp",
                      "127.0.0.1:" + std::to_string(receivers.port(MonitorUdp)), "--osc",
                      "127.0.0.1:" + std::to_string(receivers.port(MonitorOsc))},
                     work / "monitor.stderr");
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
            const int line = s == BridgeUdp ? kBridgeLine : kMonitorLine;
            std::vector<double> ms;
            for (const auto& [c, at] : receivers.arrivals(static_cast<Source>(s))) {
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
                receivers.repeats(static_cast<Source>(s), first, counter), f.p50, f.p90, f.p99,
                f.max);
        }
        std::printf("load=%s wakeups monitor=%.3f bridge=%.3f\n", load.name, monitorWakes / frames,
                    bridgeWakes / frames);
        std::fflush(stdout);
        std::this_thread::sleep_for(500ms);
    }
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
