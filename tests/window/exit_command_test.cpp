#include "window/exit_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFileInfo>

#include "exchange/posix_files.h"
#include "support/temp_files.h"

namespace glove {
namespace {

bool exists(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

TEST(Exit, WithoutAnExchangeFileStillEnds) {
    test::TempDir dir;
    PosixFiles files;
    EXPECT_TRUE(ExitCommand(files, dir.path()).run());
    EXPECT_TRUE(ExitCommand(files, dir.path("no-dir/InputFile")).run()) << "missing directory";
}

TEST(Exit, ClosesAHandleLeftOpenThenDeletesAndEnds) {
    test::TempDir dir;
    PosixFiles files;
    files.openForOutput(1, dir.path());  // left open by an interrupted poll
    EXPECT_TRUE(ExitCommand(files, dir.path()).run());
    EXPECT_FALSE(files.isOpen(1));
    EXPECT_FALSE(exists(dir.path()));
    EXPECT_TRUE(QFileInfo::exists(dir.dir())) << "only the file goes, not its directory";
}

TEST(Exit, AnUndeletableFileKeepsTheProgramRunningWithFilesClosed) {
    test::TempDir dir;
    PosixFiles files;
    ASSERT_EQ(::mkdir(dir.path().c_str(), 0700), 0);  // a directory cannot be unlinked
    test::writeAll(dir.path("other"), "1\r\n");
    files.openForInput(2, dir.path("other"));
    EXPECT_FALSE(ExitCommand(files, dir.path()).run());
    EXPECT_TRUE(exists(dir.path()));
    EXPECT_FALSE(files.isOpen(2));
}

}  // namespace
}  // namespace glove
