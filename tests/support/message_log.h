#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace glove::test {

// Collects what the program writes as warnings on stderr while it exists.
class MessageLog {
  public:
    MessageLog() {
        lines().clear();
        previous_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&,
                                              const QString& message) { lines().append(message); });
    }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;
    ~MessageLog() { qInstallMessageHandler(previous_); }

    [[nodiscard]] qsizetype count(const QString& fragment) const {
        return lines().filter(fragment).size();
    }
    [[nodiscard]] QString text() const { return lines().join('\n'); }

  private:
    static QStringList& lines() {
        static QStringList all;
        return all;
    }
    QtMessageHandler previous_ = nullptr;
};

}  // namespace glove::test
