#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/glove_pipeline.h"
#include "support/pty.h"
#include "support/recording_display.h"
#include "support/temp_files.h"

namespace glove::fault {

// ---- The exchange file --------------------------------------------------------------------

// Every line is "128" and nine more decimal values 0..255, ended by CR LF; empty is fine.
::testing::AssertionResult isWellFormedExchange(const QByteArray& content);

// What a poll that read these ten bytes must leave in the file: one line per marker,
// rotated so that the marker comes first, in position order.
QByteArray linesFor(const QByteArray& frame);

// The text the window shows once the file holds linesFor(frame) for a frame whose first
// line is neither the gesture nor the low battery: its ten values, two spaces apart.
QString valuesTextFor(const QByteArray& frame);

// What is at a path, seen without following a link and without ever blocking on a fifo.
// Regular files are read only so far: a huge file must not be read whole.
struct PathState {
    enum class Kind { Absent, Regular, Directory, Symlink, Fifo, Other };
    static constexpr std::size_t kMostRead = 64 * 1024;

    Kind kind = Kind::Absent;
    QByteArray content;  // a regular file's first bytes, a link's target
    off_t size = 0;
    ino_t inode = 0;
    uid_t owner = 0;
    mode_t mode = 0;
    nlink_t links = 0;

    static PathState of(const std::string& path);
    [[nodiscard]] bool isFile() const { return kind == Kind::Regular; }
    [[nodiscard]] std::string describe() const;
    friend bool operator==(const PathState&, const PathState&) = default;
};

// ---- The process --------------------------------------------------------------------------

int openDescriptorCount();
// Memory the process holds: its resident pages, except under the address sanitizer, whose
// quarantine keeps freed blocks resident on purpose; there the live heap is counted.
std::size_t memoryInUse();
bool runningAsRoot();
// Bytes the process has read so far, from files and devices alike.
std::uint64_t bytesReadSoFar();

// A tmpfs of two pages mounted on a directory for one test, unmounted with it. Mounting
// needs root; mounted() says whether it worked and why not.
class TinyDisk {
  public:
    explicit TinyDisk(const QString& directory);
    TinyDisk(const TinyDisk&) = delete;
    TinyDisk& operator=(const TinyDisk&) = delete;
    ~TinyDisk();

    [[nodiscard]] bool mounted() const { return mounted_; }
    [[nodiscard]] const std::string& whyNot() const { return whyNot_; }
    [[nodiscard]] std::string path(const char* name) const;
    // Writes a filler file until the disk refuses more; true once no byte is left.
    bool fill();
    void emptyFiller();
    // Mounted read-only from now on: nothing on it can be created, changed or removed.
    bool makeReadOnly();
    bool makeWritable();

  private:
    std::string directory_;
    bool mounted_ = false;
    std::string whyNot_;
};

// ---- The Connect loop on real parts -------------------------------------------------------

using test::RecordingDisplay;

// The pipeline on a device, the real serial control, poll, exchange file, paced yield and
// loop, with a recording display and, if given, a feed. Before each pass's yield the test may act
// (send, break a file) or end the run. Every poll is checked: the file is well-formed, and a poll
// leaves it as it was, as the lines of the ten bytes it read, or empty after an empty read.
class LoopRig {
  public:
    struct Poll {
        int pass = 0;
        std::optional<QByteArray> read;  // none if the poll never got to read
        PathState after;
    };

    LoopRig(const QString& device, std::string exchangePath, FrameFeed* feed = nullptr);

    // Runs Connect until `beforePass` returns false or `mostPasses` more passes have run.
    void run(int mostPasses, std::function<bool(int pass)> beforePass);

    // Whether some poll left exactly the lines of this frame in the file.
    [[nodiscard]] bool frameWasWritten(const QByteArray& frame) const;

    std::string path;
    bool strictExchange = true;  // off where the test itself changes the file between polls
    RecordingDisplay display;
    GlovePipeline pipeline;
    MSComm& comm = pipeline.comm();
    ConnectLoop& loop = pipeline.loop();
    QByteArray everything;  // all that the reads returned, in order
    qsizetype longestRead = 0;

    int passes = 0;
    std::vector<Poll> polls;
    std::vector<std::string> exchangeFaults;  // what the per-poll check found wrong

  private:
    void yield(PacedYield& paced);
    void observedPoll(FramePoll& poll);
    void checkPoll(const PathState& before, const Poll& poll);

    std::optional<QByteArray> readInPoll_;  // characters the poll under way has read
    int mostPasses_ = 0;
    std::function<bool(int)> beforePass_;
    PathState lastSeen_;
    bool seenOnce_ = false;
};

// A test of the loop on a pseudo-terminal glove, the exchange file in a fresh directory.
class OnALoop : public ::testing::Test {
  protected:
    test::Pty glove;
    test::TempDir dir;
    LoopRig rig{glove.path(), dir.path()};
};

// A test on a tmpfs of two pages; skipped where none can be mounted.
class OnATinyDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    }

    test::TempDir dir;
    TinyDisk disk{dir.dir() + "/disk"};
};

// Passes when the per-poll check found nothing wrong, else lists what it found.
::testing::AssertionResult noExchangeFaults(const LoopRig& rig);

// Test frames: a marker first and values that trip neither warning.
QByteArray plainFrame(int seed);

}  // namespace glove::fault
