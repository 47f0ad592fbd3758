#include "record/recorder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <functional>

#include "record/recording_format.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove::record {
namespace {

using namespace std::chrono_literals;

// 2026-12-07 09:31:02 UTC.
constexpr std::time_t kStart = 1796635862;

std::string header() {
    return std::string(kHeader) + '\n';
}

TEST(RecordingFileCreate, WritesTheHeaderAndNeverTouchesAnExistingFile) {
    const test::TempDir dir;
    const std::string path = dir.path("r.csv");
    { const RecordingFile file = RecordingFile::create(path, kStart); }
    EXPECT_EQ(test::readAll(path), QByteArray::fromStdString(header()));

    test::writeAll(path, "keep me");
    EXPECT_THROW((void)RecordingFile::create(path, kStart), std::system_error);
    EXPECT_EQ(test::readAll(path), "keep me");
    // A dangling link is not followed to make its target.
    const std::string link = dir.path("link.csv");
    ASSERT_TRUE(
        QFile::link(QString::fromStdString(dir.path("target.csv")), QString::fromStdString(link)));
    EXPECT_THROW((void)RecordingFile::create(link, kStart), std::system_error);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.path("target.csv"))));
}

std::string whyNot(const std::function<void()>& attempt) {
    try {
        attempt();
    } catch (const std::system_error& e) {
        return e.what();
    }
    return "no error";
}

TEST(RecordingFileCreate, NamesAMissingFolderAsMissingAndCheckingMakesNothing) {
    const test::TempDir dir;
    const std::string missing = "folder " + dir.path("no/such/") + ": No such file or directory";
    for (const char* name : {"no/such/r.csv", "no/such/"}) {
        EXPECT_EQ(whyNot([&] { RecordingFile::check(dir.path(name)); }), missing);
        EXPECT_EQ(whyNot([&] { (void)RecordingFile::create(dir.path(name), kStart); }), missing);
    }
    RecordingFile::check(dir.path("r.csv"));
    RecordingFile::check(dir.dir().toStdString());
    EXPECT_TRUE(QDir(dir.dir()).isEmpty());
}

TEST(RecordingFileCreate, InADirectoryTakesTheNextFreeDatedName) {
    const test::TempDir dir;
    const std::string first = recordingFileName(kStart, 1);
    // The name is in local time: whatever the zone, it is that second's.
    tm local{};
    localtime_r(&kStart, &local);
    std::array<char, 32> stamp{};
    std::strftime(stamp.data(), stamp.size(), "glove-%Y%m%d-%H%M%S", &local);
    EXPECT_EQ(first, std::string(stamp.data()) + ".csv");
    EXPECT_EQ(recordingFileName(kStart, 3), std::string(stamp.data()) + "-3.csv");

    for (const char* expected : {"", "-2", "-3"}) {
        const RecordingFile file = RecordingFile::create(dir.dir().toStdString(), kStart);
        EXPECT_EQ(file.path(), dir.path(stamp.data()) + expected + ".csv");
    }
    EXPECT_EQ(QDir(dir.dir()).entryList(QDir::Files).size(), 3);
}

class RecorderTest : public ::testing::Test {
  protected:
    Recording readBack() const { return readRecording(path_); }
    void feed(Recorder& recorder, int n) {
        const Frame frame{128, n % 128, 2, 3, 4, 5, 6, 7, 8, 9};
        const Frame rotation{128, 9, 8, 7, 6, 5, 4, 3, 2, 1};
        const std::array lines{frame, rotation};
        recorder.frameRead(lines);
    }

    test::TempDir dir_;
    std::string path_ = dir_.path("r.csv");
};

TEST_F(RecorderTest, WritesOneRowPerReadWithinHalfASecondAndAtTheEnd) {
    const auto start = Recorder::Clock::now();
    {
        Recorder recorder(RecordingFile::create(path_, kStart), start);
        feed(recorder, 1);
        EXPECT_TRUE(readBack().rows.empty()) << "written at once, not buffered";
        test::processEventsFor(Recorder::kFlushInterval + 200ms);
        ASSERT_EQ(readBack().rows.size(), 1U) << "not written within the interval";
        feed(recorder, 2);
        feed(recorder, 3);
    }
    const Recording r = readBack();
    ASSERT_EQ(r.rows.size(), 3U);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.rows[i].values[1], i + 1);
    EXPECT_GT(r.rows[2].elapsedMicros, r.rows[0].elapsedMicros);
    EXPECT_LT(r.rows[2].elapsedMicros,
              std::chrono::duration_cast<std::chrono::microseconds>(Recorder::Clock::now() - start)
                  .count());
}

TEST_F(RecorderTest, InAFolderMakesItsFileAtTheFirstFrame) {
    {
        Recorder recorder(Recorder::Folder{dir_.dir().toStdString()}, Recorder::Clock::now());
        EXPECT_TRUE(QDir(dir_.dir()).isEmpty()) << "a file before any frame";
        feed(recorder, 1);
        feed(recorder, 2);
    }
    const QStringList made = QDir(dir_.dir()).entryList(QDir::Files);
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(readRecording(dir_.path(made[0].toLocal8Bit().constData())).rows.size(), 2U);
}

TEST_F(RecorderTest, AFullDiskIsReportedOnceAndLeavesWholeRows) {
    // A file size limit is a full disk that a test can set: writes past it fail.
    constexpr rlim_t kLimit = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const test::MessageLog log;
    {
        Recorder recorder(RecordingFile::create(path_, kStart), Recorder::Clock::now());
        rlimit limited = old;
        limited.rlim_cur = kLimit;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        for (int n = 0; n < 200; ++n) {
            feed(recorder, n);
            if (n % 7 == 0) recorder.flush();
        }
        EXPECT_FALSE(recorder.isRecording());
        ::setrlimit(RLIMIT_FSIZE, &old);
        feed(recorder, 1);
        recorder.flush();
    }
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(log.count("stopped"), 1) << log.text().toStdString();
    const Recording r = readBack();
    EXPECT_FALSE(r.cutLine) << "a cut row was left behind";
    EXPECT_GT(r.rows.size(), 20U);
    EXPECT_LE(QFile(QString::fromStdString(path_)).size(), static_cast<qint64>(kLimit));
}

}  // namespace
}  // namespace glove::record
