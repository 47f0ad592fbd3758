// The recording under hostile lines and a full disk: every frame the poll reads whole is one
// valid row, and a disk that fills up ends the recording, never the monitor.

#include <random>

#include "fault_rig.h"
#include "record/recorder.h"
#include "record/recording_format.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove::fault {
namespace {

using record::Recorder;
using record::RecordingFile;
using test::Pty;
using test::TempDir;

// What the recording must hold for these polls: for every read of ten bytes with a marker,
// the frame rotated to its first marker.
std::vector<Frame> framesRead(const LoopRig& rig) {
    std::vector<Frame> frames;
    for (const LoopRig::Poll& poll : rig.polls) {
        if (!poll.read || poll.read->size() != kFrameLength) continue;
        Frame values{};
        for (int i = 0; i < kFrameLength; ++i) {
            values[i] = static_cast<unsigned char>(poll.read->at(i));
        }
        const std::vector<Frame> lines = alignedLines(values);
        if (!lines.empty()) frames.push_back(lines.front());
    }
    return frames;
}

TEST(Recording, NoiseAndMarkerFloodsGiveOneValidRowPerWholeRead) {
    constexpr int kBursts = 300;
    Pty glove;
    TempDir dir;
    Recorder recorder(RecordingFile::create(dir.path("r.csv"), 0), Recorder::Clock::now());
    LoopRig rig(glove.path(), dir.path(), &recorder);

    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(1, 40);
    rig.run(kBursts * 4, [&](int pass) {
        if (pass >= kBursts) return false;
        QByteArray burst(length(random), Qt::Uninitialized);
        // Every third burst is markers only: ten lines for each read, one row.
        for (char& c : burst) c = static_cast<char>(pass % 3 == 0 ? 128 : byte(random));
        glove.send(burst);
        return true;
    });
    recorder.flush();

    const record::Recording recording = record::readRecording(dir.path("r.csv"));
    EXPECT_FALSE(recording.cutLine);
    const std::vector<Frame> expected = framesRead(rig);
    ASSERT_GT(expected.size(), 100U);
    ASSERT_EQ(recording.rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(recording.rows[i].values, expected[i]) << "row " << i;
        if (i > 0) {
            EXPECT_GE(recording.rows[i].elapsedMicros, recording.rows[i - 1].elapsedMicros);
        }
    }
}

TEST(Recording, AFullDiskEndsItOnceAndTheMonitorGoesOn) {
    TempDir dir;
    TinyDisk disk(dir.dir() + "/disk");
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot();
    Pty glove;
    const test::MessageLog log;
    Recorder recorder(RecordingFile::create(disk.path("r.csv"), 0), Recorder::Clock::now());
    LoopRig rig(glove.path(), dir.path(), &recorder);

    // A page holds about fifty rows; the recording runs out long before the glove stops.
    constexpr int kFrames = 200;
    rig.run(kFrames * 4, [&](int pass) {
        if (pass % 10 == 0) recorder.flush();
        if (pass < kFrames) glove.send(plainFrame(pass));
        return pass < kFrames ||
               rig.display.readingShownBy(pass - 1) != valuesTextFor(plainFrame(kFrames - 1));
    });
    recorder.flush();

    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(log.count("recording to"), 1) << log.text().toStdString();
    EXPECT_TRUE(rig.frameWasWritten(plainFrame(kFrames - 1))) << "the monitor stopped too";
    EXPECT_TRUE(noExchangeFaults(rig));
    const record::Recording recording = record::readRecording(disk.path("r.csv"));
    EXPECT_FALSE(recording.cutLine) << "a cut row was left on the full disk";
    EXPECT_GT(recording.rows.size(), 10U);
    EXPECT_LT(recording.rows.size(), static_cast<std::size_t>(kFrames));
}

}  // namespace
}  // namespace glove::fault
