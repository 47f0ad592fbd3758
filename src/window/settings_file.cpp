#include "window/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/printable_text.h"

namespace glove {

namespace {

// Far more than any settings file needs: a larger file, or a device at the path, is not
// one, and is not read into memory.
constexpr qint64 kMaxFileSize = 64 * 1024;

const SavedOption* savedOption(const QString& key) {
    const auto* found = std::find_if(kSavedOptions.begin(), kSavedOptions.end(),
                                     [&](const SavedOption& o) { return o.name == key; });
    return found == kSavedOptions.end() ? nullptr : found;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
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
            throw SettingsError(
                QStringLiteral("cannot create %1: %2").arg(d, systemError(errno)).toStdString());
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

QString SettingsFile::standardPath() {
    // A relative XDG_CONFIG_HOME is not valid and is ignored, as desktops do.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/glove-monitor/glove-monitor.conf");
}

SavedSettings SettingsFile::read() const {
    SavedSettings saved{.path = path_, .values = {}, .problems = {}};
    const auto unreadable = [&](const QString& reason) {
        saved.problems
            << QStringLiteral("%1: cannot be read: %2; the defaults are used").arg(path_, reason);
        return saved;
    };
    const QFileInfo file(path_);
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
    struct QuietToolkit {
        QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        ~QuietToolkit() { qInstallMessageHandler(previous); }
        QuietToolkit() = default;
        QuietToolkit(const QuietToolkit&) = delete;
        QuietToolkit& operator=(const QuietToolkit&) = delete;
    } quiet;
    const QSettings settings(path_, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError) {
        return unreadable(QStringLiteral("permission denied"));
    }
    if (settings.status() == QSettings::FormatError) {
        return unreadable(QStringLiteral("not in INI format"));
    }
    for (const QString& key : settings.allKeys()) {
        const SavedOption* option = savedOption(key);
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
    refuseLink("written through");
    const QString dir = QFileInfo(path_).absolutePath();
    makeDirectories(dir);
    const auto failed = [&](const QString& reason) {
        return SettingsError(
            QStringLiteral("cannot write %1: %2").arg(path_, reason).toStdString());
    };
    // Created for the owner only, in the same directory, so that the rename is atomic.
    QTemporaryFile next(dir + QStringLiteral("/.glove-monitor.conf.XXXXXX"));
    if (!next.open()) throw failed(next.errorString());
    next.close();
    {
        QSettings settings(next.fileName(), QSettings::IniFormat);
        for (const SavedOption& option : kSavedOptions) {
            const auto found = values.find(option.name);
            if (found == values.end()) continue;
            if (option.repeatable) {
                settings.setValue(option.name, *found);
            } else {
                settings.setValue(option.name, found->last());
            }
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) throw failed(QStringLiteral("write failed"));
    }
    // On disk before it takes the path's place: a failure here is a failed save, not a
    // success that a power cut would undo.
    const int fd = ::open(QFile::encodeName(next.fileName()).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        throw failed(systemError(error));
    }
    ::close(fd);
    // rename() replaces a link that appeared at the path since; it never writes through it.
    if (std::rename(QFile::encodeName(next.fileName()).constData(),
                    QFile::encodeName(path_).constData()) != 0) {
        throw failed(systemError(errno));
    }
    next.setAutoRemove(false);
    syncDirectory(dir);
}

bool SettingsFile::remove() const {
    refuseLink("removed");
    if (::unlink(QFile::encodeName(path_).constData()) == 0) return true;
    if (errno == ENOENT) return false;
    throw SettingsError(
        QStringLiteral("cannot remove %1: %2").arg(path_, systemError(errno)).toStdString());
}

QString SettingsFile::text() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.read(kMaxFileSize));
}

}  // namespace glove
