#include "monitor/status_text.h"

#include <QStringList>

namespace glove::status {

namespace {

constexpr double kGestureValue4Below = 170;
constexpr double kGestureValue5Above = 200;
constexpr double kGestureValue6Below = 160;
constexpr double kBatteryValue2Above = 2;
constexpr int kSignificantDigits = 15;  // whole numbers print as themselves

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
    QStringList texts;
    for (const Value& value : reading) {
        texts << (value ? QString::number(*value, 'g', kSignificantDigits) : QString());
    }
    return texts.join(QStringLiteral("  "));
}

}  // namespace glove::status
