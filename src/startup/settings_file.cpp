#include "startup/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryFile>
#include <cerrno>

#include "common/printable_text.h"
#include "common/system_error_text.h"
#include "startup/command_line.h"

namespace glove {

namespace {

// Far more than any settings file needs (the most postures of one device, with the longest
// names and their notes, take about 22 KiB): a larger file, or a device at the path, is not
// one, and is not read into memory. Nothing larger is written, as it could not be read back.
constexpr qint64 kMaxFileSize = 1024 * 1024;

// The option that the file keeps under `key`, or null.
const Option* keptOption(const QString& key) {
    const Option* option = findOption(key);
    return option == nullptr || option->kept == Option::Kept::No ? nullptr : option;
}

SettingsError cannotWrite(const QString& path, const QString& reason) {
    return SettingsError(QStringLiteral("cannot write %1: %2").arg(path, reason).toStdString());
}

constexpr QLatin1StringView kCalibrationGroup("calibration");
constexpr QLatin1StringView kPostureGroup("postures");

// The INI text of `values` and of the calibrations and postures of `kept`, as the toolkit
// writes it. The toolkit writes settings only to a file: a scratch one beside the settings
// file at `path`, readable by the owner only.
QByteArray iniText(const OptionValues& values, const SavedSettings& kept, const QString& path) {
    QTemporaryFile scratch(QFileInfo(path).absolutePath() +
                           QStringLiteral("/.glove-monitor.conf.XXXXXX"));
    if (!scratch.open()) throw cannotWrite(path, scratch.errorString());
    {
        QSettings settings(scratch.fileName(), QSettings::IniFormat);
        for (const auto& [name, list] : values.asKeyValueRange()) {
            const Option* option = keptOption(name);
            if (option == nullptr) continue;
            settings.setValue(name, option->repeatable ? QVariant(list) : QVariant(list.last()));
        }
        for (const auto& [device, text] : kept.calibrations.asKeyValueRange()) {
            settings.setValue(calibrationKey(device), text);
        }
        for (const auto& [device, text] : kept.postures.asKeyValueRange()) {
            settings.setValue(postureKey(device), text);
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            throw cannotWrite(path, QStringLiteral("write failed"));
        }
    }
    // The toolkit has put a new file in the scratch file's place: it is read by its name.
    QFile written(scratch.fileName());
    if (!written.open(QIODevice::ReadOnly)) throw cannotWrite(path, written.errorString());
    return written.readAll();
}

// Each directory that is missing, created for its owner only, as desktops expect of the
// configuration directories.
void makeDirectories(const QString& dir) {
    QStringList missing;
    for (QString d = QDir::cleanPath(dir); !QFileInfo::exists(d); d = QFileInfo(d).path()) {
        missing.prepend(d);
    }
    for (const QString& d : missing) {
        if (::mkdir(QFile::encodeName(d).constData(), 0700) != 0 && errno != EEXIST) {
            throw SettingsError(QStringLiteral("cannot create %1: %2")
                                    .arg(d, systemErrorText(errno))
                                    .toStdString());
        }
    }
}

// Makes the rename that put the file in place survive a power cut.
void syncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the file is in place already; only its durability is at stake
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

QString settingProblem(const QString& path, QStringView key, const QString& reason) {
    // Keys and values may hold control characters: the report stays one printable line.
    return QString::fromStdString(
        printableText(QStringLiteral("%1: %2: %3").arg(path, key, reason).toStdString()));
}

QString calibrationDevice(const QString& device) {
    return QDir::cleanPath(QFileInfo(device).absoluteFilePath());
}

QString calibrationKey(const QString& device) {
    return kCalibrationGroup + device;
}

QString postureKey(const QString& device) {
    return kPostureGroup + device;
}

QString SettingsFile::standardPath(const QString& name) {
    // A relative XDG_CONFIG_HOME is not valid and is ignored, as desktops do.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/glove-monitor/%1.conf")
                        .arg(name.isEmpty() ? QStringLiteral("glove-monitor") : name);
}

SavedSettings SettingsFile::read() const {
    SavedSettings saved;
    saved.path = path_;
    const auto unreadable = [&](const QString& reason) {
        saved.unreadable = true;
        saved.problems
            << QStringLiteral("%1: cannot be read: %2; the defaults are used").arg(path_, reason);
        return saved;
    };
    const QFileInfo file(path_);
    saved.found = file.exists() || file.isSymLink();
    if (!file.exists()) {
        return file.isSymLink() ? unreadable(QStringLiteral("a symbolic link that leads nowhere"))
                                : saved;
    }
    if (!file.isFile()) return unreadable(QStringLiteral("not a regular file"));
    if (file.size() > kMaxFileSize) {
        return unreadable(QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    }
    if (!file.isReadable()) return unreadable(QStringLiteral("permission denied"));

    // The toolkit's own warnings about a value it cannot decode would come on top of the one
    // line for that key.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    const QSettings settings(path_, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError) {
        return unreadable(QStringLiteral("permission denied"));
    }
    if (settings.status() == QSettings::FormatError) {
        return unreadable(QStringLiteral("not in INI format"));
    }
    for (const QString& key : settings.allKeys()) {
        const auto keptText = [&](QLatin1StringView group, PostureTexts& texts, const char* what) {
            const QVariant value = settings.value(key);
            if (value.typeId() == QMetaType::QString) {
                texts.insert(key.mid(group.size()), value.toString());
            } else {
                saved.problems << settingProblem(path_, key,
                                                 QStringLiteral("not %1; ignored").arg(what));
            }
        };
        if (key.startsWith(kCalibrationGroup + '/')) {
            keptText(kCalibrationGroup, saved.calibrations, "a calibration");
            continue;
        }
        if (key.startsWith(kPostureGroup + '/')) {
            keptText(kPostureGroup, saved.postures, "a set of postures");
            continue;
        }
        const Option* option = keptOption(key);
        if (option == nullptr) {
            saved.problems << settingProblem(path_, key,
                                             QStringLiteral("not a setting of glove-monitor; "
                                                            "ignored"));
            continue;
        }
        const QVariant value = settings.value(key);
        QStringList values;
        if (value.typeId() == QMetaType::QString) {
            values << value.toString();
        } else if (value.typeId() == QMetaType::QStringList) {
            values = value.toStringList();
        } else {
            saved.problems << settingProblem(path_, key,
                                             QStringLiteral("not text; the default is used"));
            continue;
        }
        if (!option->repeatable && values.size() != 1) {
            saved.problems << settingProblem(
                path_, key,
                QStringLiteral("%1 values where one is expected; the default is used")
                    .arg(values.size()));
            continue;
        }
        saved.values.insert(key, values);
    }
    return saved;
}

void SettingsFile::refuseLink(const char* doing) const {
    struct stat status {};
    if (::lstat(QFile::encodeName(path_).constData(), &status) == 0 && S_ISLNK(status.st_mode)) {
        throw SettingsError(QStringLiteral("%1 is a symbolic link; it is not %2")
                                .arg(path_, QString::fromLatin1(doing))
                                .toStdString());
    }
}

void SettingsFile::write(const OptionValues& values) const {
    replace(values, read());
}

void SettingsFile::replace(const OptionValues& values, const SavedSettings& kept) const {
    refuseLink("written through");
    const QString dir = QFileInfo(path_).absolutePath();
    makeDirectories(dir);
    const QByteArray text = iniText(values, kept, path_);
    if (text.size() > kMaxFileSize) {
        throw cannotWrite(path_, QStringLiteral("it would be larger than %1 bytes, which is "
                                                "more than a start reads")
                                     .arg(kMaxFileSize));
    }
    // The new file takes the path's place only when it is whole; the old one stays until then.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text) != text.size() || !file.flush()) {
        throw cannotWrite(path_, file.errorString());
    }
    // On disk before it takes the path's place: a failure here is a failed save, not a
    // success that a power cut would undo.
    if (::fsync(file.handle()) != 0) throw cannotWrite(path_, systemErrorText(errno));
    if (!file.commit()) throw cannotWrite(path_, file.errorString());
    syncDirectory(dir);
}

bool SettingsFile::remove() const {
    refuseLink("removed");
    if (const SavedSettings kept = read();
        !kept.calibrations.isEmpty() || !kept.postures.isEmpty()) {
        replace({}, kept);
        return true;
    }
    if (::unlink(QFile::encodeName(path_).constData()) == 0) return true;
    if (errno == ENOENT) return false;
    throw SettingsError(
        QStringLiteral("cannot remove %1: %2").arg(path_, systemErrorText(errno)).toStdString());
}

bool SettingsFile::keepCalibration(const QString& device, const QString& text) const {
    return keep(&SavedSettings::calibrations, device, text);
}

bool SettingsFile::keepPostures(const QString& device, const QString& text) const {
    return keep(&SavedSettings::postures, device, text);
}

bool SettingsFile::keep(PostureTexts SavedSettings::*group, const QString& device,
                        const QString& text) const {
    SavedSettings saved = read();
    if (saved.unreadable) throw SettingsError(saved.problems.join(' ').toStdString());
    const bool forgotten = text.isEmpty() && (saved.*group).remove(device) > 0;
    if (!text.isEmpty()) (saved.*group).insert(device, text);
    if (!text.isEmpty() || forgotten) replace(saved.values, saved);
    return forgotten;
}

QString SettingsFile::text() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.read(kMaxFileSize));
}

}  // namespace glove
