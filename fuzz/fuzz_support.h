#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace glove::fuzz {

// Aborting is how a fuzz target reports a finding: libFuzzer then saves the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}

inline void require(bool holds, const char* what) {
    if (!holds) fail(what);
}

// One file in a private directory, made once per process (a target keeps it in a static)
// so an iteration costs no directory work, and removed when the run ends normally.
class ScratchFile {
  public:
    ScratchFile() {
        std::string dir = (baseDirectory() / "glove-fuzz-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) fail("cannot create a temporary directory");
        dir_ = dir;
        path_ = dir + "/InputFile";
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }

    [[nodiscard]] const std::string& path() const { return path_; }

    void write(std::string_view content) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out.flush()) fail("cannot write the scratch file");
    }

    [[nodiscard]] std::string read() const {
        std::ifstream in(path_, std::ios::binary);
        if (!in) fail("the scratch file is gone");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    // In memory where possible: on ext4, closing a file that was truncated and rewritten
    // starts a disk write, which would make every iteration wait for the disk.
    static std::filesystem::path baseDirectory() {
        const std::filesystem::path shared = "/dev/shm";
        std::error_code error;
        return std::filesystem::is_directory(shared, error)
                   ? shared
                   : std::filesystem::temp_directory_path();
    }

    std::string dir_;
    std::string path_;
};

}  // namespace glove::fuzz
