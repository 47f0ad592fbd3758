#include "record/recorder.h"

#include <QtDebug>
#include <ctime>

#include "record/recording_format.h"

namespace glove::record {

Recorder::Recorder(RecordingFile file, Clock::time_point programStart)
    : file_(std::move(file)), programStart_(programStart) {
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushInterval);
    QObject::connect(&flushTimer_, &QTimer::timeout, [this] { flush(); });
}

Recorder::Recorder(Folder folder, Clock::time_point programStart)
    : Recorder(RecordingFile(), programStart) {
    folder_ = std::move(folder.path);
}

Recorder::~Recorder() {
    flush();
}

void Recorder::frameRead(std::span<const Frame> lines) noexcept {
    if (lines.empty()) return;
    if (!file_.isOpen() && !folder_.empty()) {
        try {
            file_ = RecordingFile::create(std::exchange(folder_, {}), std::time(nullptr));
        } catch (const std::system_error& e) {
            report(QStringLiteral("cannot record: %1").arg(QString::fromLocal8Bit(e.what())));
        } catch (const std::bad_alloc&) {
            report(QStringLiteral("cannot record: out of memory"));
        }
    }
    if (!file_.isOpen()) return;
    const Clock::time_point now = Clock::now();
    timespec wallTime{};
    clock_gettime(CLOCK_REALTIME, &wallTime);
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - programStart_);
    try {
        if (pending_.empty()) {
            pendingSince_ = now;
            flushTimer_.start();
        }
        // The first line is the frame as read; the others are its further rotations.
        pending_ += formatRow(wallTime, elapsed.count(), lines.front());
    } catch (const std::bad_alloc&) {
        // No memory for a row: it is lost, the rows kept so far are not.
    }
    // The timer only runs when the window handles its events: do not count on it alone.
    if (now - pendingSince_ >= kFlushInterval) flush();
}

void Recorder::flush() noexcept {
    flushTimer_.stop();
    if (pending_.empty()) return;
    if (const std::error_code error = file_.append(pending_)) {
        report(QStringLiteral("recording to %1 stopped: %2")
                   .arg(QString::fromStdString(file_.path()),
                        QString::fromStdString(error.message())));
    }
    pending_.clear();
}

void Recorder::report(const QString& problem) {
    qWarning().noquote() << "glove-monitor:" << problem;
}

}  // namespace glove::record
