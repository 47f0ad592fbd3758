#pragma once

#include <QString>
#include <chrono>

namespace glove {

// A settings text such as "4800,N,8,1": baud, parity, data bits, stop bits.
struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baud = 4800;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Malformed text is error 380, invalid property value.
    static LineSettings parse(const QString& text);

    // How long the line takes to carry this many characters, start and stop bits included.
    [[nodiscard]] std::chrono::nanoseconds timeFor(int characters) const;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

}  // namespace glove
