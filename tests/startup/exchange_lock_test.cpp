#include "startup/exchange_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <optional>

#include "support/temp_files.h"

namespace glove {
namespace {

// A second take, as a second monitor's, is refused naming the first; the first removes its
// file as it lets go, and the next take succeeds.
TEST(ExchangeLock, ASecondTakeIsRefusedNamingTheFirstUntilItLetsGo) {
    const test::TempDir dir;
    const std::string lockPath = ExchangeLock::pathFor(dir.path());
    EXPECT_EQ(lockPath, dir.path(".InputFile.lock"));
    std::optional<ExchangeLock> first(ExchangeLock::take(dir.path(), "/dev/ttyUSB0"));
    try {
        ExchangeLock::take(dir.path(), "/dev/ttyUSB1");
        ADD_FAILURE() << "a second lock was taken";
    } catch (const ExchangeInUse& e) {
        EXPECT_EQ(e.holder().pid, ::getpid());
        EXPECT_EQ(e.holder().device, "/dev/ttyUSB0");
        EXPECT_EQ(std::string(e.what()),
                  dir.path() + " is written by another glove-monitor (pid " +
                      std::to_string(::getpid()) +
                      " on /dev/ttyUSB0); give each glove its own --exchange-file");
    }
    first.reset();
    EXPECT_EQ(::access(lockPath.c_str(), F_OK), -1) << "the lock file outlived its holder";
    EXPECT_NO_THROW(ExchangeLock::take(dir.path(), "/dev/ttyUSB1"));
}

// In a directory anyone can write to, a link at the lock's path is not followed, and a file
// with another name is only locked: never written to or removed.
TEST(ExchangeLock, NeverFollowsALinkNorWritesAFileOfAnotherName) {
    const test::TempDir dir;
    const std::string lockPath = ExchangeLock::pathFor(dir.path());
    test::writeAll(dir.path("target"), "keep me");
    ASSERT_EQ(::symlink(dir.path("target").c_str(), lockPath.c_str()), 0);
    EXPECT_THROW(ExchangeLock::take(dir.path(), "/dev/ttyUSB0"), ExchangeLockError);
    ASSERT_EQ(::unlink(lockPath.c_str()), 0);
    ASSERT_EQ(::link(dir.path("target").c_str(), lockPath.c_str()), 0);
    {
        const ExchangeLock held = ExchangeLock::take(dir.path(), "/dev/ttyUSB0");
        EXPECT_THROW(ExchangeLock::take(dir.path(), "/dev/ttyUSB1"), ExchangeInUse);
    }
    EXPECT_EQ(test::readAll(dir.path("target")), "keep me");
    EXPECT_EQ(test::readAll(lockPath), "keep me");
}

// The record of a holder of another user is theirs to write: no byte of it that reaches the
// terminal steers it (C0 and C1 controls, bytes of no character).
TEST(ExchangeLock, AHolderIsNamedInPrintableText) {
    const test::TempDir dir;
    const std::string lockPath = ExchangeLock::pathFor(dir.path());
    test::writeAll(lockPath, "pid=" + QByteArray::number(::getpid()) +
                                 "\ndevice=/dev/tty\x1b[2J\xc2\x9b"
                                 "1m\xff\n");
    const int holder = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    try {
        ExchangeLock::take(dir.path(), "/dev/ttyUSB1");
        ADD_FAILURE() << "a second lock was taken";
    } catch (const ExchangeInUse& e) {
        EXPECT_EQ(e.holder().device, "/dev/tty\\x1b[2J\\xc2\\x9b1m\\xff");
    }
    ::close(holder);
}

}  // namespace
}  // namespace glove
