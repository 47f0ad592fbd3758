#include "startup/calibration_actions.h"

#include <QFile>
#include <cstdio>

#include "record/recording_format.h"
#include "record/recording_ranges.h"
#include "startup/console_line.h"

namespace glove {

int calibrateFromRecording(const SettingsFile& file, const CommandLine& options) {
    calibration::Ranges ranges{};
    try {
        ranges = record::rangesOfRecording(options.calibrateFrom);
    } catch (const record::BadRecording& e) {
        sayLine(stderr, QStringLiteral("glove-monitor: cannot calibrate from a file that is not a "
                                       "recording: %1; the calibration kept before stays")
                            .arg(QString::fromStdString(e.what())));
        return 2;
    }
    if (!calibration::calibratesAnything(ranges)) {
        sayLine(stderr,
                QStringLiteral("glove-monitor: cannot calibrate from %1: no value moved %2 "
                               "or more; the calibration kept before stays")
                    .arg(QFile::decodeName(QByteArray::fromStdString(options.calibrateFrom)))
                    .arg(calibration::kLeastSpan));
        return 2;
    }
    const QString device = calibrationDevice(deviceInForce(options));
    if (const QString problem = keepCalibration(file, device, ranges); !problem.isEmpty()) {
        sayLine(stderr, QStringLiteral("glove-monitor: ") + problem);
        return 1;
    }
    sayLine(stdout, QStringLiteral("%1 for %2, from %3; kept in %4:")
                        .arg(QString::fromStdString(calibration::describe(ranges)), device,
                             QFile::decodeName(QByteArray::fromStdString(options.calibrateFrom)),
                             file.path()));
    sayLine(stdout, QString::fromStdString(calibration::formatRanges(ranges)));
    return 0;
}

int forgetCalibration(const SettingsFile& file, const CommandLine& options) {
    const QString device = calibrationDevice(deviceInForce(options));
    try {
        sayLine(stdout,
                (file.keepCalibration(device, {}) ? QStringLiteral("Forgot the calibration "
                                                                   "of %1 in %2")
                                                  : QStringLiteral("No calibration of %1 was "
                                                                   "kept in %2"))
                    .arg(device, file.path()));
    } catch (const SettingsError& e) {
        sayLine(stderr, QStringLiteral("glove-monitor: cannot forget the calibration: %1")
                            .arg(QString::fromStdString(e.what())));
        return 1;
    }
    return 0;
}

QString keepCalibration(const SettingsFile& file, const QString& device,
                        const calibration::Ranges& ranges) {
    try {
        file.keepCalibration(device, QString::fromStdString(calibration::formatRanges(ranges)));
    } catch (const SettingsError& e) {
        return QStringLiteral("cannot keep the calibration: %1")
            .arg(QString::fromStdString(e.what()));
    }
    return {};
}

}  // namespace glove
