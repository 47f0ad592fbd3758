#include "exchange/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <array>
#include <memory>

#include "common/run_time_error.h"
#include "exchange/exchange_file.h"
#include "support/case_names.h"
#include "support/errors.h"
#include "support/temp_files.h"

namespace glove {
namespace {

using test::errorOf;
using test::readAll;
using test::TempDir;
using test::writeAll;

std::vector<double> readItems(PosixFiles& files, const std::string& path, int count) {
    files.openForInput(2, path);
    std::vector<double> items;
    for (int i = 0; i < count; ++i) items.push_back(files.readNumber(2));
    files.close(2);
    return items;
}

TEST(ExchangeLine, IsDecimalCommaSeparatedWithCrLfOnWrite) {
    TempDir dir;
    PosixFiles files;
    files.openForOutput(1, dir.path());
    files.writeLine(1, exchange::formatLine({128, 40, 50, 60, 70, 80, 90, 100, 7, 0}));
    files.writeLine(1, exchange::formatLine({128, 255, 1, 2, 3, 4, 5, 6, 7, 8}));
    files.close(1);
    EXPECT_EQ(readAll(dir.path()), "128,40,50,60,70,80,90,100,7,0\r\n128,255,1,2,3,4,5,6,7,8\r\n");
}

TEST(ReadBack, TakesTheFirstTenItemsOfTheFirstLine) {
    TempDir dir;
    writeAll(dir.path(), "128,1,2,3,4,5,6,7,8,9\r\n128,9,9,9,9,9,9,9,9,9\r\n");
    PosixFiles files;
    EXPECT_EQ(readItems(files, dir.path(), 10),
              (std::vector<double>{128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(ReadBack, SkipsLeadingSpacesAndAcceptsAnyLineEnd) {
    TempDir dir;
    writeAll(dir.path(), "  128 , 1\n2\r3,\t4.5,-6,+7,8e1,1e-400,10");
    PosixFiles files;
    EXPECT_EQ(readItems(files, dir.path(), 10),
              (std::vector<double>{128, 1, 2, 3, 4.5, -6, 7, 80, 0, 10}))
        << "a number too small to hold reads as 0";
}

TEST(ReadBack, EmptyOrShortFileIsInputPastEnd) {
    TempDir dir;
    PosixFiles files;
    writeAll(dir.path(), "");
    EXPECT_EQ(errorOf([&] { readItems(files, dir.path(), 10); }), ErrorNumber::InputPastEndOfFile);
    files.closeAll();
    writeAll(dir.path(), "128,1,2\r\n");
    EXPECT_EQ(errorOf([&] { readItems(files, dir.path(), 10); }), ErrorNumber::InputPastEndOfFile);
}

struct BadItem {
    const char* name;
    const char* content;
    ErrorNumber error;
};

class ReadBackBadItem : public ::testing::TestWithParam<BadItem> {};

TEST_P(ReadBackBadItem, IsANumberedErrorNotACrashOrAZero) {
    TempDir dir;
    writeAll(dir.path(), GetParam().content);
    PosixFiles files;
    files.openForInput(2, dir.path());
    EXPECT_EQ(errorOf([&] { files.readNumber(2); }), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Items, ReadBackBadItem,
    ::testing::Values(BadItem{"Word", "abc,1", ErrorNumber::TypeMismatch},
                      BadItem{"LetterAfterDigits", "12x,1", ErrorNumber::TypeMismatch},
                      BadItem{"Empty", ",1", ErrorNumber::TypeMismatch},
                      BadItem{"Hexadecimal", "0x10,1", ErrorNumber::TypeMismatch},
                      BadItem{"NotANumber", "nan,1", ErrorNumber::TypeMismatch},
                      BadItem{"TooLarge", "1e999,1", ErrorNumber::Overflow},
                      BadItem{"OverlongNumber", "1234567890123456789012345678901234567890123,1",
                              ErrorNumber::TypeMismatch}),
    test::CaseName());

TEST(ReadBack, HugeFileReadsOnlyWhatItNeeds) {
    TempDir dir;
    {
        std::string big = "128,1,2,3,4,5,6,7,8,9\r\n";
        big.append(8 * 1024 * 1024, '7');
        writeAll(dir.path(), QByteArray::fromStdString(big));
    }
    PosixFiles files;
    EXPECT_EQ(readItems(files, dir.path(), 10).back(), 9);
    // An item that never ends stops at the longest a number can be.
    writeAll(dir.path(), QByteArray(1024 * 1024, '1'));
    files.openForInput(2, dir.path());
    EXPECT_EQ(errorOf([&] { files.readNumber(2); }), ErrorNumber::TypeMismatch);
}

TEST(NumberedFiles, MissingFileIsFileNotFound) {
    TempDir dir;
    PosixFiles files;
    EXPECT_EQ(errorOf([&] { files.openForInput(2, dir.path()); }), ErrorNumber::FileNotFound);
    EXPECT_EQ(errorOf([&] { files.remove(dir.path()); }), ErrorNumber::FileNotFound);
    EXPECT_EQ(errorOf([&] { files.remove(dir.path("nodir/InputFile")); }),
              ErrorNumber::FileNotFound);
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path("nodir/InputFile")); }),
              ErrorNumber::PathNotFound);
    EXPECT_FALSE(QFileInfo::exists(dir.dir() + "/nodir"));
}

TEST(NumberedFiles, APathOpenUnderAnyNumberIsAlreadyOpen) {
    TempDir dir;
    writeAll(dir.path(), "128\r\n");
    PosixFiles files;
    files.openForInput(2, dir.path());
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }), ErrorNumber::FileAlreadyOpen);
    EXPECT_EQ(errorOf([&] { files.openForInput(2, dir.path("other")); }),
              ErrorNumber::FileAlreadyOpen);
    EXPECT_EQ(errorOf([&] { files.remove(dir.path()); }), ErrorNumber::FileAlreadyOpen);
    EXPECT_EQ(readAll(dir.path()), "128\r\n") << "a refused open must not truncate";
}

TEST(NumberedFiles, CloseZeroClosesEveryFileAndClosingAClosedNumberIsHarmless) {
    TempDir dir;
    writeAll(dir.path("a"), "1\r\n");
    PosixFiles files;
    files.openForOutput(1, dir.path());
    files.openForInput(2, dir.path("a"));
    files.close(Files::kAllFiles);
    EXPECT_FALSE(files.isOpen(1));
    EXPECT_FALSE(files.isOpen(2));
    files.close(2);
    files.openForOutput(1, dir.path());  // reusable at once
    EXPECT_EQ(errorOf([&] { files.readNumber(1); }), ErrorNumber::BadFileMode);
    EXPECT_EQ(errorOf([&] { files.writeLine(3, "x"); }), ErrorNumber::BadFileNumber);
    EXPECT_EQ(errorOf([&] { files.openForOutput(0, dir.path("b")); }), ErrorNumber::BadFileNumber);
}

// Every name in the directory, dangling links included, sorted.
std::string entriesOf(const TempDir& dir) {
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    return QDir(dir.dir()).entryList(all, QDir::Name).join(' ').toStdString();
}

// A reader opening the path at any moment finds a whole content: the old until close.
TEST(ExchangeFileRewrite, ReplacesTheWholeContentAtCloseAndLeavesNothingElse) {
    TempDir dir;
    writeAll(dir.path(), "128,1,1,1,1,1,1,1,1,1\r\n");
    auto owner = std::make_unique<PosixFiles>();
    PosixFiles& files = *owner;
    files.openForOutput(1, dir.path());
    files.writeLine(1, "128,2,2,2,2,2,2,2,2,2");
    EXPECT_EQ(readAll(dir.path()), "128,1,1,1,1,1,1,1,1,1\r\n") << "emptied before close";
    files.close(1);
    EXPECT_EQ(readAll(dir.path()), "128,2,2,2,2,2,2,2,2,2\r\n");
    files.openForOutput(1, dir.path());
    files.writeLine(1, "128,3,3,3,3,3,3,3,3,3");
    ASSERT_EQ(::unlink(dir.path().c_str()), 0);
    files.close(1);
    EXPECT_EQ(readAll(dir.path()), "128,3,3,3,3,3,3,3,3,3\r\n") << "deleted meanwhile";
    files.openForOutput(1, dir.path());
    files.closeAll();
    EXPECT_EQ(readAll(dir.path()), "") << "a rewrite without lines leaves an empty file";
    owner.reset();
    EXPECT_EQ(entriesOf(dir), "InputFile");
}

// A reader that holds the file open keeps the content it opened; the path has the latest.
TEST(ExchangeFileRewrite, AReaderHoldingTheFileKeepsItsContentAndNothingStaysBeside) {
    TempDir dir;
    PosixFiles files;
    const auto rewrite = [&](const std::string& line) {
        files.openForOutput(1, dir.path());
        files.writeLine(1, line);
        files.close(1);
    };
    rewrite("128,2");
    const int reader = ::open(dir.path().c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    rewrite("128,3,3,3,3,3,3,3,3,3");
    rewrite("128,4");
    std::array<char, 32> held{};
    EXPECT_EQ(::pread(reader, held.data(), held.size(), 0), 7);
    EXPECT_EQ(std::string(held.data(), 7), "128,2\r\n") << "a file a reader holds was written";
    ::close(reader);
    EXPECT_EQ(readAll(dir.path()), "128,4\r\n");
    EXPECT_EQ(entriesOf(dir), "InputFile") << "a content before stayed beside the path";
}

class NewExchangeFile : public ::testing::TestWithParam<mode_t> {};

TEST_P(NewExchangeFile, HasTheUsualModeLessTheUmask) {
    TempDir dir;
    const mode_t previous = ::umask(GetParam());
    PosixFiles files;
    files.openForOutput(1, dir.path());
    files.close(1);
    ::umask(previous);
    struct stat st {};
    ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644 & ~GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Umasks, NewExchangeFile, ::testing::Values(022, 077, 002, 0), [](const auto& info) {
        return "Umask" + QString::number(info.param, 8).rightJustified(3, '0').toStdString();
    });

TEST(ExchangeFileRewrite, KeepsTheModeTheUserGaveTheFile) {
    TempDir dir;
    PosixFiles files;
    files.openForOutput(1, dir.path());
    files.close(1);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0600), 0);
    files.openForOutput(1, dir.path());
    files.writeLine(1, "128,1,2,3,4,5,6,7,8,9");
    files.close(1);
    struct stat st {};
    ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600) << "a file kept private must not become readable";
}

TEST(ExchangeFileRewrite, StartUpRemovesOnlyWhatAKilledRunLeft) {
    TempDir dir;
    const std::string killedRuns = dir.path(".InputFile.Ab3-_Zz09xYw");
    writeAll(killedRuns, "128,3");
    writeAll(dir.path(".InputFile.notours"), "kept");
    ASSERT_EQ(::symlink(killedRuns.c_str(), dir.path(".InputFile.LinkLinkLink").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.path(".InputFile.DirectoryDir").c_str(), 0700), 0);
    std::string expected = entriesOf(dir);
    expected.erase(expected.find(".InputFile.Ab3-_Zz09xYw "), 24);

    PosixFiles::removeLeftovers(dir.path());
    EXPECT_EQ(entriesOf(dir), expected);
}

// Whatever is at the exchange path that is not our own plain file is left untouched.
TEST(ExchangeFileSafety, SymbolicLinkIsNeitherFollowedNorReplaced) {
    TempDir dir;
    const std::string target = dir.path("victim");
    writeAll(target, "precious");
    ASSERT_EQ(::symlink(target.c_str(), dir.path().c_str()), 0);
    PosixFiles files;
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(errorOf([&] { files.openForInput(2, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(readAll(target), "precious");
    files.remove(dir.path());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(dir.path())).isSymLink() == false);
    EXPECT_EQ(readAll(target), "precious") << "delete must remove the link, not its target";
}

TEST(ExchangeFileSafety, HardLinkDirectoryFifoAndForeignFileAreRefused) {
    TempDir dir;
    PosixFiles files;

    const std::string other = dir.path("other");
    writeAll(other, "precious");
    ASSERT_EQ(::link(other.c_str(), dir.path().c_str()), 0);
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(readAll(other), "precious");
    ASSERT_EQ(::unlink(dir.path().c_str()), 0);

    ASSERT_EQ(::mkdir(dir.path().c_str(), 0700), 0);
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(errorOf([&] { files.openForInput(2, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(errorOf([&] { files.remove(dir.path()); }), ErrorNumber::PathAccessError);
    ASSERT_EQ(::rmdir(dir.path().c_str()), 0);

    // A fifo would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo(dir.path().c_str(), 0600), 0);
    EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }), ErrorNumber::PathAccessError);
    EXPECT_EQ(errorOf([&] { files.openForInput(2, dir.path()); }), ErrorNumber::PathAccessError);
    ASSERT_EQ(::unlink(dir.path().c_str()), 0);

    if (::geteuid() == 0) {  // only root can give a file away
        writeAll(dir.path(), "theirs");
        ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
        EXPECT_EQ(errorOf([&] { files.openForOutput(1, dir.path()); }),
                  ErrorNumber::PathAccessError);
        EXPECT_EQ(readAll(dir.path()), "theirs");
    }
    EXPECT_FALSE(files.isOpen(1));
}

}  // namespace
}  // namespace glove
