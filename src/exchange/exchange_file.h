#pragma once

#include <string>
#include <string_view>

#include "common/glove_frame.h"

namespace glove::exchange {

// The one file through which an aligned frame travels from the poll to the display.
inline constexpr std::string_view kDefaultPath = "/tmp/InputFile";

inline constexpr int kWriterFileNumber = 1;
inline constexpr int kReaderFileNumber = 2;

// Every line of the file ends so, the last included.
inline constexpr std::string_view kLineEnd = "\r\n";

// "128,40,50,60,70,80,90,100,7,0": decimal, no sign or padding, single commas.
std::string formatLine(const Frame& frame);

}  // namespace glove::exchange
