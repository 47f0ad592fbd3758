#pragma once

#include <QObject>
#include <QSet>
#include <algorithm>
#include <chrono>
#include <memory>

#include "acquisition/line_settings.h"
#include "acquisition/serial_control.h"
#include "common/glove_frame.h"

namespace glove {

class PosixSerialLine;

// Maps a port number to its device: port 2 is /dev/ttyS1.
QString devicePathForPort(int number);

// The serial port control on the window. Underneath, the device stays open from the
// first open until the program ends: closing the port closes it for the program only,
// and characters that arrive meanwhile wait in a bounded receive buffer for the next
// open. A device that fails is closed at once; the next open opens it afresh.
class MSComm final : public QObject, public SerialControl {
    Q_OBJECT
    Q_PROPERTY(int CommPort READ commPort WRITE setCommPort)
    Q_PROPERTY(QString Settings READ settings WRITE setSettings)
    Q_PROPERTY(int InputLen READ inputLen WRITE setInputLen)
    Q_PROPERTY(bool PortOpen READ portOpen WRITE setPortOpen)
    Q_PROPERTY(int RThreshold READ rThreshold WRITE setRThreshold)
    Q_PROPERTY(int InBufferCount READ inBufferCount)

  public:
    static constexpr qint64 kReceiveBufferSize = 4096;
    static constexpr int kHighestPort = 255;

    // An empty device path means the device of the CommPort number.
    explicit MSComm(QString devicePath = {}, QObject* parent = nullptr);
    ~MSComm() override;

    [[nodiscard]] int commPort() const { return commPort_; }
    void setCommPort(int number) override;
    [[nodiscard]] QString settings() const { return settingsText_; }
    void setSettings(const QString& settings) override;
    [[nodiscard]] int inputLen() const { return inputLen_; }
    void setInputLen(int characters) override;
    [[nodiscard]] bool portOpen() const override { return programOpen_; }
    void setPortOpen(bool open) override;
    // At most InputLen characters, or fewer once after limitNextInput().
    QByteArray input() override;
    // The next read that returns characters returns at most this many; 0 lifts the limit.
    // The paced yield takes only the rest of a cut frame this way.
    void limitNextInput(int characters) { nextInputLimit_ = std::max(characters, 0); }

    // Received characters raise OnComm once this many wait; 0, the default, never.
    [[nodiscard]] int rThreshold() const { return rThreshold_; }
    void setRThreshold(int characters);

    // Opens the device underneath if it is not open, without opening the port for the
    // program, so that characters are received before the next read; false if it cannot be
    // opened now (reported once, as when the port is opened).
    bool receive();

    // Characters waiting in the receive buffer, whether the port is open for the program or not.
    [[nodiscard]] int inBufferCount() const;
    // While off, arriving characters wait in the system and raise nothing, so that a reader
    // who knows when a frame is complete sleeps until then. What came meanwhile is taken in
    // by takeInWaiting(), by a read that needs it, or, once watched again, when the program
    // next handles its events.
    void watchArrivals(bool on);
    // Takes into the receive buffer what the system holds now; it arrives at once.
    void takeInWaiting();
    // The time InputLen characters take on the line at the current settings.
    [[nodiscard]] std::chrono::nanoseconds frameTime() const { return lineTime(inputLen_); }
    [[nodiscard]] std::chrono::nanoseconds lineTime(int characters) const {
        return settings_.timeFor(characters);
    }
    [[nodiscard]] QString devicePath() const;
    // What keeps the device from working, in words that say what to do; empty while it works.
    [[nodiscard]] const QString& problem() const { return problem_; }

  signals:
    // The problem changed: a new one, or none (empty) once the device opens again.
    void problemChanged(const QString& problem);
    void OnComm();
    void charactersArrived();
    // Every read that returned characters, whoever made it.
    void charactersRead(const QByteArray& characters);

  private:
    void openDevice();
    void closeDevice();
    void deviceFailed(const QString& reason);
    void reportOnce(const QString& kind, const QString& message);
    void setProblem(const QString& problem);

    std::unique_ptr<PosixSerialLine> line_;
    QString devicePath_;
    int commPort_ = 1;
    QString settingsText_ =
        QString::fromLatin1(kGloveSettings.data(), static_cast<qsizetype>(kGloveSettings.size()));
    LineSettings settings_;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int nextInputLimit_ = 0;
    bool programOpen_ = false;
    bool failed_ = false;  // the device failed; it is closed and reopened at the next open
    QSet<QString> reported_;
    QString problem_;
};

}  // namespace glove
