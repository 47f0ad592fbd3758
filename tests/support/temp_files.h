#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <string>

namespace glove::test {

// A fresh directory for one test's exchange file, removed with the test.
class TempDir {
  public:
    [[nodiscard]] std::string path(const char* name = "InputFile") const {
        return QFile::encodeName(dir_.filePath(QString::fromLatin1(name))).toStdString();
    }
    [[nodiscard]] QString dir() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
};

inline QByteArray readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline void writeAll(const std::string& path, const QByteArray& content) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace glove::test
