#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <map>
#include <optional>

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
    void remove(const std::string& path) override;

    // Removes the temporary files that a run killed while writing `path` left behind;
    // those of a run still writing are kept. Nothing is reported: a leftover that cannot
    // be removed is only clutter.
    static void removeLeftovers(const std::string& path);

    [[nodiscard]] bool isOpen(int number) const { return handles_.contains(number); }

  private:
    enum class Mode { Output, Input };

    struct Handle {
        int fd = -1;
        Mode mode = Mode::Input;
        std::string path;
        // Output: the new content's file until close renames it over the path.
        std::string temporaryPath;
        ino_t inode = 0;               // of the new content's file
        ino_t replacedInode = 0;       // of our own file at the path when it was opened
        bool replacesOwnFile = false;  // else the path was free and must still be at close
        bool writeFailed = false;      // then close discards it and the path keeps its content
        off_t written = 0;             // output: the new content's length so far
        off_t lengthBefore = 0;        // output: what a reused file (see Spare) held; 0 if new
        // Read-ahead for input, so items come from memory, not one system call a byte.
        std::array<char, 4096> buffer{};
        std::size_t begin = 0;
        std::size_t end = 0;
        bool atEnd = false;
    };

    // After a rewrite the previous content's file stays under its hidden name, so that the
    // next rewrite of the path can write into it instead of creating a file and deleting one:
    // that is most of what a rewrite costs the file system. It is written again only if no
    // other program holds it open, as a reader that opened it at the path may.
    struct Spare {
        std::string name;  // empty: none
        ino_t inode = 0;
        ino_t placed = 0;  // the file we put at the path, which the spare goes with
    };

    struct TakenSpare {
        int fd = -1;
        std::string name;
        ino_t inode = 0;
        off_t length = 0;
    };
    // The spare for the next content of `path`, opened and leased, if there is one to use.
    std::optional<TakenSpare> takeSpare(const std::string& path,
                                        const std::optional<struct stat>& ownFile);
    void dropSpare(const std::string& path);
    // Removes output that does not take the path's place.
    void discard(const Handle& h);

    void checkCanOpen(int number, const std::string& path) const;
    // Our own file at the path, if there is one; fails if something else is there.
    static std::optional<struct stat> checkReplaceable(const std::string& path);
    // Closes the descriptor; output takes its path's place, or is discarded after a failure.
    void release(Handle& h);
    void checkPathNotOpen(const std::string& path) const;  // 55 if open under any number
    Handle& handle(int number, Mode mode);
    static int nextChar(Handle& h);  // -1 at the end of the file
    static int peekChar(Handle& h);

    std::map<int, Handle> handles_;
    std::map<std::string, Spare> spares_;  // by path
};

}  // namespace glove
