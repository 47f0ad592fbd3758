#include "window_rig.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "fault_rig.h"

namespace glove::fault {

namespace {

constexpr auto kGlovePace = std::chrono::milliseconds(15);  // a little faster than the line

}  // namespace

WindowRig::WindowRig(const QString& device, const std::string& exchangePath)
    : window({.device = device, .exchangePath = exchangePath, .endProgram = [this] { ++ended; }}) {
    recording = QObject::connect(window.Text1(), &QLineEdit::textChanged,
                                 [this](const QString& text) { shown << text; });
    window.show();
}

bool WindowRig::connectAndRun(std::vector<std::function<bool()>> stages,
                              std::chrono::seconds deadline) {
    std::size_t stage = 0;
    bool late = false;
    QElapsedTimer clock;
    clock.start();
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (stage < stages.size() && stages[stage]()) ++stage;
        if (clock.elapsed() > std::chrono::milliseconds(deadline).count() && !late) {
            late = true;
            window.close();  // a close always ends the loop
        }
    });
    driver.start(1);
    QTest::mouseClick(window.Command1(), Qt::LeftButton);
    // Stages left after the loop ended run from here, e.g. those after a failed Exit.
    while (stage < stages.size() && !late) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (clock.elapsed() > std::chrono::milliseconds(deadline).count()) late = true;
    }
    return !late;
}

int WindowRig::descriptorsOn(const std::string& path) const {
    // The path itself, or the hidden file that will be renamed over it.
    const std::filesystem::path file(path);
    const std::string temporary = "." + file.filename().string() + ".";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
        if (target == file || (target.parent_path() == file.parent_path() &&
                               target.filename().string().starts_with(temporary))) {
            ++count;
        }
    }
    return count;
}

FrameStream::FrameStream(std::function<void(const QByteArray&)> send) : send_(std::move(send)) {
    timer_.setInterval(kGlovePace);
    QObject::connect(&timer_, &QTimer::timeout, [this] { send_(frame(++sent_)); });
}

QByteArray FrameStream::frame(int n) {
    return plainFrame(n);
}

QString FrameStream::textOf(int n) {
    return valuesTextFor(frame(n));
}

}  // namespace glove::fault
