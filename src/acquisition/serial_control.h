#pragma once

#include <QByteArray>
#include <QString>

namespace glove {

// What the program asks of the serial port control: the port number, the line
// settings, the most characters one read returns, opening and closing, and reading.
class SerialControl {
  public:
    virtual ~SerialControl() = default;

    virtual void setCommPort(int number) = 0;
    virtual void setSettings(const QString& settings) = 0;
    virtual void setInputLen(int characters) = 0;
    // Opening an open port fails with 8005.
    virtual void setPortOpen(bool open) = 0;
    [[nodiscard]] virtual bool portOpen() const = 0;
    // What waits in the receive buffer, at most InputLen characters; never blocks.
    virtual QByteArray input() = 0;
};

}  // namespace glove
