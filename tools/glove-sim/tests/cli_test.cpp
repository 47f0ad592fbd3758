// Runs the built glove-sim and reads what it sends, the way the monitor would.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame_maker.h"
#include "support/case_names.h"

extern char** environ;

namespace {

using namespace glove_sim;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* simBinary = GLOVE_SIM_BINARY;
// Generous: everything here normally finishes within a fraction of a second.
constexpr auto patience = 5s;

// Reads until `enough` is satisfied, the other end goes away, or patience runs out.
std::string readUntil(int fd, const std::function<bool(const std::string&)>& enough) {
    constexpr int pollSliceMs = 50;
    std::string got;
    const auto giveUp = Clock::now() + patience;
    while (!enough(got) && Clock::now() < giveUp) {
        pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
        if (::poll(&ready, 1, pollSliceMs) <= 0) continue;
        std::array<char, 256> buffer{};
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        got.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return got;
}

const auto untilEnd = [](const std::string&) { return false; };

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens the reader's side raw and non-blocking, as the monitor does.
int openRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

// glove-sim running with stdout and stderr on pipes; killed if the test leaves it running.
class Sim {
  public:
    explicit Sim(std::vector<std::string> args) {
        std::array<int, 2> out{};
        std::array<int, 2> err{};
        EXPECT_EQ(::pipe2(out.data(), O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err.data(), O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions{};
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        args.insert(args.begin(), simBinary);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, simBinary, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_.fd = out[0];
        err_.fd = err[0];
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;
    ~Sim() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    std::string firstLine() const {
        const std::string got = readUntil(
            out_.fd, [](const std::string& s) { return s.find('\n') != std::string::npos; });
        return got.substr(0, got.find('\n'));
    }
    std::string allOutput() const { return readUntil(out_.fd, untilEnd); }
    std::string allErrors() const { return readUntil(err_.fd, untilEnd); }
    void signal(int number) const { ::kill(pid_, number); }

    // Exit status, or -1 if it did not exit in time.
    int exitStatus() {
        const auto giveUp = Clock::now() + patience;
        int status = 0;
        while (Clock::now() < giveUp) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    Fd out_;
    Fd err_;
};

class ScratchDir : public testing::Test {
  protected:
    ScratchDir() { fs::create_directories(dir_); }
    ~ScratchDir() override { fs::remove_all(dir_); }

    const fs::path dir_ =
        fs::temp_directory_path() / ("glove-sim-test-" + std::to_string(::getpid()));
};

TEST(Streaming, DeliversCountedFramesOnItsPseudoTerminal) {
    // Sixteen: a seventeenth finds the reader sixteen frames behind and is dropped.
    constexpr std::size_t frames = 16;
    Sim sim({"--frames", std::to_string(frames), "--burst", "--count"});
    const std::string path = sim.firstLine();
    ASSERT_FALSE(path.empty());
    const Fd tty{openRaw(path)};
    ASSERT_GE(tty.fd, 0) << path;
    // A slow reader: the last frame is written well before it reads (at 0.33 s), and must not
    // be lost.
    std::this_thread::sleep_for(500ms);

    const std::string got =
        readUntil(tty.fd, [](const std::string& s) { return s.size() >= frames * frameLength; });
    ASSERT_EQ(got.size(), frames * frameLength);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::string frame = got.substr(f * frameLength, frameLength);
        EXPECT_EQ(static_cast<std::uint8_t>(frame[0]), frameMarker);
        CounterValues counter{};
        std::copy_n(frame.begin() + valuePos(counterFirstValue), counterValueCount,
                    counter.begin());
        EXPECT_EQ(decodeCounter(counter), f);
    }
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST(Streaming, AReaderWhoComesLateFindsAtMostSixteenFramesWaitingThenTheFramesOfNow) {
    // No reading holds 128: only the marker does.
    Sim sim({"--count", "--hold", "1,2,3,4,5,6,7,8,9"});
    const std::string path = sim.firstLine();
    std::this_thread::sleep_for(1s);  // 48 frames at 4800 baud, none of them read
    const Fd tty{openRaw(path)};
    ASSERT_GE(tty.fd, 0) << path;
    std::array<char, 4096> waiting{};
    EXPECT_LE(::read(tty.fd, waiting.data(), waiting.size()), 16 * frameLength)
        << "frames piled up while nobody read";
    const std::string got =
        readUntil(tty.fd, [](const std::string& s) { return s.size() >= 2 * frameLength; });
    const std::size_t marker = got.find(static_cast<char>(frameMarker));
    ASSERT_LE(marker + frameLength, got.size());
    CounterValues counter{};
    std::copy_n(got.begin() + static_cast<std::ptrdiff_t>(marker + valuePos(counterFirstValue)),
                counterValueCount, counter.begin());
    EXPECT_GE(decodeCounter(counter), 40U) << "an old frame came after those waiting";
}

// Nobody takes the frame: the end waits a moment for a reader, not a second.
TEST(Streaming, EndsSoonWhenNobodyTakesTheLastFrames) {
    const auto started = Clock::now();
    Sim sim({"--frames", "1", "--burst"});
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_LT(Clock::now() - started, 900ms);
}

TEST(Streaming, RateSpacesTheFramesOut) {
    // Three frames at ten a second end 0.22 s after the stream starts; at the line's own
    // pace they would take 0.06 s.
    Sim sim({"--frames", "3", "--rate", "10", "--scenario", "random"});
    const std::string path = sim.firstLine();
    const auto started = Clock::now();
    const Fd tty{openRaw(path)};
    ASSERT_GE(tty.fd, 0);
    const std::string got =
        readUntil(tty.fd, [](const std::string& s) { return s.size() >= 3 * frameLength; });
    EXPECT_EQ(got.size(), 3 * frameLength);
    EXPECT_GE(Clock::now() - started, 150ms);
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST(Streaming, UnplugHangsUpTheReader) {
    Sim sim({"--scenario", "unplug", "--for", "0.3"});
    const Fd tty{openRaw(sim.firstLine())};
    ASSERT_GE(tty.fd, 0);
    const auto started = Clock::now();
    const std::string got = readUntil(tty.fd, untilEnd);
    EXPECT_LT(Clock::now() - started, patience) << "no hang-up seen";
    EXPECT_GE(got.size(), frameLength);
    EXPECT_EQ(sim.exitStatus(), 0);
}

using LinkTest = ScratchDir;

TEST_F(LinkTest, ReplacesOldLinkAndRemovesItOnSigterm) {
    const fs::path link = dir_ / "glove";
    fs::create_symlink("/nonexistent", link);
    Sim sim({"--scenario", "silent", "--link", link.string()});
    const std::string path = sim.firstLine();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), path);
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));
}

TEST_F(LinkTest, RefusesToReplaceARegularFile) {
    const fs::path file = dir_ / "notes";
    std::ofstream(file) << "keep me";
    Sim sim({"--link", file.string()});
    EXPECT_EQ(sim.exitStatus(), 2);
    EXPECT_FALSE(sim.allErrors().empty());
    std::string kept;
    std::getline(std::ifstream(file), kept);
    EXPECT_EQ(kept, "keep me");
}

class ReplayTest : public ScratchDir {
  protected:
    // A recording of `rows` frames 20 ms apart, value 2 numbering them; `tail` follows.
    std::string recording(int rows, const std::string& tail = "") const {
        const fs::path path = dir_ / "r.csv";
        std::ofstream file(path);
        file << "time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10\n";
        for (int n = 0; n < rows; ++n)
            file << "2026-12-07T09:31:02.123+01:00," << 1000 + 20 * n << ".500,128," << n
                 << ",0,255,4,5,6,7,8,9\n";
        file << tail;
        return path.string();
    }
    // The value 2 of each frame read, or -1 for a frame that is not one of the recording's.
    static std::vector<int> numbers(const std::string& got) {
        std::vector<int> seen;
        for (std::size_t at = 0; at + frameLength <= got.size(); at += frameLength) {
            const std::string frame = got.substr(at, frameLength);
            const bool same = frame.substr(2) == std::string("\x00\xff\x04\x05\x06\x07\x08\x09", 8);
            seen.push_back(static_cast<std::uint8_t>(frame[0]) == frameMarker && same
                               ? static_cast<std::uint8_t>(frame[1])
                               : -1);
        }
        return seen;
    }
};

// Rows 20 ms apart are about as fast as the line's 48 frames a second: four times as fast
// cannot be, and glove-sim says so once.
TEST_F(ReplayTest, PlaysEveryRowInOrderAndLoops) {
    Sim once({"--replay", recording(5), "--speed", "4"});
    const Fd tty{openRaw(once.firstLine())};
    EXPECT_EQ(numbers(readUntil(tty.fd, untilEnd)), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(once.exitStatus(), 0);
    EXPECT_EQ(once.allErrors(),
              "glove-sim: warning: --speed 4 asks for 200 frames a second; the line carries 48 "
              "at 4800 baud, so the recording plays at 0.96 times its speed\n");

    Sim looped({"--replay", recording(3), "--loop", "--frames", "7", "--burst"});
    const Fd again{openRaw(looped.firstLine())};
    EXPECT_EQ(numbers(readUntil(again.fd, untilEnd)), (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
    EXPECT_EQ(looped.exitStatus(), 0);
    EXPECT_EQ(looped.allErrors(), "");
}

TEST_F(ReplayTest, LeavesOutACutLastRowWithAWarning) {
    Sim sim(
        {"--replay", recording(2, "2026-12-07T09:31:02.123+01:00,1100.000,128,7,0,2"), "--burst"});
    const Fd tty{openRaw(sim.firstLine())};
    EXPECT_EQ(numbers(readUntil(tty.fd, untilEnd)), (std::vector<int>{0, 1}));
    EXPECT_EQ(sim.allErrors(), "glove-sim: " + (dir_ / "r.csv").string() +
                                   ":4: warning: the last row is cut short and is left out\n");
    EXPECT_EQ(sim.exitStatus(), 0);
}

TEST_F(ReplayTest, AFileThatIsNoRecordingNamesItsLine) {
    const std::string path = recording(3, "x,1.000,128,1,2,3,4,5,6,7,8,9\n");
    Sim sim({"--replay", path});
    EXPECT_EQ(sim.exitStatus(), 2);
    EXPECT_EQ(sim.allOutput(), "") << "a line was opened";
    EXPECT_EQ(sim.allErrors(),
              "glove-sim: " + path + ":5: elapsed_ms goes back from 1040.500 to 1.000\n");
}

// The help names the program, not the path it was started by, and words its own options as
// the monitor's help does; the toolkit's --help-all still shows it.
TEST(Help, NamesTheProgramAndWordsItsOptionsAsTheMonitorDoes) {
    for (const char* option : {"--help", "--help-all"}) {
        Sim sim({option});
        const std::string help = sim.allOutput();
        EXPECT_EQ(help.substr(0, help.find('\n')), "Usage: glove-sim [options]") << option;
        EXPECT_NE(help.find("  -h, --help "), std::string::npos) << help;
        EXPECT_NE(help.find("Show this help and exit.\n"), std::string::npos) << help;
        EXPECT_EQ(help.find("--help-all"), std::string::npos) << help;
        EXPECT_NE(help.find("  -v, --version "), std::string::npos) << help;
        EXPECT_EQ(sim.exitStatus(), 0);
    }
    Sim version({"--version"});
    EXPECT_EQ(version.allOutput(), "glove-sim (Glove Monitor) 1.00\n");
    EXPECT_EQ(version.exitStatus(), 0);
}

struct BadOptionCase {
    const char* name;
    std::vector<std::string> arguments;
};

class BadOptions : public testing::TestWithParam<BadOptionCase> {};

TEST_P(BadOptions, GiveOneLineOnStderrAndStatus2) {
    Sim sim(GetParam().arguments);
    EXPECT_EQ(sim.exitStatus(), 2);
    EXPECT_EQ(sim.allOutput(), "");
    const std::string errors = sim.allErrors();
    EXPECT_FALSE(errors.empty());
    EXPECT_EQ(std::ranges::count(errors, '\n'), 1) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, BadOptions,
    testing::Values(
        BadOptionCase{"UnknownScenario", {"--scenario", "dance"}},
        BadOptionCase{"OffsetOfAWholeFrame", {"--offset", "10"}},
        BadOptionCase{"NegativeFrames", {"--frames", "-1"}},
        BadOptionCase{"WordForFrames", {"--frames", "many"}},
        BadOptionCase{"NegativeDuration", {"--for", "-0.5"}},
        BadOptionCase{"EndlessDuration", {"--for", "inf"}},
        BadOptionCase{"WordForSeed", {"--seed", "x"}}, BadOptionCase{"BaudZero", {"--baud", "0"}},
        BadOptionCase{"DeviceAtANonstandardBaud", {"--device", "/dev/null", "--baud", "1234"}},
        BadOptionCase{"UnknownOption", {"--wiggle"}}, BadOptionCase{"StrayArgument", {"stray"}},
        BadOptionCase{"HoldTooShort", {"--hold", "1,2,3"}},
        BadOptionCase{"HoldBelowZero", {"--hold", "1,2,3,4,5,6,7,8,-1"}},
        BadOptionCase{"HoldAbove255", {"--hold", "1,2,3,4,5,6,7,8,256"}},
        BadOptionCase{"RateZero", {"--rate", "0"}}, BadOptionCase{"NegativeRate", {"--rate", "-5"}},
        BadOptionCase{"RateAboveTheLine", {"--rate", "49"}},
        BadOptionCase{"WordForRate", {"--rate", "fast"}},
        BadOptionCase{"DropByteZero", {"--drop-byte", "0"}},
        BadOptionCase{"NegativeDropByte", {"--drop-byte", "-3"}},
        BadOptionCase{"WordForDropByte", {"--drop-byte", "x"}},
        BadOptionCase{"ReplayWithScenario", {"--replay", "r.csv", "--scenario", "wave"}},
        BadOptionCase{"ReplayWithHold", {"--replay", "r.csv", "--hold", "1,2,3,4,5,6,7,8,9"}},
        BadOptionCase{"ReplayWithCount", {"--replay", "r.csv", "--count"}},
        BadOptionCase{"ReplayWithOffset", {"--replay", "r.csv", "--offset", "1"}},
        BadOptionCase{"ReplayWithRate", {"--replay", "r.csv", "--rate", "10"}},
        BadOptionCase{"ReplayWithDropByte", {"--replay", "r.csv", "--drop-byte", "3"}},
        BadOptionCase{"ReplaySpeedTooSlow", {"--replay", "r.csv", "--speed", "0.09"}},
        BadOptionCase{"ReplaySpeedTooFast", {"--replay", "r.csv", "--speed", "101"}},
        BadOptionCase{"ReplaySpeedNotANumber", {"--replay", "r.csv", "--speed", "nan"}},
        BadOptionCase{"SpeedWithoutReplay", {"--speed", "2"}},
        BadOptionCase{"LoopWithoutReplay", {"--loop"}},
        BadOptionCase{"MissingRecording", {"--replay", "/nonexistent/r.csv"}},
        BadOptionCase{"PostureLogWithoutPostures", {"--posture-log", "/tmp/p.log"}},
        BadOptionCase{"PostureWithoutPostures", {"--posture", "fist"}},
        BadOptionCase{"UnknownPosture", {"--scenario", "postures", "--posture", "wave"}}),
    glove::test::CaseName());

}  // namespace
