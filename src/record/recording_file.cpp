#include "record/recording_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "record/recording_format.h"

namespace glove::record {

namespace {

// Enough for a new recording every second for a quarter of an hour, all in one second's
// name; past that the directory is not a sensible place for more.
constexpr int kMostAttempts = 999;

int createNew(const std::string& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A missing folder is named as such, not as the file that could not be made in it.
[[noreturn]] void throwFolderError(int error, const std::string& folder) {
    throw std::system_error(error, std::generic_category(), "folder " + folder);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

void checkFolder(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) throwFolderError(errno, folder);
    if (!S_ISDIR(status.st_mode)) throwFolderError(ENOTDIR, folder);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) throwFolderError(errno, folder);
}

}  // namespace

void RecordingFile::check(const std::string& path) {
    if (isFolder(path) || path.ends_with('/')) return checkFolder(path);
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        throw std::system_error(EEXIST, std::generic_category(), path);
    }
    checkFolder(folderOf(path));
}

std::string recordingFileName(std::time_t startTime, int attempt) {
    tm local{};
    localtime_r(&startTime, &local);
    std::array<char, 32> stamp{};
    const std::size_t length = std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &local);
    std::string name = "glove-" + std::string(stamp.data(), length);
    if (attempt > 1) name += '-' + std::to_string(attempt);
    return name + ".csv";
}

RecordingFile RecordingFile::create(const std::string& path, std::time_t startTime) {
    std::string chosen = path;
    int fd = -1;
    if (isFolder(path)) {
        const std::string directory = path.ends_with('/') ? path : path + '/';
        for (int attempt = 1; fd < 0 && attempt <= kMostAttempts; ++attempt) {
            chosen = directory + recordingFileName(startTime, attempt);
            fd = createNew(chosen);
            if (fd < 0 && errno != EEXIST) break;
        }
    } else {
        // Also what a missing folder gets, not "is a directory".
        if (path.ends_with('/')) checkFolder(path);
        fd = createNew(path);
    }
    if (fd < 0 && errno == ENOENT) throwFolderError(ENOENT, folderOf(chosen));
    if (fd < 0) throw std::system_error(errno, std::generic_category(), chosen);

    RecordingFile file(fd, chosen);
    const std::string header = std::string(kHeader) + kLineEnd;
    if (const std::error_code error = file.append(header)) {
        // Nothing of ours would be left in it: take the empty file away again.
        ::unlink(chosen.c_str());
        throw std::system_error(error, chosen);
    }
    return file;
}

std::error_code RecordingFile::append(std::string_view rows) noexcept {
    if (!isOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    std::size_t done = 0;
    while (done < rows.size()) {
        const ssize_t n = ::write(fd_.get(), rows.data() + done, rows.size() - done);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        const std::error_code error(errno, std::generic_category());
        // A full disk may have taken part of a row: cut the file back to the last whole one,
        // so that every row in it can be read. Failing that, the reader skips a cut last row.
        const std::size_t whole = rows.substr(0, done).rfind(kLineEnd);
        const off_t keep =
            size_ + static_cast<off_t>(whole == std::string_view::npos ? 0 : whole + 1);
        [[maybe_unused]] const int cut = ::ftruncate(fd_.get(), keep);
        fd_.reset();
        return error;
    }
    size_ += static_cast<off_t>(done);
    return {};
}

}  // namespace glove::record
