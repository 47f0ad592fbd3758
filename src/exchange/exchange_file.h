#pragma once

#include <array>
#include <string>
#include <string_view>

namespace glove::exchange {

// The one file through which an aligned frame travels from the poll to the display.
#ifdef _WIN32
inline constexpr std::string_view kDefaultPath = "C:\\temp\\InputFile";
#else
inline constexpr std::string_view kDefaultPath = "/tmp/InputFile";
#endif

inline constexpr int kWriterFileNumber = 1;
inline constexpr int kReaderFileNumber = 2;

inline constexpr int kFrameLength = 10;
inline constexpr int kFrameMarker = 128;

using Frame = std::array<int, kFrameLength>;

// Every line of the file ends so, the last included.
inline constexpr std::string_view kLineEnd = "\r\n";

// "128,40,50,60,70,80,90,100,7,0": decimal, no sign or padding, single commas.
std::string formatLine(const Frame& frame);

}  // namespace glove::exchange
