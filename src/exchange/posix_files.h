#pragma once

#include <array>
#include <cstddef>
#include <map>

#include "exchange/files.h"

namespace glove {

// Files on the local file system through POSIX calls. The exchange file lives in a
// world-writable directory under a well-known name, so no open ever follows a symbolic
// link, and output only ever replaces a regular, single-link file of our own user.
//
// Output goes to a new file of unpredictable name in the same directory, put in the path's
// place in one step when it is closed: a reader that opens the path at any moment finds
// the whole previous content or the whole new one, never an empty or half-written file.
class PosixFiles final : public Files {
  public:
    static constexpr int kHighestFileNumber = 511;

    PosixFiles() = default;
    PosixFiles(const PosixFiles&) = delete;
    PosixFiles& operator=(const PosixFiles&) = delete;
    ~PosixFiles() override;

    void openForOutput(int number, const std::string& path) override;
    void openForInput(int number, const std::string& path) override;
    void writeLine(int number, std::string_view line) override;
    double readNumber(int number) override;
    void close(int number) override;
    void closeAll() override;
    // Also removes the hidden files that rewrites of the path could not remove.
    void remove(const std::string& path) override;

    // Removes the hidden files that a run killed while writing `path` left behind. No other
    // run is writing `path`: the exchange lock stops a second monitor before it gets here.
    // Nothing is reported: a leftover that cannot be removed is only clutter.
    static void removeLeftovers(const std::string& path);

    [[nodiscard]] bool isOpen(int number) const { return handles_.contains(number); }

  private:
    enum class Mode { Output, Input };

    struct Handle {
        int fd = -1;
        Mode mode = Mode::Input;
        std::string path;
        // Output: the new content's file until close puts it at the path.
        std::string temporaryPath{};
        bool replacesOwnFile = false;  // else the path was free and must still be at close
        bool writeFailed = false;      // then close discards it and the path keeps its content
        // Read-ahead for input, so items come from memory, not one system call a byte.
        std::array<char, 4096> buffer{};
        std::size_t begin = 0;
        std::size_t end = 0;
        bool atEnd = false;
    };

    void checkCanOpen(int number, const std::string& path) const;
    void checkPathNotOpen(const std::string& path) const;  // 55 if open under any number
    // Closes the descriptor; output takes its path's place, or is discarded after a failure.
    static void release(Handle& h);
    Handle& handle(int number, Mode mode);
    static int nextChar(Handle& h);  // -1 at the end of the file
    static int peekChar(Handle& h);

    std::map<int, Handle> handles_;
};

}  // namespace glove
