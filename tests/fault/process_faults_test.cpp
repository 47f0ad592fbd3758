// Faults of the process around the window: Connect pressed over and over, Exit and a close
// in every state, files left open or impossible to delete, a file full of absurd numbers.

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <limits>

#include "acquisition/mscomm.h"
#include "exchange/posix_files.h"
#include "fault_rig.h"
#include "monitor/status_text.h"
#include "support/case_names.h"
#include "support/pty.h"
#include "support/temp_files.h"
#include "window/exit_command.h"
#include "window/hand_figure.h"
#include "window_rig.h"

namespace glove::fault {
namespace {

using namespace std::chrono_literals;
using test::Pty;
using test::TempDir;

bool exists(const std::string& path) {
    return PathState::of(path).kind != PathState::Kind::Absent;
}

// ---- Connect pressed ten thousand times ---------------------------------------------------

TEST(Presses, TenThousandConnectsNeitherDeepenTheStackNorStopTheFrames) {
    constexpr int kPresses = 10'000;
    constexpr int kPressesAtATime = 10;  // as fast as a hand on the mouse, or faster
    constexpr std::uintptr_t kMostStackSpread = 64 * 1024;
    Pty glove;
    TempDir dir;
    WindowRig rig(glove.path(), dir.path());
    FrameStream stream([&](const QByteArray& frame) { glove.send(frame); });
    stream.start();

    int presses = 0;
    int lastBeforePresses = 0;
    std::uintptr_t lowest = std::numeric_limits<std::uintptr_t>::max();
    std::uintptr_t highest = 0;
    const bool done = rig.connectAndRun(
        {[&] { return rig.shown.contains(FrameStream::textOf(1)); },
         [&] {
             // Every press comes from the window's event loop, inside the loop's yield.
             if (presses == 0) stream.stop();  // nothing is read while the loop restarts
             int here = 0;
             const auto at = reinterpret_cast<std::uintptr_t>(&here);
             lowest = std::min(lowest, at);
             highest = std::max(highest, at);
             for (int i = 0; i < kPressesAtATime; ++i) {
                 QTest::mouseClick(rig.window.Command1(), Qt::LeftButton);
             }
             presses += kPressesAtATime;
             if (presses < kPresses) return false;
             lastBeforePresses = stream.sent();
             stream.start();
             return true;
         },
         [&] {
             return std::any_of(rig.shown.begin(), rig.shown.end(), [&](const QString& text) {
                 for (int n = lastBeforePresses + 1; n <= stream.sent(); ++n) {
                     if (text == FrameStream::textOf(n)) return true;
                 }
                 return false;
             });
         },
         [&] {
             QTest::mouseClick(rig.window.Exit(), Qt::LeftButton);
             return true;
         }},
        120s);

    EXPECT_TRUE(done) << "presses: " << presses
                      << ", last text: " << rig.shown.value(rig.shown.size() - 1).toStdString();
    EXPECT_EQ(presses, kPresses);
    EXPECT_LT(highest - lowest, kMostStackSpread) << "a press nested a loop inside the loop";
    EXPECT_EQ(rig.ended, 1);
    EXPECT_FALSE(rig.window.connectLoop().running());
}

// ---- Exit and a close in every state ------------------------------------------------------

enum class State {
    Idle,
    Streaming,
    Silent,
    NoDevice,
    FailedWriteOnAFullDisk,  // a poll could not write the file
    ExchangeIsADirectory,    // cannot be deleted
    OnAReadOnlyDisk,         // cannot be deleted
};

enum class Action { Exit, Close };

bool cannotBeDeleted(State state) {
    return state == State::ExchangeIsADirectory || state == State::OnAReadOnlyDisk;
}

struct Ending {
    const char* name;
    State state;
    Action action;

    // At once, unless Exit meets an exchange file it cannot delete: then the program goes
    // on, and a close ends it.
    [[nodiscard]] bool ends() const { return action == Action::Close || !cannotBeDeleted(state); }
};

class EndIn : public ::testing::TestWithParam<Ending> {};

TEST_P(EndIn, EveryStateEndsCleanlyOrGoesOnWorking) {
    const Ending how = GetParam();
    TempDir dir;
    std::optional<TinyDisk> disk;
    std::string path = dir.path();
    if (how.state == State::FailedWriteOnAFullDisk || how.state == State::OnAReadOnlyDisk) {
        disk.emplace(dir.dir() + "/disk");
        if (!disk->mounted()) GTEST_SKIP() << disk->whyNot();
        path = disk->path("InputFile");
    }
    if (how.state == State::ExchangeIsADirectory) {
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    }
    Pty glove;
    const QString device = how.state == State::NoDevice ? dir.dir() + "/unplugged" : glove.path();
    WindowRig rig(device, path);
    FrameStream stream([&](const QByteArray& frame) { glove.send(frame); });
    auto act = [&] {
        if (how.action == Action::Exit) {
            QTest::mouseClick(rig.window.Exit(), Qt::LeftButton);
        } else {
            rig.window.close();
        }
    };

    if (how.state == State::Idle || how.state == State::FailedWriteOnAFullDisk) {
        test::writeAll(path, "128,1,1,1,1,1,1,1,1,1\r\n");
        if (how.state == State::FailedWriteOnAFullDisk) {
            // Not connected: a poll raised by received characters meets a full disk.
            ::unlink(path.c_str());
            ASSERT_TRUE(disk->fill());
            MSComm& comm = rig.window.MSComm1();
            comm.setInputLen(kFrameLength);
            comm.setRThreshold(kFrameLength);
            comm.setPortOpen(true);  // the device stays open underneath, as after a Connect
            comm.setPortOpen(false);
            glove.send(FrameStream::frame(1));
            test::processEventsFor(100ms);
            ASSERT_EQ(rig.descriptorsOn(path), 0) << "a failed write leaves no handle open";
        }
        act();
    } else {
        stream.start();
        int sentAtTheEnd = 0;
        std::vector<std::function<bool()>> stages{
            [&] {
                switch (how.state) {
                    case State::Silent:
                    case State::NoDevice:
                        stream.stop();
                        return rig.shown.contains(status::kNoDevice);
                    case State::ExchangeIsADirectory:
                        // Nothing can be written or read back; passes have run.
                        return stream.sent() >= 5 && rig.shown.size() >= 2;
                    default:
                        return PathState::of(path).content == linesFor(rig.window.DataF()) &&
                               rig.shown.contains(valuesTextFor(rig.window.DataF()));
                }
            },
            [&] { return how.state != State::OnAReadOnlyDisk || disk->makeReadOnly(); },
            [&] {
                sentAtTheEnd = stream.sent();
                act();
                return true;
            }};
        if (!how.ends()) {
            // The program goes on: once the file can be deleted, it shows and writes the
            // glove's frames again, and a close ends it.
            stages.emplace_back([&] {
                return how.state == State::OnAReadOnlyDisk ? disk->makeWritable()
                                                           : ::rmdir(path.c_str()) == 0;
            });
            stages.emplace_back([&] {
                const QByteArray written = PathState::of(path).content;
                for (int n = sentAtTheEnd + 1; n <= stream.sent(); ++n) {
                    if (written == linesFor(FrameStream::frame(n)) &&
                        rig.shown.contains(FrameStream::textOf(n))) {
                        return true;
                    }
                }
                return false;
            });
            stages.emplace_back([&] {
                rig.window.close();
                return true;
            });
        }
        EXPECT_TRUE(rig.connectAndRun(stages, 20s));
    }

    EXPECT_EQ(rig.ended, 1);
    EXPECT_FALSE(rig.window.connectLoop().running());
    const qsizetype shownAtTheEnd = rig.shown.size();
    test::processEventsFor(60ms);
    EXPECT_EQ(rig.shown.size(), shownAtTheEnd) << "a pass ran after the end";
    EXPECT_EQ(rig.descriptorsOn(path), 0) << "a file was left open";
    if (cannotBeDeleted(how.state) && how.ends()) {
        // Closed while nothing could delete it: the window goes all the same.
        EXPECT_TRUE(exists(path));
        if (PathState::of(path).isFile()) {
            EXPECT_TRUE(isWellFormedExchange(PathState::of(path).content));
        }
    } else {
        EXPECT_FALSE(exists(path)) << "the exchange file outlived the program";
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, EndIn,
    ::testing::Values(
        Ending{"IdleExit", State::Idle, Action::Exit},
        Ending{"IdleClose", State::Idle, Action::Close},
        Ending{"StreamingExit", State::Streaming, Action::Exit},
        Ending{"StreamingClose", State::Streaming, Action::Close},
        Ending{"SilentExit", State::Silent, Action::Exit},
        Ending{"NoDeviceExit", State::NoDevice, Action::Exit},
        Ending{"FailedWriteOnAFullDiskExit", State::FailedWriteOnAFullDisk, Action::Exit},
        Ending{"FailedWriteOnAFullDiskClose", State::FailedWriteOnAFullDisk, Action::Close},
        Ending{"UndeletableDirectoryExit", State::ExchangeIsADirectory, Action::Exit},
        Ending{"UndeletableDirectoryClose", State::ExchangeIsADirectory, Action::Close},
        Ending{"ReadOnlyDiskExit", State::OnAReadOnlyDisk, Action::Exit},
        Ending{"ReadOnlyDiskClose", State::OnAReadOnlyDisk, Action::Close}),
    test::CaseName());

// The parts behind Exit, on their own: a poll that could not finish writing leaves no
// handle open and nothing on the disk, and Exit still ends the program.
using ExitAfterAFailedWrite = OnATinyDisk;

TEST_F(ExitAfterAFailedWrite, FindsNoHandleLeftOpenAndNothingLeftBehind) {
    ASSERT_TRUE(disk.fill());
    Pty glove;
    MSComm comm(glove.path());
    comm.setInputLen(kFrameLength);
    PosixFiles files;
    QByteArray dataF;
    FramePoll poll(comm, files, dataF, disk.path("InputFile"));
    ASSERT_TRUE(comm.receive());  // listening before the glove sends
    glove.send(plainFrame(1));
    test::processEventsFor(30ms);
    poll.run();
    ASSERT_EQ(dataF, plainFrame(1));
    EXPECT_FALSE(files.isOpen(exchange::kWriterFileNumber));
    disk.emptyFiller();
    EXPECT_EQ(QDir(QString::fromStdString(disk.path("")))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{})
        << "the failed content is discarded";

    EXPECT_TRUE(ExitCommand(files, disk.path("InputFile")).run());
    EXPECT_FALSE(exists(disk.path("InputFile")));
}

// ---- Absurd numbers in a file the program may read but never rewrite ----------------------

TEST(AbsurdNumbers, AreShownAndTheHandStillPaints) {
    Pty glove;
    TempDir dir;
    // Two links: the poll must leave the file alone, the read-back takes it as it is.
    test::writeAll(dir.path(), "128,1,1e300,999999,-1e300,3.4e38,-1e-300,0.5,-7,1e308\r\n");
    ASSERT_EQ(::link(dir.path().c_str(), dir.path("second").c_str()), 0);
    WindowRig rig(glove.path(), dir.path());
    FrameStream stream([&](const QByteArray& frame) { glove.send(frame); });
    stream.start();
    const QString absurd = "128  1  1e+300  999999  -1e+300  3.4e+38  -1e-300  0.5  -7  1e+308";
    QImage painted;
    EXPECT_TRUE(rig.connectAndRun({[&] { return rig.shown.contains(absurd); },
                                   [&] { return rig.window.DataF().size() == 10; },
                                   [&] {
                                       painted = rig.window.Picture2()->grab().toImage();
                                       rig.window.close();
                                       return true;
                                   }},
                                  20s));
    ASSERT_FALSE(painted.isNull()) << rig.shown.join(" / ").toStdString();
    // The palm does not move; between fingers 1 and 2 and above the thumb it shows as skin.
    const QPoint palm = rig.window.Picture2()->contentsRect().topLeft() + QPoint(1867, 1200) / 15;
    EXPECT_EQ(painted.pixelColor(palm), HandFigure::kSkin);
    EXPECT_EQ(rig.ended, 1);
    EXPECT_TRUE(PathState::of(dir.path("second")).content.startsWith("128,1,1e300"))
        << "the other link's content is untouched";
}

}  // namespace
}  // namespace glove::fault
