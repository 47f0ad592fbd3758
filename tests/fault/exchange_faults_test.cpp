// Faults at the exchange file: something else in its place, content that is no frame, a
// huge file, the file or its directory deleted under the loop, a full or read-only disk.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "common/run_time_error.h"
#include "fault_rig.h"
#include "monitor/status_text.h"
#include "support/case_names.h"
#include "support/errors.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"
#include "window_rig.h"

namespace glove::fault {
namespace {

using namespace std::chrono_literals;
using Step = ConnectLoop::Step;
using test::Pty;
using test::TempDir;

constexpr uid_t kNobody = 65534;

// The read-back as the loop does it: ten numbers from file number 2.
std::optional<ErrorNumber> readBackError(const std::string& path) {
    PosixFiles files;
    try {
        files.openForInput(exchange::kReaderFileNumber, path);
        for (int i = 0; i < kFrameLength; ++i) {
            files.readNumber(exchange::kReaderFileNumber);
        }
    } catch (const RunTimeError& e) {
        return e.number();
    }
    return std::nullopt;
}

// A file of `size` bytes that starts with `head` and holds nothing after it: a hole, so a
// gigabyte costs no disk.
void makeSparseFile(const std::string& path, const QByteArray& head, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, head.constData(), static_cast<std::size_t>(head.size())), head.size());
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// ---- Something else where the file belongs ------------------------------------------------

struct Obstacle {
    const char* name;
    bool needsRoot;
    // Puts it at the path; `dir` is the exchange file's directory, for whatever it points to.
    std::function<void(const std::string& path, const std::string& dir)> place;
};

const QByteArray kSomeoneElses = "someone else's data\r\n";

class InThePlaceOfTheFile : public OnALoop, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(InThePlaceOfTheFile, IsLeftAloneTheLastReadingStaysAndTheFileComesBackAfter) {
    if (GetParam().needsRoot && !runningAsRoot()) GTEST_SKIP() << "needs root to give away a file";
    const std::string folder = QFile::encodeName(dir.dir()).toStdString();
    rig.strictExchange = false;  // the test itself puts things at the path

    constexpr int kPlacedAt = 2;
    constexpr int kClearedAt = 6;
    std::vector<std::pair<std::string, PathState>> untouchable;
    auto snapshot = [&] {
        for (const char* name :
             {"InputFile", "InputFile/kept", "target", "target/kept", "second"}) {
            const std::string p = folder + '/' + name;
            untouchable.emplace_back(p, PathState::of(p));
        }
    };
    std::vector<std::string> touched;
    const QByteArray fresh = plainFrame(90);
    test::MessageLog log;
    rig.run(kClearedAt + 6, [&](int pass) {
        for (const auto& [p, state] : untouchable) {
            if (PathState::of(p) != state)
                touched.push_back(p + " in pass " + std::to_string(pass));
        }
        if (pass == kPlacedAt) {
            QFile::remove(QString::fromStdString(rig.path));
            GetParam().place(rig.path, folder);
            snapshot();
        }
        if (pass == kClearedAt) {
            untouchable.clear();
            if (PathState::of(rig.path).kind == PathState::Kind::Directory) {
                QDir(QString::fromStdString(rig.path)).removeRecursively();
            } else {
                ::unlink(rig.path.c_str());
            }
        }
        glove.send(pass < kClearedAt ? plainFrame(pass) : fresh);
        return pass <= kClearedAt || rig.display.readingShownBy(pass - 1) != valuesTextFor(fresh);
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    EXPECT_TRUE(touched.empty()) << "changed: " << touched.front();
    for (int pass = kPlacedAt; pass < kClearedAt; ++pass) {
        EXPECT_EQ(rig.display.readingShownBy(pass), valuesTextFor(plainFrame(kPlacedAt - 1)))
            << "pass " << pass << " must keep showing the last reading";
        EXPECT_EQ(rig.display.barsAtPassEnd.at(static_cast<std::size_t>(pass)),
                  rig.display.barsAtPassEnd.at(kPlacedAt - 1))
            << "pass " << pass;
    }
    EXPECT_EQ(rig.display.readingShownBy(rig.passes), valuesTextFor(fresh));
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(fresh)) << "written again once it can be";
    EXPECT_EQ(log.count("cannot write the exchange file: "), 1) << log.text().toStdString();
    EXPECT_EQ(log.count(QString::fromStdString(rig.path)), 1) << "said once, with the path";
}

INSTANTIATE_TEST_SUITE_P(
    Things, InThePlaceOfTheFile,
    ::testing::Values(Obstacle{"Directory", false,
                               [](const std::string& path, const std::string&) {
                                   ::mkdir(path.c_str(), 0755);
                                   test::writeAll(path + "/kept", kSomeoneElses);
                               }},
                      Obstacle{"LinkToAFile", false,
                               [](const std::string& path, const std::string& dir) {
                                   test::writeAll(dir + "/target", kSomeoneElses);
                                   ::symlink((dir + "/target").c_str(), path.c_str());
                               }},
                      Obstacle{"LinkToNowhere", false,
                               [](const std::string& path, const std::string& dir) {
                                   ::symlink((dir + "/target").c_str(), path.c_str());
                               }},
                      Obstacle{"LinkToADirectory", false,
                               [](const std::string& path, const std::string& dir) {
                                   ::mkdir((dir + "/target").c_str(), 0755);
                                   ::symlink((dir + "/target").c_str(), path.c_str());
                               }},
                      Obstacle{"Fifo", false,
                               [](const std::string& path, const std::string&) {
                                   ::mkfifo(path.c_str(), 0644);
                               }},
                      Obstacle{"FileWithASecondLink", false,
                               [](const std::string& path, const std::string& dir) {
                                   test::writeAll(path, kSomeoneElses);
                                   ::link(path.c_str(), (dir + "/second").c_str());
                               }},
                      Obstacle{"FileOfAnotherUser", true,
                               [](const std::string& path, const std::string&) {
                                   test::writeAll(path, kSomeoneElses);
                                   ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
                               }},
                      Obstacle{"ReadOnlyFileOfAnotherUser", true,
                               [](const std::string& path, const std::string&) {
                                   test::writeAll(path, kSomeoneElses);
                                   ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
                                   ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
                               }}),
    test::CaseName());

using Fifo = OnALoop;

TEST_F(Fifo, WithAReaderWaitingGetsNothingAndNothingBlocks) {
    rig.strictExchange = false;
    ASSERT_EQ(::mkfifo(rig.path.c_str(), 0644), 0);
    const int reader = ::open(rig.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    // Nobody ever writes to the fifo, so a wait on it would last for ever: the loop finishing
    // its passes proves it never waits. Should it wait, a watchdog opens the writing end,
    // which lets the loop go on, and the test fails instead of hanging.
    std::promise<void> passesDone;
    std::atomic<bool> waitedOnTheFifo = false;
    std::thread watchdog([&, done = passesDone.get_future()] {
        if (done.wait_for(60s) == std::future_status::ready) return;
        waitedOnTheFifo = true;
        const int writer = ::open(rig.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        done.wait();
        if (writer >= 0) ::close(writer);
    });
    rig.run(5, [&](int pass) {
        glove.send(plainFrame(pass));
        return true;
    });
    passesDone.set_value();
    watchdog.join();
    EXPECT_FALSE(waitedOnTheFifo) << "the loop waited on the fifo";
    std::array<char, 64> got{};
    EXPECT_LE(::read(reader, got.data(), got.size()), 0) << "a line went into the fifo";
    ::close(reader);
    EXPECT_EQ(rig.passes, 6);
    EXPECT_EQ(PathState::of(rig.path).kind, PathState::Kind::Fifo);
}

// ---- Content that is no frame -------------------------------------------------------------

struct Content {
    const char* name;
    QByteArray text;
    ErrorNumber error;
};

class ContentThatIsNoFrame : public OnALoop, public ::testing::WithParamInterface<Content> {};

TEST_P(ContentThatIsNoFrame, IsANumberedErrorAndTheLastReadingStays) {
    rig.strictExchange = false;
    test::writeAll(dir.path("sample"), GetParam().text);
    EXPECT_EQ(readBackError(dir.path("sample")), GetParam().error);

    // The content lands between the poll that wrote the file and the read-back.
    constexpr int kSpoiledPass = 2;
    bool spoiled = false;
    rig.loop.setStepProbe([&](Step step) {
        if (step == Step::OpenExchangeFile && rig.passes == kSpoiledPass && !spoiled) {
            test::writeAll(rig.path, GetParam().text);
            spoiled = true;
        }
    });
    rig.run(5, [&](int pass) {
        glove.send(plainFrame(pass));
        return true;
    });

    ASSERT_TRUE(spoiled);
    EXPECT_TRUE(noExchangeFaults(rig));
    EXPECT_EQ(rig.display.readingShownBy(kSpoiledPass),
              valuesTextFor(plainFrame(kSpoiledPass - 1)));
    EXPECT_EQ(rig.display.barsAtPassEnd.at(kSpoiledPass), rig.display.barsAtPassEnd.at(1));
    EXPECT_EQ(rig.display.oddTexts, 0) << rig.display.firstOddText.toStdString();
    EXPECT_EQ(rig.display.readingShownBy(5), valuesTextFor(plainFrame(5)));
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(plainFrame(5)));
}

QByteArray digits(int count) {
    return QByteArray(count, '7');
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ContentThatIsNoFrame,
    ::testing::Values(
        Content{"Words", "no frame here\r\n", ErrorNumber::TypeMismatch},
        Content{"LetterInTheLine", "128,1,2,3,x,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"EmptyItem", "128,,2,3,4,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"SpaceInsideANumber", "12 8,1,2,3,4,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"Semicolons", "128;1;2;3;4;5;6;7;8;9\r\n", ErrorNumber::TypeMismatch},
        Content{"Hexadecimal", "0x80,1,2,3,4,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"NotANumber", "nan,inf,2,3,4,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"NulBytes", QByteArray(64, '\0'), ErrorNumber::TypeMismatch},
        Content{"OverlongNumber", digits(41) + ",1,2,3,4,5,6,7,8,9\r\n", ErrorNumber::TypeMismatch},
        Content{"OverlongLine", digits(100'000), ErrorNumber::TypeMismatch},
        Content{"NumberTooLarge", "1e999,1,2,3,4,5,6,7,8,9\r\n", ErrorNumber::Overflow},
        Content{"ShortLine", "128,1,2\r\n", ErrorNumber::InputPastEndOfFile},
        Content{"Empty", "", ErrorNumber::InputPastEndOfFile}),
    test::CaseName());

// ---- A gigabyte -----------------------------------------------------------------------------

struct Huge {
    const char* name;
    QByteArray head;  // then a hole to one gigabyte
    bool isAFrame;    // whether its first ten items are a frame to show
};

class GigabyteFile : public OnALoop, public ::testing::WithParamInterface<Huge> {};

TEST_P(GigabyteFile, IsReadOnlyAsFarAsTenItemsAndRewrittenFast) {
    constexpr off_t kGigabyte = off_t{1} << 30;
    // Far less than the file, far more than the read-back's buffer and the rig's own looks.
    constexpr std::uint64_t kMostRead = 1 << 20;
    rig.strictExchange = false;

    // The file grows to a gigabyte between the poll and the read-back of one pass; the next
    // pass's poll truncates it.
    constexpr int kHugePass = 2;
    std::uint64_t readFrom = 0;
    std::optional<std::uint64_t> readBackRead;
    std::optional<std::uint64_t> rewriteRead;
    off_t sizeBeforeRewrite = 0;
    rig.loop.setStepProbe([&](Step step) {
        if (rig.passes == kHugePass && step == Step::OpenExchangeFile && !readBackRead) {
            makeSparseFile(rig.path, GetParam().head, kGigabyte);
            readFrom = bytesReadSoFar();
        } else if (rig.passes == kHugePass && step == Step::GestureTest && !readBackRead) {
            readBackRead = bytesReadSoFar() - readFrom;
        } else if (rig.passes == kHugePass + 1 && step == Step::Poll) {
            sizeBeforeRewrite = PathState::of(rig.path).size;
            readFrom = bytesReadSoFar();
        } else if (rig.passes == kHugePass + 1 && step == Step::OpenExchangeFile) {
            rewriteRead = bytesReadSoFar() - readFrom;
        }
    });
    rig.run(4, [&](int pass) {
        glove.send(plainFrame(pass));
        return true;
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    ASSERT_TRUE(readBackRead);
    EXPECT_LT(*readBackRead, kMostRead) << "the read-back must stop after ten items";
    EXPECT_EQ(rig.display.readingShownBy(kHugePass),
              GetParam().isAFrame ? QStringLiteral("128  1  9  180  200  7  6  5  4  3")
                                  : valuesTextFor(plainFrame(kHugePass - 1)));
    // A head that is no frame fails the read-back, and the trap's extra poll rewrites the
    // file at once; a frame is read and the file left for the next pass's poll.
    EXPECT_EQ(sizeBeforeRewrite == kGigabyte, GetParam().isAFrame) << sizeBeforeRewrite;
    ASSERT_TRUE(rewriteRead);
    EXPECT_LT(*rewriteRead, kMostRead) << "the poll must truncate it, not read it";
    EXPECT_EQ(rig.display.readingShownBy(4), valuesTextFor(plainFrame(4)));
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(plainFrame(4)));
}

INSTANTIATE_TEST_SUITE_P(Heads, GigabyteFile,
                         ::testing::Values(Huge{"AFrameThenNothing",
                                                "128,1,9,180,200,7,6,5,4,3\r\n", true},
                                           Huge{"NothingAtAll", "", false},
                                           Huge{"DigitsThenNothing", digits(4000), false}),
                         test::CaseName());

// ---- Deleted under the loop -----------------------------------------------------------------

struct Deletion {
    const char* name;
    bool betweenPollAndReadBack;  // else before the poll
    bool withItsDirectory;        // which comes back at the start of pass 4
    int writtenAgainIn;           // the first pass whose poll can write the file again
};

class DeletedUnderTheLoop : public ::testing::TestWithParam<Deletion> {};

TEST_P(DeletedUnderTheLoop, IsCreatedAgainByTheNextPollThatCanWrite) {
    Pty glove;
    TempDir dir;
    const QString folder = dir.dir() + "/exchange";
    ASSERT_TRUE(QDir().mkdir(folder));
    LoopRig rig(glove.path(), QFile::encodeName(folder + "/InputFile").toStdString());
    rig.strictExchange = false;
    const Deletion how = GetParam();

    constexpr int kDeletedPass = 2;
    constexpr int kDirectoryBack = 4;
    constexpr int kPasses = 8;
    auto remove = [&] {
        if (how.withItsDirectory) {
            QDir(folder).removeRecursively();
        } else {
            QFile::remove(QString::fromStdString(rig.path));
        }
    };
    rig.loop.setStepProbe([&](Step step) {
        if (how.betweenPollAndReadBack && step == Step::OpenExchangeFile &&
            rig.passes == kDeletedPass && PathState::of(rig.path).isFile()) {
            remove();
        }
    });
    std::vector<PathState> atPassStart{PathState{}};  // counted from pass 1
    rig.run(kPasses + 1, [&](int pass) {
        atPassStart.push_back(PathState::of(rig.path));
        if (pass > kPasses) return false;
        if (pass == kDeletedPass && !how.betweenPollAndReadBack) remove();
        if (pass == kDirectoryBack && how.withItsDirectory) QDir().mkdir(folder);
        glove.send(plainFrame(pass));
        return true;
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    for (int pass = kDeletedPass; pass < how.writtenAgainIn; ++pass) {
        EXPECT_EQ(rig.display.readingShownBy(pass), valuesTextFor(plainFrame(kDeletedPass - 1)))
            << "pass " << pass << " must keep showing the last reading";
    }
    EXPECT_EQ(rig.display.readingShownBy(how.writtenAgainIn),
              valuesTextFor(plainFrame(how.writtenAgainIn)));
    for (int pass = how.writtenAgainIn; pass <= kPasses; ++pass) {
        EXPECT_EQ(atPassStart.at(static_cast<std::size_t>(pass + 1)).content,
                  linesFor(plainFrame(pass)))
            << "after pass " << pass;
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, DeletedUnderTheLoop,
                         ::testing::Values(Deletion{"BeforeThePoll", false, false, 2},
                                           Deletion{"BetweenPollAndReadBack", true, false, 3},
                                           Deletion{"WithItsDirectory", false, true, 4},
                                           Deletion{"WithItsDirectoryAfterThePoll", true, true, 4}),
                         test::CaseName());

// ---- Readers at any moment -----------------------------------------------------------------

// Another program that opens the path while it is rewritten again and again, with contents
// of different lengths, finds a whole content every time: never an empty, partial or
// missing file.
TEST(ReadersAtAnyMoment, FindAWholeContentEveryTime) {
    TempDir dir;
    const std::string path = dir.path();
    const std::array<std::vector<std::string>, 2> contents{
        std::vector<std::string>{"128,1,2,3,4,5,6,7,8,9"},
        std::vector<std::string>{"128,200,190,180,170,160,150,140,130,120",
                                 "128,128,0,0,0,0,0,0,0,0"}};
    std::array<std::string, 2> texts;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        for (const std::string& line : contents[i]) texts[i] += line + "\r\n";
    }
    PosixFiles files;
    const auto rewrite = [&](std::size_t which) {
        files.openForOutput(exchange::kWriterFileNumber, path);
        for (const std::string& line : contents[which]) {
            files.writeLine(exchange::kWriterFileNumber, line);
        }
        files.close(exchange::kWriterFileNumber);
    };
    rewrite(0);

    std::atomic<bool> writing{true};
    int reads = 0;
    std::vector<std::string> wrong;
    std::thread reader([&] {
        while (writing) {
            std::array<char, 256> got{};
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            const ssize_t n = fd >= 0 ? ::read(fd, got.data(), got.size()) : -1;
            if (fd >= 0) ::close(fd);
            ++reads;
            const std::string text = n >= 0 ? std::string(got.data(), static_cast<std::size_t>(n))
                                            : std::string("(missing)");
            if (text != texts[0] && text != texts[1] && wrong.size() < 5) wrong.push_back(text);
        }
    });
    constexpr int kRewrites = 5000;
    for (int i = 1; i <= kRewrites; ++i) rewrite(static_cast<std::size_t>(i % 2));
    writing = false;
    reader.join();
    EXPECT_TRUE(wrong.empty()) << "read \"" << wrong.front() << "\"";
    EXPECT_GT(reads, 100) << "the reader hardly ran";
    EXPECT_EQ(PathState::of(path).content, QByteArray::fromStdString(texts[kRewrites % 2]));
}

// ---- A full disk ----------------------------------------------------------------------------

class FullDisk : public OnATinyDisk {
  protected:
    FullDisk() { rig.strictExchange = false; }

    Pty glove;
    LoopRig rig{glove.path(), disk.path("InputFile")};
};

TEST_F(FullDisk, KeepsTheLoopRunningWritesNowhereElseAndRecoversWhenThereIsRoom) {
    constexpr int kFullFrom = 2;
    constexpr int kRoomAgainAt = 6;
    int descriptorsBefore = 0;
    std::vector<PathState> duringFull;
    rig.run(kRoomAgainAt + 6, [&](int pass) {
        if (pass == kFullFrom) {
            descriptorsBefore = openDescriptorCount();
            ::unlink(rig.path.c_str());
            EXPECT_TRUE(disk.fill());
        }
        if (pass > kFullFrom && pass <= kRoomAgainAt) duringFull.push_back(PathState::of(rig.path));
        if (pass == kRoomAgainAt) disk.emptyFiller();
        glove.send(plainFrame(pass));
        return pass <= kRoomAgainAt ||
               rig.display.readingShownBy(pass - 1) != valuesTextFor(plainFrame(pass - 1));
    });

    EXPECT_TRUE(noExchangeFaults(rig));
    for (const PathState& state : duringFull) {
        EXPECT_TRUE(state.kind == PathState::Kind::Absent || state.content.isEmpty())
            << state.describe();
    }
    for (int pass = kFullFrom; pass < kRoomAgainAt; ++pass) {
        EXPECT_EQ(rig.display.readingShownBy(pass), valuesTextFor(plainFrame(kFullFrom - 1)))
            << "pass " << pass;
    }
    EXPECT_LE(rig.passes, kRoomAgainAt + 4) << "the frames must be written again soon";
    EXPECT_EQ(PathState::of(rig.path).content, linesFor(plainFrame(rig.passes - 1)));
    EXPECT_EQ(QDir(QString::fromStdString(disk.path("")))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{"InputFile"})
        << "nothing but the exchange file";
    EXPECT_EQ(QDir(dir.dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"disk"});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a handle was left open";
}

// A failed write must not leave its handle open: the read-back would fail on it, and the
// extra poll that follows, reading nothing, would empty the file.
TEST_F(FullDisk, TheLoopKeepsTheLastLinesWholeWhileTheDiskIsFull) {
    constexpr int kFullFrom = 2;
    std::vector<PathState> duringFull;
    rig.run(kFullFrom + 6, [&](int pass) {
        if (pass == kFullFrom) {
            EXPECT_TRUE(disk.fill());
        }
        if (pass > kFullFrom) duringFull.push_back(PathState::of(rig.path));
        glove.send(plainFrame(pass));
        return true;
    });
    ASSERT_FALSE(duringFull.empty());
    for (const PathState& state : duringFull) {
        EXPECT_EQ(state.content, linesFor(plainFrame(kFullFrom - 1))) << state.describe();
    }
    disk.emptyFiller();
}

TEST_F(FullDisk, AFailedRewriteKeepsTheWholeLastContentAndLeavesNothing) {
    const std::string path = disk.path("InputFile");
    test::writeAll(path, linesFor(plainFrame(1)));
    ASSERT_TRUE(disk.fill());
    PosixFiles files;
    files.openForOutput(exchange::kWriterFileNumber, path);
    EXPECT_EQ(test::errorOf(
                  [&] { files.writeLine(exchange::kWriterFileNumber, std::string(5000, '1')); }),
              ErrorNumber::DiskFull);
    files.closeAll();
    EXPECT_EQ(PathState::of(path).content, linesFor(plainFrame(1)));
    disk.emptyFiller();
    EXPECT_EQ(
        QDir(dir.dir() + "/disk").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"InputFile"});
}

// A rewrite refused where nothing can be removed, by a read-only disk before it starts or by
// an immutable directory while its content is written, leaves no hidden file once the
// obstacle is gone.
bool setImmutable(const std::string& directory, bool on) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return done;
}

class StuckDisk : public OnATinyDisk,
                  public ::testing::WithParamInterface<bool> {};  // read-only, else immutable

TEST_P(StuckDisk, ARefusedRewriteLeavesNoHiddenFileBehind) {
    const std::string path = disk.path("InputFile");
    const bool readOnly = GetParam();
    PosixFiles files;
    constexpr int kWriter = exchange::kWriterFileNumber;
    files.openForOutput(kWriter, path);
    files.close(kWriter);
    // A disk with a file open for writing cannot be made read-only.
    if (!readOnly) files.openForOutput(kWriter, path);
    if (!(readOnly ? disk.makeReadOnly() : setImmutable(disk.path(""), true))) {
        files.closeAll();
        GTEST_SKIP() << "the disk cannot be blocked here";
    }
    EXPECT_EQ(test::errorOf([&] {
                  if (readOnly) files.openForOutput(kWriter, path);
                  files.close(kWriter);
              }),
              ErrorNumber::PermissionDenied);
    ASSERT_TRUE(readOnly ? disk.makeWritable() : setImmutable(disk.path(""), false));
    files.remove(path);
    EXPECT_EQ(
        QDir(dir.dir() + "/disk").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{});
}

INSTANTIATE_TEST_SUITE_P(Obstacles, StuckDisk, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "ReadOnly" : "ImmutableDirectory");
});

}  // namespace
}  // namespace glove::fault
