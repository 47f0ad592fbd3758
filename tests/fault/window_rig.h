#pragma once

#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "window/glove_window.h"

namespace glove::fault {

// The real window, off screen, with Exit recorded instead of ending the process, and
// every text its text box showed.
class WindowRig {
  public:
    WindowRig(const QString& device, const std::string& exchangePath);
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    // Presses Connect and, while the loop runs, works through the stages in order: each
    // is called from the window's event loop until it returns true. The press returns
    // when Exit or a close ends the loop; if the stages are not done by the deadline,
    // the window is closed and false returned.
    bool connectAndRun(std::vector<std::function<bool()>> stages, std::chrono::seconds deadline);

    // Descriptors of this process open on the path or on its next content.
    [[nodiscard]] int descriptorsOn(const std::string& path) const;

    int ended = 0;
    QStringList shown;
    GloveWindow window;
    QMetaObject::Connection recording;  // keeps `shown`; a long run may cut it
};

// Sends a frame with a running count to a pseudo-terminal at a glove's pace.
class FrameStream {
  public:
    explicit FrameStream(std::function<void(const QByteArray&)> send);
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    // The frame sent as number n, and the text the window shows for it.
    static QByteArray frame(int n);
    static QString textOf(int n);
    [[nodiscard]] int sent() const { return sent_; }

  private:
    std::function<void(const QByteArray&)> send_;
    QTimer timer_;
    int sent_ = 0;
};

}  // namespace glove::fault
