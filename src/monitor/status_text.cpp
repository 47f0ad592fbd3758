#include "monitor/status_text.h"

#include <cmath>

namespace glove::status {

namespace {

constexpr double kGestureValue4Below = 170;
constexpr double kGestureValue5Above = 200;
constexpr double kGestureValue6Below = 160;
constexpr double kBatteryValue2Above = 2;
constexpr int kSignificantDigits = 15;  // whole numbers print as themselves
constexpr double kWholeBelow = 1e15;    // whole numbers with at most that many digits

QString valueText(double value) {
    // A glove's readings are whole numbers below 256. Written as integers they read the
    // same as with fifteen significant digits, and cost less, 48 lines a second.
    if (value == std::trunc(value) && std::abs(value) < kWholeBelow &&
        !(value == 0 && std::signbit(value))) {
        return QString::number(static_cast<qint64>(value));
    }
    return QString::number(value, 'g', kSignificantDigits);
}

}  // namespace

bool gestureTest(const Reading& reading) {
    const bool value4Low = valueOf(reading, 4) < kGestureValue4Below;
    const bool value5High = valueOf(reading, 5) > kGestureValue5Above;
    const bool value6Low = valueOf(reading, 6) < kGestureValue6Below;
    return value4Low && value5High && value6Low;
}

bool batteryTest(const Reading& reading) {
    return valueOf(reading, 2) > kBatteryValue2Above;
}

QString valuesLine(const Reading& reading) {
    QString line;
    for (std::size_t i = 0; i < reading.size(); ++i) {
        if (i > 0) line += QStringLiteral("  ");
        if (reading[i]) line += valueText(*reading[i]);
    }
    return line;
}

}  // namespace glove::status
