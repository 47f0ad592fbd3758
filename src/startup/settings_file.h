#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace glove {

// Option name to its values as text, as given on the command line or kept in the file.
using OptionValues = QMap<QString, QStringList>;
// Device path to the text of the calibration kept for that device.
using Calibrations = QMap<QString, QString>;
// Device path to the text of the postures kept for that device (posture::formatPostures).
using PostureTexts = QMap<QString, QString>;

// What a settings file holds: the values of the options it keeps, and one line for each
// key it could not give (or the whole file), naming the file, the key and the reason.
struct SavedSettings {
    QString path;
    OptionValues values;
    QStringList problems;
    bool found = false;  // something is at the path, readable or not
    Calibrations calibrations;
    PostureTexts postures;
    bool unreadable = false;  // something is there, but not a settings file that can be read
};

// The path a device's calibration is kept under: absolute and clean, so that one device has
// one calibration however it was named.
QString calibrationDevice(const QString& device);
// The file's key for the calibration of `device` (as calibrationDevice gives it): the path
// below "calibration", which the INI file writes with backslashes for slashes and reads back.
QString calibrationKey(const QString& device);
// The same for the postures of `device`, below "postures".
QString postureKey(const QString& device);

// One line about one key of the settings file at `path`.
QString settingProblem(const QString& path, QStringView key, const QString& reason);

// A settings file that cannot be written or removed; what() says why, in one line.
class SettingsError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The settings file, in INI format: one key per option that --save-settings keeps. It is read
// through a symbolic link, as a person may keep it elsewhere, but never written or removed through
// one.
class SettingsFile {
  public:
    explicit SettingsFile(QString path) : path_(std::move(path)) {}

    // $XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf, ~/.config without it; NAME.conf there
    // for a set of settings named so (see isSettingsName).
    static QString standardPath(const QString& name = {});

    [[nodiscard]] const QString& path() const { return path_; }

    // No file gives no values and no problems; a file that cannot be read gives one problem.
    [[nodiscard]] SavedSettings read() const;

    // Replaces the file with one that holds `values`, readable only by its owner; the old
    // file stays whole until the new one is complete. Creates the directories it needs. The
    // calibrations and postures the file keeps stay.
    void write(const OptionValues& values) const;

    // Forgets the options; the calibrations and postures the file keeps stay. False when
    // there was no file.
    bool remove() const;

    // Keeps `text` as the calibration of `device` (calibrationDevice), or forgets it when
    // `text` is empty; the options and the other devices' calibrations stay. A file that
    // cannot be read is left as it is: SettingsError. False when there was none to forget.
    bool keepCalibration(const QString& device, const QString& text) const;
    // The same for the postures of `device`, as posture::formatPostures writes them.
    bool keepPostures(const QString& device, const QString& text) const;

    // The file's text as it is now.
    [[nodiscard]] QString text() const;

  private:
    void refuseLink(const char* doing) const;
    // The file with `values`, and the calibrations and postures of `kept`.
    void replace(const OptionValues& values, const SavedSettings& kept) const;
    bool keep(PostureTexts SavedSettings::*group, const QString& device, const QString& text) const;

    QString path_;
};

}  // namespace glove
