#pragma once

#include <QString>

#include "monitor/reading.h"

namespace glove::status {

inline const QString kConnecting = QStringLiteral("Connecting.....");
inline const QString kGesture = QStringLiteral("        Be Nice!!!!!            ");
inline const QString kBattery = QStringLiteral("Check Glove...Battery may be Low");
inline const QString kNoDevice = QStringLiteral(" No Device Found");

// The hand gesture the glove warns about: values 4, 5 and 6 below 170, above 200, below 160.
bool gestureTest(const Reading& reading);
// Value 2 above 2: the glove's battery may be low.
bool batteryTest(const Reading& reading);
// The ten values separated by two spaces; an empty value is the empty text.
QString valuesLine(const Reading& reading);

}  // namespace glove::status
