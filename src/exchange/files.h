#pragma once

#include <string>
#include <string_view>

namespace glove {

// Sequential text files addressed by small file numbers, opened and closed around
// each use. Every failure is a RunTimeError with the number a caller's trap tests.
class Files {
  public:
    static constexpr int kAllFiles = 0;  // close(kAllFiles) closes every open file

    virtual ~Files() = default;

    // Starts the file's new content, which replaces the old one whole at close (created
    // if missing); 55 if the path or the number is already open.
    virtual void openForOutput(int number, const std::string& path) = 0;
    // 53 if the file does not exist; 55 if the path or the number is already open.
    virtual void openForInput(int number, const std::string& path) = 0;
    // Writes the line and a CR LF.
    virtual void writeLine(int number, std::string_view line) = 0;
    // Reads the next comma- or line-separated item as a number; 62 past the end.
    virtual double readNumber(int number) = 0;
    // Closing a number that is not open does nothing.
    virtual void close(int number) = 0;
    virtual void closeAll() = 0;
    // Removes what is at the path itself; 53 if nothing is there.
    virtual void remove(const std::string& path) = 0;
};

}  // namespace glove
