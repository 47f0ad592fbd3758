#pragma once

#include <stdexcept>
#include <string>

namespace glove {

// The program reports every failure as a numbered run-time error; each routine's
// error trap decides by the number whether to repair, continue, leave or end.
enum class ErrorNumber : int {
    InvalidArgument = 5,  // e.g. the character code of an empty character
    Overflow = 6,         // a number too large to hold
    TypeMismatch = 13,    // an item that is not a number
    BadFileNumber = 52,   // a file number that is not open, or out of range
    BadFileMode = 54,     // writing to a file opened for input, or reading one opened for output
    FileNotFound = 53,
    FileAlreadyOpen = 55,
    DeviceIoError = 57,  // a write to the exchange file failed
    DiskFull = 61,
    InputPastEndOfFile = 62,
    DeviceUnavailable = 68,  // the serial device is missing, busy or failed
    PermissionDenied = 70,
    PathAccessError = 75,  // something other than our own regular file at the path
    PathNotFound = 76,     // the directory of the file does not exist
    InvalidPropertyValue = 380,
    InvalidPortNumber = 8002,
    PortAlreadyOpen = 8005,
    PortNotOpen = 8012,
};

class RunTimeError : public std::runtime_error {
  public:
    RunTimeError(ErrorNumber number, const std::string& what)
        : std::runtime_error(what), number_(number) {}

    [[nodiscard]] ErrorNumber number() const noexcept { return number_; }

  private:
    ErrorNumber number_;
};

}  // namespace glove
