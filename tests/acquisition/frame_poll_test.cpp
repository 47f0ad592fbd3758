#include "acquisition/frame_poll.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "acquisition/frame_feed.h"
#include "acquisition/mscomm.h"
#include "exchange/posix_files.h"
#include "support/case_names.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::processEventsFor;
using test::readAll;
using test::writeAll;

// One poll against a pseudo-terminal glove and an exchange file in a temporary directory.
class Poll : public ::testing::Test {
  protected:
    Poll() {
        comm.setCommPort(2);
        comm.setSettings("4800,N,8,1");
        comm.setInputLen(10);
        // The device listens before the glove sends: what came before its open is dropped.
        EXPECT_TRUE(comm.receive());
    }

    void sendAndPoll(const QByteArray& frame) {
        glove.send(frame);
        processEventsFor(20ms);
        poll.run();
    }

    QByteArray exchange() const { return readAll(path); }

    test::Pty glove;
    test::TempDir dir;
    std::string path = dir.path();
    MSComm comm{glove.path()};
    PosixFiles files;
    QByteArray dataF;
    FramePoll poll{comm, files, dataF, path};
};

class Rotation : public Poll, public ::testing::WithParamInterface<int> {};

TEST_P(Rotation, PutsTheMarkerFirstAndKeepsTheCyclicOrder) {
    const int marker = GetParam();
    QByteArray frame;
    for (int i = 0; i < 10; ++i) frame.append(static_cast<char>(i == marker ? 128 : 10 + i));
    sendAndPoll(frame);

    std::string expected = "128";
    for (int i = 1; i < 10; ++i) expected += "," + std::to_string(10 + (marker + i) % 10);
    EXPECT_EQ(exchange().toStdString(), expected + "\r\n");
    EXPECT_EQ(dataF, frame);
}

INSTANTIATE_TEST_SUITE_P(MarkerAt, Rotation, ::testing::Range(0, 10), test::Numbered{"Byte"});

TEST_F(Poll, AlignsTheDocumentedFrame) {
    sendAndPoll(bytes({7, 0, 128, 40, 50, 60, 70, 80, 90, 100}));
    EXPECT_EQ(exchange(), "128,40,50,60,70,80,90,100,7,0\r\n");
    EXPECT_FALSE(comm.portOpen()) << "a read that returned characters closes the port";
}

TEST_F(Poll, EveryMarkerGivesItsOwnLineInPositionOrder) {
    sendAndPoll(bytes({1, 128, 3, 4, 5, 6, 128, 8, 9, 10}));
    EXPECT_EQ(exchange(),
              "128,3,4,5,6,128,8,9,10,1\r\n"
              "128,8,9,10,1,128,3,4,5,6\r\n");
}

TEST_F(Poll, FrameWithoutMarkerEmptiesTheFile) {
    writeAll(path, "128,1,1,1,1,1,1,1,1,1\r\n");
    sendAndPoll(bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
    EXPECT_EQ(exchange(), "");
    EXPECT_EQ(dataF.size(), 10);
}

TEST_F(Poll, EmptyReadEmptiesTheFileAndLeavesThePortOpenForTheNextPollToClose) {
    writeAll(path, "128,1,1,1,1,1,1,1,1,1\r\n");
    dataF = "old";
    poll.run();
    EXPECT_EQ(exchange(), "");
    EXPECT_TRUE(dataF.isEmpty());
    EXPECT_TRUE(comm.portOpen());

    // The next poll meets "port already open", closes it and reads from the closed port,
    // which fails and leaves the poll before the file is touched.
    writeAll(path, "marker");
    glove.send(bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    processEventsFor(20ms);
    poll.run();
    EXPECT_FALSE(comm.portOpen());
    EXPECT_TRUE(dataF.isEmpty());
    EXPECT_EQ(exchange(), "marker");

    // The frame waited in the receive buffer and the poll after that reads it.
    poll.run();
    EXPECT_EQ(exchange(), "128,1,2,3,4,5,6,7,8,9\r\n");
}

TEST_F(Poll, ShortReadLeavesTheFileAsTheLastPollWroteIt) {
    sendAndPoll(bytes({128, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(exchange(), "128,0,0,0,0,0,0,0,0,0\r\n");
    sendAndPoll(bytes({128, 5, 5, 5}));
    EXPECT_EQ(dataF, bytes({128, 5, 5, 5}));
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(exchange(), "128,0,0,0,0,0,0,0,0,0\r\n");
}

TEST_F(Poll, NeverReadsMoreThanTenCharacters) {
    glove.send(bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9, 128, 11, 12}));
    processEventsFor(20ms);
    poll.run();
    EXPECT_EQ(dataF.size(), 10);
    EXPECT_EQ(exchange(), "128,1,2,3,4,5,6,7,8,9\r\n");
    poll.run();
    EXPECT_EQ(dataF, bytes({128, 11, 12}));
}

TEST_F(Poll, FramesSentBetweenPollsSurviveTheClosedPort) {
    sendAndPoll(bytes({128, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    ASSERT_FALSE(comm.portOpen());
    glove.send(bytes({2, 2, 128, 2, 2, 2, 2, 2, 2, 2}));
    processEventsFor(20ms);
    poll.run();
    EXPECT_EQ(exchange(), "128,2,2,2,2,2,2,2,2,2\r\n");
}

TEST_F(Poll, FileHeldByTheReadBackIsReleasedAndTheFrameStillWritten) {
    writeAll(path, "128,7,7,7,7,7,7,7,7,7\r\n");
    files.openForInput(2, path);
    sendAndPoll(bytes({128, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_FALSE(files.isOpen(2)) << "closing file number 0 closes every file";
    EXPECT_FALSE(files.isOpen(1));
    EXPECT_EQ(exchange(), "128,1,1,1,1,1,1,1,1,1\r\n") << "the frame read is not lost";
}

TEST_F(Poll, HandleLeftOpenByAnInterruptedPollIsReleasedByTheNext) {
    files.openForOutput(1, path);  // as a poll that failed between open and close leaves it
    sendAndPoll(bytes({128, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_FALSE(files.isOpen(1));
    EXPECT_EQ(exchange(), "128,1,1,1,1,1,1,1,1,1\r\n");
    sendAndPoll(bytes({128, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(exchange(), "128,2,2,2,2,2,2,2,2,2\r\n");
}

TEST_F(Poll, SymbolicLinkAtTheExchangePathIsNotFollowedAndSaidOncePerEpisode) {
    const std::string victim = dir.path("victim");
    writeAll(victim, "precious");
    test::MessageLog log;
    for (int episode = 1; episode <= 2; ++episode) {
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
        for (int i = 0; i < 3; ++i) sendAndPoll(bytes({128, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
        EXPECT_EQ(readAll(victim), "precious");
        EXPECT_FALSE(files.isOpen(1));
        EXPECT_EQ(log.count("cannot write the exchange file"), episode) << log.text().toStdString();
        EXPECT_EQ(log.count(QString::fromStdString(path) + " (error 75)"), episode);
        EXPECT_EQ(log.count("symbolic link"), episode);
        ::unlink(path.c_str());
        sendAndPoll(bytes({128, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
        EXPECT_EQ(exchange(), "128,2,2,2,2,2,2,2,2,2\r\n") << "written again by itself";
    }
}

// What the poll fed, and what the exchange file held at that moment.
struct RecordingFeed final : FrameFeed {
    explicit RecordingFeed(std::string path) : path(std::move(path)) {}
    void frameRead(std::span<const Frame> lines) noexcept override {
        fed.emplace_back(lines.begin(), lines.end());
        fileThen.push_back(readAll(path));
    }
    std::string path;
    std::vector<std::vector<Frame>> fed;
    std::vector<QByteArray> fileThen;
};

struct FeedCase {
    const char* name;
    QByteArray frame;
    std::vector<Frame> fed;  // empty: the poll feeds nothing
};

class Feed : public Poll, public ::testing::WithParamInterface<FeedCase> {};

TEST_P(Feed, TakesEveryLineOfAWholeFrameBeforeTheFileIsRewritten) {
    RecordingFeed feed(path);
    poll.feedTo(feed);
    writeAll(path, "old");
    sendAndPoll(GetParam().frame);
    if (GetParam().fed.empty()) {
        EXPECT_TRUE(feed.fed.empty());
        return;
    }
    ASSERT_EQ(feed.fed.size(), 1U) << "one call per poll";
    EXPECT_EQ(feed.fed[0], GetParam().fed);
    EXPECT_EQ(feed.fileThen[0], "old");
    std::string lines;
    for (const auto& line : GetParam().fed) lines += exchange::formatLine(line) + "\r\n";
    EXPECT_EQ(exchange().toStdString(), lines) << "the feed sees what the file gets";
}

INSTANTIATE_TEST_SUITE_P(
    Reads, Feed,
    ::testing::Values(
        FeedCase{"OneMarker",
                 bytes({7, 0, 128, 40, 50, 60, 70, 80, 90, 100}),
                 {{128, 40, 50, 60, 70, 80, 90, 100, 7, 0}}},
        FeedCase{"TwoMarkers",
                 bytes({1, 128, 3, 4, 5, 6, 128, 8, 9, 10}),
                 {{128, 3, 4, 5, 6, 128, 8, 9, 10, 1}, {128, 8, 9, 10, 1, 128, 3, 4, 5, 6}}},
        FeedCase{"AllMarkers", QByteArray(10, char(128)),
                 std::vector<Frame>(10, {128, 128, 128, 128, 128, 128, 128, 128, 128, 128})},
        FeedCase{"NoMarker", bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 0}), {}},
        FeedCase{"ShortRead", bytes({128, 5, 5, 5}), {}}, FeedCase{"EmptyRead", {}, {}}),
    test::CaseName());

TEST(FeedWithoutFile, GetsTheFrameWhenTheExchangeFileCannotBeWritten) {
    test::Pty glove;
    test::TempDir dir;
    const std::string path = dir.path("missing-directory/InputFile");
    MSComm comm{glove.path()};
    comm.setInputLen(10);
    ASSERT_TRUE(comm.receive());
    PosixFiles files;
    QByteArray dataF;
    FramePoll poll(comm, files, dataF, path);
    RecordingFeed feed(path);
    poll.feedTo(feed);
    for (const int value : {1, 2}) {
        glove.send(bytes({128, value, 0, 0, 0, 0, 0, 0, 0, 0}));
        processEventsFor(20ms);
        poll.run();
    }
    ASSERT_EQ(feed.fed.size(), 2U);
    const Frame second{128, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(feed.fed[1], std::vector{second});
    EXPECT_EQ(readAll(path), "<missing>");
}

TEST(PollWithoutDevice, ClearsDataFAndLeavesTheFileAlone) {
    test::TempDir dir;
    MSComm comm(dir.dir() + "/unplugged");
    comm.setInputLen(10);
    PosixFiles files;
    QByteArray dataF = bytes({128, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    writeAll(dir.path(), "128,1,1,1,1,1,1,1,1,1\r\n");
    FramePoll poll(comm, files, dataF, dir.path());
    poll.run();
    EXPECT_TRUE(dataF.isEmpty()) << "a port that cannot be opened delivered nothing";
    EXPECT_EQ(readAll(dir.path()), "128,1,1,1,1,1,1,1,1,1\r\n");
}

}  // namespace
}  // namespace glove
