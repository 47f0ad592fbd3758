#pragma once

#include <QString>

#include "calibration/ranges.h"
#include "startup/command_line.h"
#include "startup/settings_file.h"

namespace glove {

// --calibrate-from: the recording's ranges kept for the device in force. The exit status:
// 0 when they are kept, 2 when the file is not a recording, 1 when they cannot be kept.
int calibrateFromRecording(const SettingsFile& file, const CommandLine& options);

// --forget-calibration: 0 whether or not there was one, 1 when the file cannot be changed.
int forgetCalibration(const SettingsFile& file, const CommandLine& options);

// Keeps a calibration taken live for `device`; what went wrong, empty when it is kept.
QString keepCalibration(const SettingsFile& file, const QString& device,
                        const calibration::Ranges& ranges);

}  // namespace glove
