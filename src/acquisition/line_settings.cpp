#include "acquisition/line_settings.h"

#include <QStringList>

#include "common/glove_frame.h"
#include "common/run_time_error.h"

namespace glove {

namespace {

constexpr int kMinDataBits = 5;
constexpr int kMaxDataBits = 8;
constexpr int kMaxBaud = 4'000'000;

[[noreturn]] void invalid(const QString& text) {
    throw RunTimeError(ErrorNumber::InvalidPropertyValue,
                       "Invalid property value: Settings \"" + text.toStdString() + '"');
}

}  // namespace

LineSettings LineSettings::parse(const QString& text) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4) invalid(text);

    LineSettings s;
    bool ok = false;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0 || s.baud > kMaxBaud) invalid(text);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == "N") {
        s.parity = Parity::None;
    } else if (parity == "E") {
        s.parity = Parity::Even;
    } else if (parity == "O") {
        s.parity = Parity::Odd;
    } else if (parity == "M") {
        s.parity = Parity::Mark;
    } else if (parity == "S") {
        s.parity = Parity::Space;
    } else {
        invalid(text);
    }

    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < kMinDataBits || s.dataBits > kMaxDataBits) invalid(text);

    const QString stop = parts[3].trimmed();
    if (stop == "1") {
        s.stopBits = StopBits::One;
    } else if (stop == "1.5") {
        s.stopBits = StopBits::OneAndHalf;
    } else if (stop == "2") {
        s.stopBits = StopBits::Two;
    } else {
        invalid(text);
    }
    return s;
}

std::chrono::nanoseconds LineSettings::timeFor(int characters) const {
    const int stopHalfBits = stopBits == StopBits::One          ? 2
                             : stopBits == StopBits::OneAndHalf ? 3
                                                                : 4;
    return lineTime(static_cast<std::uint64_t>(characters), static_cast<std::uint32_t>(baud),
                    halfBitsPerCharacter(dataBits, parity != Parity::None, stopHalfBits));
}

}  // namespace glove
