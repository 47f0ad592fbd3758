#pragma once

#include <termios.h>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

#include "acquisition/line_settings.h"

class QSocketNotifier;

namespace glove {

// A serial device opened for reading through termios: raw, exclusive, and with a bounded
// receive buffer of its own.
//
// The program may stop watching the line for a while (setWatching(false)): characters then
// wait in the system and nothing wakes the program for them. A glove sends a frame character
// by character; the reader that knows how long the rest of a frame takes on the line sleeps
// that long and takes the frame in at once, instead of waking for every character. The
// system wakes a reader that polls the device at each character even when told to hold
// characters back for a minimum count, so not polling is the only way to sleep through them.
class PosixSerialLine final : public QObject {
    Q_OBJECT

  public:
    struct OpenFailure {
        enum class Kind {
            Missing,  // nothing behind the path
            Denied,   // the user may not read the device
            Held,     // another program holds it
            Other,
        };
        Kind kind = Kind::Other;
        QString reason;
    };

    explicit PosixSerialLine(qsizetype bufferLimit, QObject* parent = nullptr);
    PosixSerialLine(const PosixSerialLine&) = delete;
    PosixSerialLine& operator=(const PosixSerialLine&) = delete;
    ~PosixSerialLine() override;

    // Opens `path` at `settings`, dropping what waited on the line before; what went wrong if
    // it cannot.
    std::optional<OpenFailure> open(const QString& path, const LineSettings& settings);
    // Gives the device back as it was found and drops what waits in the buffer.
    void close();
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    // New settings for an open device; a device that refuses them has failed.
    void apply(const LineSettings& settings);

    // Takes in what the system holds now, as far as the buffer has room.
    void takeIn();
    void setWatching(bool on);

    [[nodiscard]] qsizetype bytesAvailable() const { return buffer_.size(); }
    // At most `most` characters from the buffer; all of them for 0.
    QByteArray read(qsizetype most);

  signals:
    // Characters came into the buffer.
    void arrived();
    // The device hung up or cannot be read; it stays quiet until it is closed.
    void failed(const QString& reason);

  private:
    void updateNotifier();
    void fail(const QString& reason);

    int fd_ = -1;
    qsizetype bufferLimit_;
    QByteArray buffer_;
    bool watching_ = true;
    bool failed_ = false;
    termios found_{};  // the device's settings before we opened it
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace glove
