#pragma once

#include <QTimer>
#include <chrono>
#include <span>
#include <string>

#include "acquisition/frame_feed.h"
#include "record/recording_file.h"

namespace glove::record {

// Writes every frame of the feed as one row of a recording. Rows are kept in memory for at
// most half a second, so that a process that dies loses at most that, and go out whole. A
// failure to write is reported once and ends the recording; the monitor goes on without it.
class Recorder final : public FrameFeed {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFlushInterval{500};

    // A folder whose new recording is made at the first frame, named after that moment, so
    // a run that reads nothing leaves nothing there.
    struct Folder {
        std::string path;
    };

    // `programStart` is when elapsed_ms is 0. Needs the application object (for its timer).
    Recorder(RecordingFile file, Clock::time_point programStart);
    Recorder(Folder folder, Clock::time_point programStart);
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    ~Recorder() override;

    void frameRead(std::span<const Frame> lines) noexcept override;
    // Writes out the rows kept so far; every way the program ends calls it.
    void flush() noexcept;
    [[nodiscard]] bool isRecording() const { return file_.isOpen() || !folder_.empty(); }

  private:
    void report(const QString& problem);

    RecordingFile file_;
    std::string folder_;  // where the file is still to be made; empty once it is, or cannot be
    Clock::time_point programStart_;
    std::string pending_;             // whole rows not yet written
    Clock::time_point pendingSince_;  // when the first of them came
    QTimer flushTimer_;
};

}  // namespace glove::record
