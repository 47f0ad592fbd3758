#include "acquisition/line_settings.h"

#include <QHash>
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

    static const QHash<QString, Parity> kParities{{"N", Parity::None},
                                                  {"E", Parity::Even},
                                                  {"O", Parity::Odd},
                                                  {"M", Parity::Mark},
                                                  {"S", Parity::Space}};
    const auto parity = kParities.constFind(parts[1].trimmed().toUpper());
    if (parity == kParities.cend()) invalid(text);
    s.parity = *parity;

    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < kMinDataBits || s.dataBits > kMaxDataBits) invalid(text);

    static const QHash<QString, StopBits> kStopBits{
        {"1", StopBits::One}, {"1.5", StopBits::OneAndHalf}, {"2", StopBits::Two}};
    const auto stopBits = kStopBits.constFind(parts[3].trimmed());
    if (stopBits == kStopBits.cend()) invalid(text);
    s.stopBits = *stopBits;
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
