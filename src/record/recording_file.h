#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <system_error>

#include "common/unique_fd.h"

namespace glove::record {

// A new recording on disk, written to the end and never rewritten. The first failure to
// write ends it: what was written before stays whole rows, and later writes do nothing.
class RecordingFile {
  public:
    // Creates the file with its header, or, when `path` is a directory, a new
    // glove-YYYYMMDD-HHMMSS.csv in it named after `startTime` (local time), with -2, -3...
    // added if that name is taken. An existing file is never opened. Throws
    // std::system_error, whose what() names the path, or the folder when that is missing.
    static RecordingFile create(const std::string& path, std::time_t startTime);
    // Throws as create() would if `path` cannot take a new recording now; makes nothing.
    static void check(const std::string& path);

    RecordingFile() = default;  // no file: writes do nothing

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] bool isOpen() const { return fd_.get() >= 0; }

    // Writes whole rows at the end. On failure the file is cut back to its last whole row
    // and closed, and the error returned; once closed, nothing is written.
    std::error_code append(std::string_view rows) noexcept;

  private:
    RecordingFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    UniqueFd fd_;
    std::string path_;
    off_t size_ = 0;  // what has been written, all of it whole lines
};

// The name a recording started at `startTime` takes in a directory: `attempt` 1 is
// glove-YYYYMMDD-HHMMSS.csv, 2 and up add -2, -3...
std::string recordingFileName(std::time_t startTime, int attempt);

}  // namespace glove::record
