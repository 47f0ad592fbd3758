// Faults on the serial line: noise, frames without markers, markers only, long bursts,
// silence mid-frame, unplugging and replugging, devices that are not there.

#include <QDir>
#include <QFile>
#include <random>

#include "fault_rig.h"
#include "monitor/status_text.h"
#include "support/case_names.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove::fault {
namespace {

using test::bytes;
using test::Pty;
using test::TempDir;

// Frames back to back, as a streaming glove sends them.
QByteArray framesFrom(int firstSeed, int count) {
    QByteArray stream;
    for (int seed = firstSeed; seed < firstSeed + count; ++seed) stream += plainFrame(seed);
    return stream;
}

using Noise = OnALoop;

TEST_F(Noise, AMillionRandomBytesAreAllReadInOrderAndNeverSpoilTheFile) {
    constexpr qsizetype kTotal = 1'000'000;
    // What waits never exceeds the receive buffer, so nothing may be dropped. Bursts are
    // usually sent before the last one is read, as a streaming line keeps the buffer full;
    // now and then the line is let run dry, which ends in a short read.
    constexpr int kLowWater = 500;
    constexpr int kLongestBurst = 3500;
    constexpr int kOneDryRunIn = 25;
    constexpr int kMostPasses = 400'000;

    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> burstLength(1, kLongestBurst);
    std::uniform_int_distribution<int> dice(1, kOneDryRunIn);
    QByteArray noise(kTotal, Qt::Uninitialized);
    for (char& c : noise) c = static_cast<char>(byte(random));

    const QByteArray last = plainFrame(7);
    qsizetype sent = 0;
    bool runDry = false;
    rig.run(kMostPasses, [&](int) {
        const qsizetype waiting = sent - rig.everything.size();
        if (waiting >= kLowWater || (runDry && waiting > 0)) return true;
        if (sent < kTotal) {
            const qsizetype length = std::min<qsizetype>(burstLength(random), kTotal - sent);
            glove.send(noise.mid(sent, length));
            sent += length;
            runDry = dice(random) == 1;
            return true;
        }
        if (waiting > 0) return true;
        if (sent == kTotal) {
            glove.send(last);
            sent += last.size();
            return true;
        }
        return rig.display.readingShownBy(rig.passes - 1) != valuesTextFor(last);
    });

    EXPECT_EQ(rig.everything.size(), kTotal + last.size()) << "passes: " << rig.passes;
    EXPECT_TRUE(rig.everything.left(kTotal) == noise) << "bytes lost or out of order";
    EXPECT_LE(rig.longestRead, 10);
    EXPECT_TRUE(noExchangeFaults(rig));
    const auto linesWritten = std::count_if(rig.polls.begin(), rig.polls.end(), [](const auto& p) {
        return p.after.isFile() && !p.after.content.isEmpty();
    });
    EXPECT_GT(linesWritten, 500) << "the noise's stray markers must have reached the file";
    EXPECT_EQ(rig.display.oddTexts, 0) << rig.display.firstOddText.toStdString();
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(last))
        << "the loop no longer shows a normal frame after the noise";
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(last));
}

TEST_F(Noise, FramesWithoutMarkersEmptyTheFileAndTheLastReadingStays) {
    const QByteArray first = plainFrame(1);
    const QByteArray unmarked = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const QByteArray again = plainFrame(2);
    rig.run(12, [&](int pass) {
        if (pass == 1) glove.send(first);
        if (pass >= 2 && pass <= 6) glove.send(unmarked);
        if (pass >= 8) glove.send(again);
        return true;
    });

    ASSERT_TRUE(noExchangeFaults(rig));
    for (const LoopRig::Poll& poll : rig.polls) {
        if (poll.read == unmarked) {
            EXPECT_TRUE(poll.after.isFile() && poll.after.content.isEmpty())
                << "pass " << poll.pass << ": " << poll.after.describe();
        }
    }
    for (int pass = 2; pass <= 6; ++pass) {
        EXPECT_EQ(rig.display.readingShownBy(pass), valuesTextFor(first)) << "pass " << pass;
        EXPECT_EQ(rig.display.barsAtPassEnd.at(static_cast<std::size_t>(pass)),
                  rig.display.barsAtPassEnd.at(1))
            << "the bars must stay where the last reading put them, pass " << pass;
    }
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(again));
}

TEST_F(Noise, AFrameRightAfterAFrameWithoutMarkerStillReachesTheFile) {
    const QByteArray unmarked = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    std::vector<QByteArray> marked;
    for (int seed = 1; seed <= 4; ++seed) marked.push_back(plainFrame(seed));
    // Both frames at once, as a streaming glove has them waiting when the pass begins.
    rig.run(12, [&](int pass) {
        if (pass <= 4) glove.send(unmarked + marked.at(static_cast<std::size_t>(pass - 1)));
        return true;
    });

    ASSERT_TRUE(noExchangeFaults(rig));
    ASSERT_EQ(rig.everything.size(), 4 * 20) << "every byte was read";
    // The extra poll after the failed read-back takes the frame while the read-back holds
    // the file; it is written all the same (the next pass's poll replaces it before a
    // read-back could show it).
    for (const QByteArray& frame : marked) {
        EXPECT_TRUE(rig.frameWasWritten(frame)) << linesFor(frame).toStdString();
    }
}

TEST_F(Noise, EveryByteAMarkerGivesTenLinesAndTheLoopGoesOn) {
    const QByteArray markers(10, static_cast<char>(128));
    const QByteArray after = plainFrame(3);
    rig.run(6, [&](int pass) {
        if (pass == 1) glove.send(markers);
        if (pass == 3) glove.send(after);
        return true;
    });

    ASSERT_TRUE(noExchangeFaults(rig));
    ASSERT_GE(rig.polls.size(), 1U);
    const QByteArray written = rig.polls.front().after.content;
    EXPECT_EQ(written.count("128,128,128,128,128,128,128,128,128,128\r\n"), 10) << written.data();
    EXPECT_EQ(written.size(), 10 * 41);
    // Value 2 is 128: the battery warning, shown for the markers, then the normal frame.
    EXPECT_EQ(rig.display.readingShownBy(1), status::kBattery);
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(after));
}

// A burst of back-to-back frames cut to a length: every whole frame is written and shown
// in order, the cut tail is read and dropped, and the next frame is aligned again.
class LongBurst : public OnALoop, public ::testing::WithParamInterface<int> {};

TEST_P(LongBurst, IsReadTenBytesAtATimeAndLosesNoWholeFrame) {
    const int length = GetParam();
    const QByteArray burst = framesFrom(1, (length + 9) / 10).left(length);
    const QByteArray after = plainFrame(999);
    bool afterSent = false;
    rig.run(length / 10 + 20, [&](int pass) {
        if (pass == 1) glove.send(burst);
        if (!afterSent && rig.everything.size() == burst.size()) {
            glove.send(after);
            afterSent = true;
        }
        return rig.display.readingShownBy(pass - 1) != valuesTextFor(after);
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    EXPECT_LE(rig.longestRead, 10);
    EXPECT_TRUE(rig.everything == burst + after) << "bytes lost or out of order";
    // Each whole frame in a pass of its own, in the order sent.
    auto shown = rig.display.texts.begin();
    for (int i = 0; i + 10 <= burst.size(); i += 10) {
        const QByteArray frame = burst.mid(i, 10);
        EXPECT_TRUE(rig.frameWasWritten(frame)) << "frame " << i / 10;
        shown = std::find_if(shown, rig.display.texts.end(),
                             [&](const auto& text) { return text.second == valuesTextFor(frame); });
        ASSERT_NE(shown, rig.display.texts.end())
            << "frame " << i / 10 << " was not shown in order";
        ++shown;
    }
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(after));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongBurst, ::testing::Values(11, 19, 20, 25, 99, 4096, 6000),
                         test::Numbered{"Bytes"});

// The glove stops after `kept` bytes of a frame and stays silent for a while.
class SilentMidFrame : public OnALoop, public ::testing::WithParamInterface<int> {};

TEST_P(SilentMidFrame, KeepsTheLastReadingThenSaysNoDeviceThenShowsTheNextFrame) {
    const int kept = GetParam();
    const QByteArray before = plainFrame(10);
    const QByteArray cut = plainFrame(11).left(kept);
    const QByteArray after = plainFrame(12);
    constexpr int kCut = 2;
    constexpr int kSilentUntil = 6;
    rig.run(kSilentUntil + 6, [&](int pass) {
        if (pass == 1) glove.send(before);
        if (pass == kCut) glove.send(cut);
        if (pass == kSilentUntil + 1) glove.send(after);
        return pass <= kSilentUntil + 1 ||
               rig.display.readingShownBy(pass - 1) != valuesTextFor(after);
    });

    ASSERT_TRUE(noExchangeFaults(rig));
    EXPECT_TRUE(rig.everything == before + cut + after) << "no byte is lost or kept";
    EXPECT_EQ(rig.display.readingShownBy(kCut), valuesTextFor(before));
    EXPECT_EQ(rig.polls.at(kCut - 1).after.content, linesFor(before))
        << "a part of a frame must not touch the file";
    EXPECT_EQ(rig.display.lastTextOfPass(kSilentUntil), status::kNoDevice);
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(after));
    EXPECT_TRUE(rig.frameWasWritten(after));
}

INSTANTIATE_TEST_SUITE_P(BytesKept, SilentMidFrame, ::testing::Range(1, 10),
                         test::Numbered{"Kept"});

// The receiver is pulled out mid-stream and a new one appears behind the same name.
struct Unplug {
    const char* name;
    int bytesOfTheCutFrame;  // sent just before the plug is pulled
    int passesUnplugged;
};

class UnplugAndReplug : public ::testing::TestWithParam<Unplug> {};

TEST_P(UnplugAndReplug, SaysNoDeviceWhileGoneAndShowsTheNewGlovesFrames) {
    const Unplug how = GetParam();
    TempDir dir;
    const QString link = dir.dir() + "/glove";
    test::MessageLog log;
    auto glove = std::make_unique<Pty>();
    ASSERT_TRUE(QFile::link(glove->path(), link));
    LoopRig rig(link, dir.path());

    constexpr int kPullAt = 4;
    const int replugAt = kPullAt + how.passesUnplugged;
    const QByteArray fresh = plainFrame(77);
    rig.run(replugAt + 15, [&](int pass) {
        if (pass < kPullAt) {
            glove->send(plainFrame(pass));
        } else if (pass == kPullAt) {
            glove->send(plainFrame(50).left(how.bytesOfTheCutFrame));
            glove.reset();
            QFile::remove(link);
        } else if (pass >= replugAt) {
            if (!glove) {
                glove = std::make_unique<Pty>();
                QFile::link(glove->path(), link);
            }
            glove->send(fresh);
        }
        return pass < replugAt + 3 || rig.display.readingShownBy(pass - 1) != valuesTextFor(fresh);
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    EXPECT_EQ(rig.display.readingShownBy(kPullAt - 1), valuesTextFor(plainFrame(kPullAt - 1)));
    if (how.passesUnplugged > 2) {
        EXPECT_EQ(rig.display.lastTextOfPass(replugAt - 1), status::kNoDevice) << "while unplugged";
    }
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(fresh))
        << "the new glove's frames are shown";
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(fresh));
    EXPECT_EQ(log.count("failed"), 1) << log.text().toStdString();
    EXPECT_EQ(rig.display.oddTexts, 0) << rig.display.firstOddText.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Moments, UnplugAndReplug,
                         ::testing::Values(Unplug{"AfterAWholeFrame", 0, 5},
                                           Unplug{"MidFrame", 5, 5},
                                           Unplug{"MidFrameAndBackAtOnce", 5, 1},
                                           Unplug{"ForLong", 3, 30}),
                         test::CaseName());

// A device path with no serial device behind it.
struct Absent {
    const char* name;
    std::function<void(const QString& path)> make;
};

class NoDevice : public ::testing::TestWithParam<Absent> {};

TEST_P(NoDevice, EveryPassSaysNoDeviceTheFileIsNotTouchedAndItIsReportedOnce) {
    TempDir dir;
    const QString device = dir.dir() + "/device";
    GetParam().make(device);
    test::MessageLog log;
    LoopRig rig(device, dir.path());
    rig.run(6, [](int) { return true; });

    EXPECT_TRUE(noExchangeFaults(rig));
    for (int pass = 1; pass <= 6; ++pass) {
        EXPECT_EQ(rig.display.lastTextOfPass(pass), status::kNoDevice) << "pass " << pass;
    }
    EXPECT_TRUE(rig.pipeline.dataF().isEmpty());
    EXPECT_TRUE(rig.everything.isEmpty());
    EXPECT_EQ(PathState::of(rig.path).kind, PathState::Kind::Absent)
        << "nothing was read, so nothing is written";
    EXPECT_EQ(log.count(QStringLiteral("device")), 1) << log.text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NoDevice,
    ::testing::Values(
        Absent{"Missing", [](const QString&) {}},
        Absent{"DanglingLink", [](const QString& path) { QFile::link(path + ".gone", path); }},
        Absent{"Directory", [](const QString& path) { QDir().mkdir(path); }},
        Absent{"PlainFile",
               [](const QString& path) {
                   test::writeAll(QFile::encodeName(path).toStdString(),
                                  bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
               }},
        Absent{"NullDevice", [](const QString& path) { QFile::link("/dev/null", path); }}),
    test::CaseName());

}  // namespace
}  // namespace glove::fault
