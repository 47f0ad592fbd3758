// Posture recognition scored through the real program, and what recognition costs a frame.
//
//     posture_bench score --monitor PATH --sim PATH [--seconds S] [--seed N] [--work DIR]
//                         [--calibrated yes|no]
//     posture_bench cost [--frames N] [--runs R]
//
// score needs an X server (DISPLAY) and xdotool, as posture_bench.sh gives it, and keeps the
// monitor's settings in WORK/config. With --calibrated yes it first calibrates the device
// from 480 frames (10 s) of glove-sim's hand scenario recorded with --record
// (--calibrate-from). For each of glove-sim's five postures it records the first 96 frames
// (2 s) of the hand holding it (glove-sim --posture NAME, the monitor's --record, Connect
// pressed) and has the monitor learn them all (--learn-posture NAME=FILE.csv). Then glove-sim
// plays its postures scenario with --posture-log into the monitor, Connect pressed, and a
// receiver takes the monitor's OSC messages; S seconds (300 by default) from a second after
// Connect are scored. One line of figures, "KEY=VALUE" each (see the end of score()); exit
// status 1 when the receiver got no posture or no frame.
//
// cost: PostureWatch::frameRead in this process, on the postures scenario's frames with a
// calibration in force, with no posture, 5 and 50 postures learnt; ns a frame, the median of R
// runs of N frames each, the three sets taking turns within each run. One line a set.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "calibration/calibrator.h"
#include "common/glove_frame.h"
#include "frame_maker.h"
#include "monitor_process.h"
#include "posture/posture.h"
#include "posture/posture_watch.h"
#include "pseudo_terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A frame's time on the line, the unit the delay is counted in.
constexpr auto kFrameTime = glove::lineTime(glove::kFrameLength, glove::kGloveBaud);
constexpr int kLearningFrames = 96;      // 2 s at the line's pace
constexpr int kCalibrationFrames = 480;  // 10 s
constexpr auto kSettle = 1s;             // from Connect to the start of what is scored

// n frames' time on the line.
Clock::duration frameTimes(std::uint64_t n) {
    return static_cast<std::int64_t>(n) * kFrameTime;
}

double frames(Clock::duration d) {
    return std::chrono::duration<double>(d) / std::chrono::duration<double>(kFrameTime);
}

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The value that p percent of the figures do not exceed (nearest rank); NaN where there are
// none.
double percentile(std::vector<double> values, double p) {
    if (values.empty()) return NAN;
    std::ranges::sort(values);
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100 * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// ---- the monitor's OSC messages

using Readings = std::array<std::uint8_t, glove::kFrameLength - 1>;  // values 2 to 10

struct Message {
    Clock::time_point at;
    std::optional<std::string> posture;  // PREFIX/posture
    std::optional<Readings> frame;       // PREFIX/frame
};

// An OSC string: its text up to the terminator, and where the next field starts (a multiple
// of four bytes on); nullopt when it runs past the end.
std::optional<std::pair<std::string, std::size_t>> oscString(const char* data, std::size_t size,
                                                             std::size_t at) {
    const void* end = at < size ? std::memchr(data + at, '\0', size - at) : nullptr;
    if (end == nullptr) return std::nullopt;
    const std::size_t length = static_cast<const char*>(end) - (data + at);
    return std::pair{std::string(data + at, length), at + (length + 4) / 4 * 4};
}

std::optional<Message> parseOsc(const char* data, std::size_t size, Clock::time_point at) {
    const auto address = oscString(data, size, 0);
    if (!address) return std::nullopt;
    const auto tags = oscString(data, size, address->second);
    if (!tags) return std::nullopt;
    Message message{at, {}, {}};
    if (address->first == "/glove/posture" && tags->first == ",s") {
        const auto name = oscString(data, size, tags->second);
        if (!name) return std::nullopt;
        message.posture = name->first;
    } else if (address->first == "/glove/frame" && tags->first == ",iiiiiiiiii" &&
               tags->second + 4 * glove::kFrameLength <= size) {
        Readings readings{};
        for (std::size_t k = 0; k < readings.size(); ++k) {
            std::uint32_t word = 0;
            std::memcpy(&word, data + tags->second + 4 * (k + 1), 4);
            readings[k] = static_cast<std::uint8_t>(ntohl(word));
        }
        message.frame = readings;
    } else {
        return std::nullopt;
    }
    return message;
}

// A thread that calls `readable` each time `fd` has something to read, until stopped.
class ReadingThread {
  public:
    ReadingThread(int fd, std::function<void()> readable) {
        if (::pipe2(stop_.data(), O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        thread_ = std::thread([this, fd, readable = std::move(readable)] {
            std::array<pollfd, 2> polls{{{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}}};
            while (::poll(polls.data(), polls.size(), -1) >= 0 && polls[1].revents == 0) {
                if (polls[0].revents != 0) readable();
            }
        });
    }
    ~ReadingThread() { stop(); }
    ReadingThread(const ReadingThread&) = delete;
    ReadingThread& operator=(const ReadingThread&) = delete;

    void stop() {
        if (!thread_.joinable()) return;
        ::write(stop_[1], "x", 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
    }

  private:
    std::array<int, 2> stop_{-1, -1};
    std::thread thread_;
};

// Takes every posture and frame message on a thread of its own, with its arrival time.
class OscReceiver {
  public:
    OscReceiver() = default;
    ~OscReceiver() { stop(); }
    OscReceiver(const OscReceiver&) = delete;
    OscReceiver& operator=(const OscReceiver&) = delete;

    [[nodiscard]] int port() const { return port_; }
    void stop() {
        reader_.stop();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    [[nodiscard]] std::vector<Message> messages() {
        const std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    void receive() {
        std::array<char, 2048> buffer{};
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        const Clock::time_point at = Clock::now();
        if (n <= 0) return;
        if (auto message = parseOsc(buffer.data(), static_cast<std::size_t>(n), at)) {
            const std::lock_guard lock(mutex_);
            messages_.push_back(std::move(*message));
        }
    }

    int port_ = 0;
    int fd_ = bench::boundUdpSocket(port_);
    std::mutex mutex_;
    std::vector<Message> messages_;
    ReadingThread reader_{fd_, [this] { receive(); }};
};

// ---- the processes

void stopProcess(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// A process started here, ended when this goes away, so that a failed step leaves none behind.
class Child {
  public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    void stop() {
        if (pid_ > 0) stopProcess(pid_);
        pid_ = 0;
    }
    // Whether it has ended by itself (and is then gone).
    bool ended() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;
        return pid_ == 0;
    }

  private:
    pid_t pid_;
};

// Starts a command with what it prints kept in BASE.stdout and BASE.stderr, out of the
// figures this prints.
pid_t spawnLogged(const std::vector<std::string>& args, const fs::path& base) {
    const fs::path out = fs::path(base) += ".stdout";
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + out.string());
    const pid_t pid = bench::spawn(args, fs::path(base) += ".stderr", fd);
    ::close(fd);
    return pid;
}

// The monitor started with `args`, Connect pressed on its window, reading `line`. On this
// machine a monitor now and then could not reach the X server and ended at once; it is then
// started again, twice at most.
std::unique_ptr<Child> connectedMonitor(const std::vector<std::string>& args, const fs::path& base,
                                        const std::string& line) {
    for (int attempt = 1;; ++attempt) {
        auto monitor = std::make_unique<Child>(spawnLogged(args, base));
        try {
            bench::pressConnect(monitor->pid(), line);
            return monitor;
        } catch (const std::runtime_error& e) {
            if (attempt == 3 || !monitor->ended()) throw;
            std::fprintf(stderr, "posture_bench: %s, as the monitor ended; again\n", e.what());
        }
    }
}

// Runs a command to its end; throws with what it said on stderr unless it exits 0.
void runToEnd(const std::vector<std::string>& args, const fs::path& base) {
    int status = 0;
    ::waitpid(spawnLogged(args, base), &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
    std::ifstream said(fs::path(base) += ".stderr");
    std::string first;
    std::getline(said, first);
    throw std::runtime_error(args[0] + " " + args[1] + " ... failed: " + first);
}

// glove-sim writing to one end of a pseudo-terminal pair of its own (--device), and a thread
// that carries what it writes to the monitor's line, from the start of a frame once told to,
// dropping it before. A glove already sending when Connect is pressed leaves frames waiting,
// and the monitor, which reads one frame each frame's time, stays that far behind for the
// whole run: what is scored would be that backlog, not recognition. glove-sim's clock (the
// times in its posture log) starts as it prints its device's path.
class Sim {
  public:
    Sim(std::vector<std::string> args, const fs::path& stderrPath,
        const glove::pty::PseudoTerminal& monitorLine)
        : line_(monitorLine) {
        args.insert(args.end(), {"--device", own_.path});
        std::array<int, 2> out{};
        if (::pipe2(out.data(), O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        pid_ = bench::spawn(args, stderrPath, out[1]);
        ::close(out[1]);
        pollfd poll{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&poll, 1, 10'000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') {
        }
        started_ = Clock::now();
        ::close(out[0]);
        if (c != '\n') {
            stopProcess(pid_);
            throw std::runtime_error("glove-sim did not say where it writes");
        }
        reader_.emplace(own_.master.get(), [this] { carry(); });
    }
    ~Sim() { stop(); }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    void stop() {
        if (reader_) reader_->stop();
        if (pid_ > 0) stopProcess(pid_);
        pid_ = 0;
    }
    [[nodiscard]] Clock::time_point started() const { return started_; }
    // Once stopped: when the last byte of glove-sim's frame k was written to the monitor's
    // line, at k; a frame not carried, or not ended by the chunk that carried it, has none.
    [[nodiscard]] const std::vector<std::optional<Clock::time_point>>& carriedAt() const {
        return carriedAt_;
    }
    // From the start of the next frame on, with nothing of an earlier session left unread.
    void startCarrying() {
        ::tcflush(line_.slave.get(), TCIFLUSH);
        wanted_ = true;
    }

  private:
    void carry() {
        std::array<std::uint8_t, 256> bytes{};
        const ssize_t n = ::read(own_.master.get(), bytes.data(), bytes.size());
        if (n <= 0) return;
        const auto size = static_cast<std::size_t>(n);
        std::size_t from = 0;
        while (!carrying_ && from < size) {
            carrying_ = wanted_ && written_ % glove::kFrameLength == 0;
            if (!carrying_) ++from, ++written_;
        }
        if (!carrying_) return;
        // Taken before the write, as a writer preempted after it would seem to write late.
        const Clock::time_point at = Clock::now();
        // The line's master does not block: a monitor that stopped reading loses bytes.
        ::write(line_.master.get(), bytes.data() + from, size - from);
        const std::uint64_t before = written_;
        written_ += size - from;
        if (written_ / glove::kFrameLength > before / glove::kFrameLength) {
            carriedAt_.resize(written_ / glove::kFrameLength);
            carriedAt_.back() = at;
        }
    }

    glove::pty::PseudoTerminal own_ =
        glove::pty::openPseudoTerminal(B4800, glove::pty::MasterMode::Blocking);
    const glove::pty::PseudoTerminal& line_;
    pid_t pid_ = 0;
    Clock::time_point started_;
    std::atomic<bool> wanted_ = false;
    bool carrying_ = false;
    std::uint64_t written_ = 0;  // by glove-sim: its frames start at multiples of ten bytes
    std::vector<std::optional<Clock::time_point>> carriedAt_;
    std::optional<ReadingThread> reader_;
};

struct Setup {
    std::string monitor;
    std::string sim;
    fs::path work;
    // The line the monitor reads, the same for the whole run: postures are kept for its path.
    glove::pty::PseudoTerminal line;
};

// The lines of a text file, the recording's header included.
int linesIn(const fs::path& path) {
    std::ifstream in(path);
    return static_cast<int>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// Records `rows` frames of what glove-sim plays with `simArgs`, through the monitor's
// --record, and cuts the recording to them: a loaded machine may lose a frame now and then,
// so the monitor is stopped once that many are in the file, not after their time.
void record(const Setup& s, std::vector<std::string> simArgs, const fs::path& csv, int rows) {
    fs::remove(csv);
    simArgs.insert(simArgs.begin(), s.sim);
    const std::string name = csv.stem().string();
    const auto monitor = connectedMonitor({s.monitor, "--port", s.line.path, "--record", csv},
                                          s.work / (name + "-monitor"), s.line.path);
    Sim sim(simArgs, s.work / (name + "-sim.stderr"), s.line);
    sim.startCarrying();
    const auto until = Clock::now() + frameTimes(static_cast<std::uint64_t>(rows)) + 10s;
    while (linesIn(csv) <= rows && Clock::now() < until) std::this_thread::sleep_for(100ms);
    monitor->stop();
    std::ifstream in(csv);
    std::string kept;
    std::string line;
    for (int lines = 0; lines <= rows && std::getline(in, line); ++lines) kept += line + '\n';
    in.close();
    if (linesIn(csv) <= rows) {
        throw std::runtime_error(csv.string() + " holds fewer than " + std::to_string(rows) +
                                 " frames");
    }
    std::ofstream(csv, std::ios::trunc) << kept;
}

void learnPostures(const Setup& s, bool calibrated) {
    if (calibrated) {
        const fs::path csv = s.work / "hand.csv";
        record(s, {"--scenario", "hand"}, csv, kCalibrationFrames);
        runToEnd({s.monitor, "--port", s.line.path, "--calibrate-from", csv}, s.work / "calibrate");
    }
    std::vector<std::string> learn{s.monitor, "--port", s.line.path};
    for (const glove_sim::SimPosture& p : glove_sim::simPostures) {
        const fs::path csv = s.work / (std::string(p.name) + ".csv");
        record(s, {"--scenario", "postures", "--posture", std::string(p.name)}, csv,
               kLearningFrames);
        learn.insert(learn.end(), {"--learn-posture", std::string(p.name) + "=" + csv.string()});
    }
    runToEnd(learn, s.work / "learn");
}

// ---- what glove-sim says it played

// When each of glove-sim's frames ended on the monitor's line: when its last byte was
// written there, or, where that is not known (not carried yet, or ended in the same chunk as
// the next), a frame's time after the frame before; the first frame ends nine characters into
// glove-sim's clock.
std::vector<Clock::time_point> lineEnds(
    const std::vector<std::optional<Clock::time_point>>& carried, std::size_t count,
    Clock::time_point simStart) {
    std::vector<Clock::time_point> ends(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (k < carried.size() && carried[k])
            ends[k] = *carried[k];
        else
            ends[k] = k == 0
                          ? simStart + glove::lineTime(glove::kFrameLength - 1, glove::kGloveBaud)
                          : ends[k - 1] + kFrameTime;
    }
    return ends;
}

// A line of the posture log: from this frame the hand holds `name`, or moves ("none"). `at`
// is when the frame's first byte went onto the monitor's line; `logged` when the log says,
// on glove-sim's clock, which runs behind the line after glove-sim stalled.
struct Segment {
    Clock::time_point at;
    Clock::time_point logged;
    std::uint64_t frame = 0;
    std::string name;
};

std::vector<Segment> readLog(const fs::path& path, Clock::time_point simStart) {
    std::vector<Segment> segments;
    std::ifstream log(path);
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        double seconds = 0;
        Segment s;
        if (!(fields >> seconds >> s.frame >> s.name)) continue;
        s.logged = simStart + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(seconds));
        segments.push_back(std::move(s));
    }
    return segments;
}

// A frame message: when it arrived, and which of glove-sim's frames it carried.
struct FrameRead {
    Clock::time_point at;
    std::uint64_t frame = 0;
};

// Which of glove-sim's first `count` frames each frame message carries: the stream made again
// here from the same seed, each message matched to the first frame after the one matched
// before that holds the same readings.
std::vector<FrameRead> framesRead(const std::vector<Message>& messages, std::uint32_t seed,
                                  std::size_t count) {
    glove_sim::FrameMaker maker({.scenario = glove_sim::Scenario::Postures, .seed = seed});
    std::map<Readings, std::vector<std::uint64_t>> frameOf;
    for (std::uint64_t k = 0; k < count; ++k) {
        const glove_sim::Chunk chunk = maker.next();
        Readings readings{};
        std::copy(chunk.bytes.begin() + 1, chunk.bytes.end(), readings.begin());
        frameOf[readings].push_back(k);
    }
    std::vector<FrameRead> read;
    std::uint64_t next = 0;
    for (const Message& m : messages) {
        if (!m.frame) continue;
        const auto found = frameOf.find(*m.frame);
        if (found == frameOf.end()) continue;
        const auto k = std::ranges::lower_bound(found->second, next);
        if (k == found->second.end()) continue;
        next = *k + 1;
        read.push_back({m.at, *k});
    }
    return read;
}

// ---- scoring

struct Score {
    long holds = 0;
    long heldFrames = 0;
    long heldRight = 0;
    long laterFrames = 0;  // from the fourth frame of a hold on
    long laterRight = 0;
    long changes = 0;
    long falseChanges = 0;
    long noneInHold = 0;
    long missed = 0;
    std::vector<double> delays;      // in frame times, from the hold's start on the line
    std::vector<double> readDelays;  // in frames of the hold the monitor had read
    double simBehind = 0;            // ms: the most a hold began on the line after its logged time
};

// What the receiver knew before `t`: the name in the last posture message, "none" before any.
class Timeline {
  public:
    explicit Timeline(const std::vector<Message>& messages) {
        for (const Message& m : messages) {
            if (m.posture) postures_.push_back({m.at, *m.posture});
        }
    }
    [[nodiscard]] const std::string& before(Clock::time_point t) const {
        const auto after = std::ranges::upper_bound(
            postures_, t, std::less<>(), &std::pair<Clock::time_point, std::string>::first);
        return after == postures_.begin() ? kNone : std::prev(after)->second;
    }
    // The messages that named another posture than the one before them.
    [[nodiscard]] std::vector<std::pair<Clock::time_point, std::string>> changes() const {
        std::vector<std::pair<Clock::time_point, std::string>> changes;
        for (std::size_t i = 0; i < postures_.size(); ++i) {
            if (postures_[i].second != (i == 0 ? kNone : postures_[i - 1].second))
                changes.push_back(postures_[i]);
        }
        return changes;
    }
    [[nodiscard]] std::size_t messages() const { return postures_.size(); }

  private:
    inline static const std::string kNone{glove::posture::kNone};
    std::vector<std::pair<Clock::time_point, std::string>> postures_;
};

// Scores the holds and changes inside [begin, end).
Score scoreRun(const std::vector<Segment>& log, const std::vector<Clock::time_point>& ends,
               const std::vector<FrameRead>& read, const Timeline& timeline,
               Clock::time_point begin, Clock::time_point end) {
    Score score;
    const auto changes = timeline.changes();
    const auto isMove = [&](std::size_t i) { return log[i].name == glove_sim::movingHand; };
    // A message that arrives after a frame ended on the line and before the next one ended
    // tells what the monitor made of that frame: the monitor's posture at frame f is what the
    // receiver knew just before frame f + 1 ended.
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        if (isMove(i) || log[i].at < begin || log[i + 1].at > end) continue;
        ++score.holds;
        score.simBehind = std::max(score.simBehind, milliseconds(log[i].at - log[i].logged));
        for (std::uint64_t f = log[i].frame; f < log[i + 1].frame; ++f) {
            const bool right = timeline.before(ends[f + 1]) == log[i].name;
            ++score.heldFrames;
            score.heldRight += right ? 1 : 0;
            if (f >= log[i].frame + glove::posture::kHoldFrames) {
                ++score.laterFrames;
                score.laterRight += right ? 1 : 0;
            }
        }
        // The delay: from the hold's start to the first message naming it since the move to
        // it began (the move may end near enough to the posture for it to count early).
        const auto since = i > 0 && isMove(i - 1) ? log[i - 1].at : log[i].at;
        const auto first = std::ranges::find_if(changes, [&](const auto& c) {
            return c.first >= since && c.first < log[i + 1].at && c.second == log[i].name;
        });
        if (first == changes.end()) {
            ++score.missed;
            continue;
        }
        score.delays.push_back(frames(first->first - log[i].at));
        // And in frames the monitor had read: the frame whose message came last before it.
        const auto told =
            std::ranges::upper_bound(read, first->first, std::less<>(), &FrameRead::at);
        if (told != read.begin()) {
            score.readDelays.push_back(static_cast<double>(std::prev(told)->frame) -
                                       static_cast<double>(log[i].frame) + 1);
        }
    }
    // A change belongs to the segment of the frame that ended last before it arrived.
    for (const auto& [at, name] : changes) {
        if (at < begin || at >= end) continue;
        ++score.changes;
        const auto ended = std::ranges::upper_bound(ends, at);
        if (ended == ends.begin()) continue;
        const auto frame = static_cast<std::uint64_t>(ended - ends.begin() - 1);
        const auto next = std::ranges::upper_bound(log, frame, std::less<>(), &Segment::frame);
        if (next == log.begin()) continue;
        const auto i = static_cast<std::size_t>(next - log.begin() - 1);
        if (name == glove::posture::kNone) {
            score.noneInHold += isMove(i) ? 0 : 1;
            continue;
        }
        const bool expected = isMove(i) ? (i > 0 && name == log[i - 1].name) ||
                                              (i + 1 < log.size() && name == log[i + 1].name)
                                        : name == log[i].name;
        score.falseChanges += expected ? 0 : 1;
    }
    return score;
}

struct ScoreOptions {
    Setup setup;
    double seconds = 300;
    std::uint32_t seed = 1;
    bool calibrated = false;
};

int score(const ScoreOptions& o) {
    const Setup& s = o.setup;
    learnPostures(s, o.calibrated);

    OscReceiver receiver;
    const fs::path logPath = s.work / "postures.log";
    const auto monitor = connectedMonitor(
        {s.monitor, "--port", s.line.path, "--osc", "127.0.0.1:" + std::to_string(receiver.port())},
        s.work / "play-monitor", s.line.path);
    Sim sim({s.sim, "--scenario", "postures", "--seed", std::to_string(o.seed), "--posture-log",
             logPath.string()},
            s.work / "play-sim.stderr", s.line);
    sim.startCarrying();
    const Clock::time_point begin = Clock::now() + kSettle;
    const Clock::time_point end = begin + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(o.seconds));
    std::this_thread::sleep_until(end + 500ms);
    monitor->stop();
    sim.stop();
    receiver.stop();

    const std::vector<Message> messages = receiver.messages();
    std::vector<Segment> log = readLog(logPath, sim.started());
    if (log.empty()) throw std::runtime_error("glove-sim logged no posture");
    const std::vector<Clock::time_point> ends = lineEnds(
        sim.carriedAt(), std::max<std::size_t>(log.back().frame + 2, sim.carriedAt().size()),
        sim.started());
    for (Segment& segment : log)
        segment.at =
            ends[segment.frame] - glove::lineTime(glove::kFrameLength - 1, glove::kGloveBaud);
    const std::vector<FrameRead> read = framesRead(messages, o.seed, ends.size());
    const Timeline timeline(messages);
    const Score sc = scoreRun(log, ends, read, timeline, begin, end);
    // How long after its last byte reached the line each frame's message arrived (ms): how far
    // the monitor ran behind the line.
    std::vector<double> lags;
    for (const FrameRead& r : read) {
        if (r.at >= begin && r.at < end && r.frame < sim.carriedAt().size() &&
            sim.carriedAt()[r.frame])
            lags.push_back(milliseconds(r.at - *sim.carriedAt()[r.frame]));
    }
    const auto framesReceived = std::ranges::count_if(
        read, [&](const FrameRead& r) { return r.at >= begin && r.at < end; });
    const auto postureMessages = std::ranges::count_if(
        messages, [&](const Message& m) { return m.posture && m.at >= begin && m.at < end; });
    const double minutes = o.seconds / 60;

    std::printf(
        "seed=%u seconds=%g calibrated=%s holds=%ld held_frames=%ld held_right=%ld "
        "held_right_pct=%.3f later_right_pct=%.3f changes=%ld false_changes=%ld "
        "false_per_minute=%.3f none_in_hold=%ld missed=%ld delay_p50=%.2f delay_p90=%.2f "
        "delay_min=%.2f delay_max=%.2f read_delay_p50=%.0f read_delay_p90=%.0f read_delay_max=%.0f "
        "posture_messages=%ld frames_expected=%.0f "
        "frames_received=%ld lag_min=%.3f lag_p50=%.3f lag_p99=%.3f lag_max=%.3f "
        "sim_behind_max=%.3f\n",
        o.seed, o.seconds, o.calibrated ? "yes" : "no", sc.holds, sc.heldFrames, sc.heldRight,
        100.0 * static_cast<double>(sc.heldRight) /
            static_cast<double>(std::max(1L, sc.heldFrames)),
        100.0 * static_cast<double>(sc.laterRight) /
            static_cast<double>(std::max(1L, sc.laterFrames)),
        sc.changes, sc.falseChanges, static_cast<double>(sc.falseChanges) / minutes, sc.noneInHold,
        sc.missed, percentile(sc.delays, 50), percentile(sc.delays, 90), percentile(sc.delays, 0),
        percentile(sc.delays, 100), percentile(sc.readDelays, 50), percentile(sc.readDelays, 90),
        percentile(sc.readDelays, 100), static_cast<long>(postureMessages), frames(end - begin),
        static_cast<long>(framesReceived), percentile(lags, 0), percentile(lags, 50),
        percentile(lags, 99), percentile(lags, 100), sc.simBehind);
    if (postureMessages == 0 || framesReceived == 0) {
        std::fprintf(stderr, "posture_bench: the receiver got %s in the %g s scored\n",
                     postureMessages == 0 ? "no posture" : "no frame", o.seconds);
        return 1;
    }
    return 0;
}

// ---- the cost a frame

glove::Frame asFrame(const glove_sim::Chunk& chunk) {
    glove::Frame frame{};
    std::copy(chunk.bytes.begin(), chunk.bytes.end(), frame.begin());
    return frame;
}

int cost(long frameCount, int runs) {
    using namespace glove::posture;
    // The calibration the hand scenario gives: value 2 (the battery) moves too little.
    glove::calibration::Ranges ranges{};
    ranges[0] = {0, 2};
    for (std::size_t i = 0; i < glove_sim::handRanges.size(); ++i)
        ranges[i + 1] = {glove_sim::handRanges[i].low, glove_sim::handRanges[i].high};
    glove::calibration::Calibrator calibrator;
    calibrator.setInForce(ranges);

    std::vector<glove::Frame> stream;
    glove_sim::FrameMaker maker({.scenario = glove_sim::Scenario::Postures});
    for (int k = 0; k < 4800; ++k) stream.push_back(asFrame(maker.next()));

    PostureSet five;
    for (std::size_t p = 0; p < glove_sim::simPostures.size(); ++p) {
        glove_sim::FrameMaker held({.scenario = glove_sim::Scenario::Postures, .posture = p});
        std::vector<Values> values;
        for (int k = 0; k < kLearningFrames; ++k)
            values.push_back(rawValues(asFrame(held.next())));
        Learnt learnt = learn(glove_sim::simPostures[p].name, values);
        if (!learnt.fault.empty()) throw std::runtime_error(learnt.fault);
        five.add(std::move(learnt.posture));
    }
    PostureSet fifty = five;
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> level(0.0F, 1.0F);
    for (std::size_t n = five.postures().size(); n < 50; ++n) {
        Posture extra{"extra " + std::to_string(n + 1), {}};
        std::ranges::generate(extra.values, [&] { return level(rng); });
        if (const std::string fault = fifty.add(std::move(extra)); !fault.empty())
            throw std::runtime_error(fault);
    }

    const std::array<const PostureSet*, 3> sets{nullptr, &five, &fifty};
    std::array<std::vector<double>, 3> nanos;
    long held = 0;  // kept, so that no frame's work can be left out
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < sets.size(); ++i) {
            PostureWatch watch(calibrator);
            if (sets[i] != nullptr) watch.setPostures(*sets[i]);
            const auto start = Clock::now();
            for (long k = 0; k < frameCount; ++k)
                watch.frameRead(std::span(&stream[static_cast<std::size_t>(k) % stream.size()], 1));
            nanos[i].push_back(
                std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                static_cast<double>(frameCount));
            held += watch.changes();
        }
    }
    for (std::size_t i = 0; i < sets.size(); ++i) {
        std::string each;
        for (const double n : nanos[i])
            each += (each.empty() ? "" : ",") + std::to_string(std::lround(n));
        std::printf("postures=%zu frames=%ld runs=%d ns_per_frame=%.1f each=%s\n",
                    sets[i] == nullptr ? 0 : sets[i]->postures().size(), frameCount, runs,
                    percentile(nanos[i], 50), each.c_str());
    }
    std::fprintf(stderr, "posture_bench: %ld changes of posture in all\n", held);
    return 0;
}

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr,
                 "posture_bench: %s\nusage: posture_bench score --monitor PATH --sim PATH "
                 "[--seconds S] [--seed N] [--work DIR] [--calibrated yes|no]\n"
                 "       posture_bench cost [--frames N] [--runs R]\n",
                 why.c_str());
    std::exit(2);
}

int run(int argc, char** argv) {
    if (argc < 2) usage("score or cost?");
    const std::string mode = argv[1];
    std::map<std::string, std::string> given;
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 == argc) usage(std::string(argv[i]) + " needs a value");
        given[argv[i]] = argv[i + 1];
    }
    const auto take = [&](const std::string& option, const std::string& fallback) {
        const auto found = given.find(option);
        if (found == given.end()) return fallback;
        std::string value = found->second;
        given.erase(found);
        return value;
    };
    if (mode == "cost") {
        const long frameCount = std::stol(take("--frames", "200000"));
        const int runs = std::stoi(take("--runs", "7"));
        if (!given.empty()) usage("unknown option " + given.begin()->first);
        if (frameCount < 1 || runs < 1) usage("--frames and --runs take a count from 1");
        return cost(frameCount, runs);
    }
    if (mode != "score") usage("unknown mode " + mode);
    ScoreOptions o;
    o.setup.monitor = take("--monitor", "");
    o.setup.sim = take("--sim", "");
    o.setup.work = take("--work", (fs::temp_directory_path() / "posture_bench").string());
    o.seconds = std::stod(take("--seconds", "300"));
    o.seed = static_cast<std::uint32_t>(std::stoul(take("--seed", "1")));
    const std::string calibrated = take("--calibrated", "no");
    if (!given.empty()) usage("unknown option " + given.begin()->first);
    if (o.setup.monitor.empty() || o.setup.sim.empty()) usage("--monitor and --sim are needed");
    if (!(o.seconds > 0)) usage("--seconds takes a time above 0");
    if (calibrated != "yes" && calibrated != "no") usage("--calibrated takes yes or no");
    o.calibrated = calibrated == "yes";
    fs::create_directories(o.setup.work);
    o.setup.line = glove::pty::openPseudoTerminal(B4800, glove::pty::MasterMode::NonBlocking);
    // Settings of its own, new each run: postures learnt before would be refused or mixed in.
    const fs::path config = o.setup.work / "config";
    fs::remove_all(config);
    fs::create_directories(config);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::signal(SIGPIPE, SIG_IGN);
    return score(o);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "posture_bench: %s\n", e.what());
        return 1;
    }
}
