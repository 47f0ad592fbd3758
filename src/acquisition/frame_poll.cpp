#include "acquisition/frame_poll.h"

#include <QtDebug>
#include <algorithm>
#include <optional>

#include "acquisition/frame_feed.h"
#include "acquisition/serial_control.h"
#include "common/run_time_error.h"
#include "exchange/files.h"

namespace glove {

std::vector<Frame> alignedLines(const Frame& values) {
    std::vector<Frame> lines;
    for (auto marker = values.begin(); marker != values.end(); ++marker) {
        if (*marker != kFrameMarker) continue;
        std::ranges::rotate_copy(values, marker, lines.emplace_back().begin());
    }
    return lines;
}

void FramePoll::run() {
    try {
        comm_.setPortOpen(true);
    } catch (const RunTimeError& e) {
        if (e.number() != ErrorNumber::PortAlreadyOpen) {
            // The device is missing, busy or refused us: the port delivered nothing, and
            // DataF says so rather than holding on to the last frame as if it were live.
            dataF_.clear();
            return;
        }
        // An empty read left the port open. If closing it fails, that error is the caller's.
        comm_.setPortOpen(false);
    }
    std::optional<Frame> values;
    try {
        values = readFrame();
        if (feed_ && values) {
            const std::vector<Frame> lines = alignedLines(*values);
            if (!lines.empty()) feed_->frameRead(lines);
        }
    } catch (const RunTimeError&) {
        return;  // a short read leaves the poll; the exchange file keeps its lines
    }
    try {
        writeExchangeFile(values);
    } catch (const RunTimeError& e) {
        // Any error but "already open" leaves the poll as the failing step left things.
        if (e.number() != ErrorNumber::FileAlreadyOpen) return exchangeFileFailed(e);
        // The exchange file is still open, by an interrupted poll or by the loop's read-back
        // whose read has failed. Closing file number 0 releases every handle, and the frame
        // just taken from the port is written after all instead of being lost.
        files_.close(Files::kAllFiles);
        try {
            writeExchangeFile(values);
        } catch (const RunTimeError& again) {
            return exchangeFileFailed(again);  // the next poll writes again
        }
    }
    // Written: a later problem is a new one, and is said again.
    exchangeFileProblemSaid_ = false;
}

void FramePoll::exchangeFileFailed(const RunTimeError& e) {
    // A write that failed part-way (a full disk) would leave file number 1 open; then the
    // read-back fails on "already open" and its extra poll, which reads nothing, puts an
    // empty file in place of the last frame. Closed now, the failed content is discarded
    // and the file keeps its last lines whole.
    try {
        files_.close(exchange::kWriterFileNumber);
    } catch (const RunTimeError&) {
        // Nothing of it reached the path; the report below covers it.
    }
    // The user has to mend the path (a link or another user's file there, a missing
    // directory, a full disk), so it is said once, not 48 times a second; the poll goes
    // on trying and writes again by itself once it can.
    if (exchangeFileProblemSaid_) return;
    exchangeFileProblemSaid_ = true;
    qWarning().noquote() << QStringLiteral(
                                "glove-monitor: cannot write the exchange file: %1 (error %2); "
                                "it is written again as soon as it can be")
                                .arg(QString::fromStdString(e.what()))
                                .arg(static_cast<int>(e.number()));
}

std::optional<Frame> FramePoll::readFrame() {
    dataF_ = comm_.input();
    if (dataF_.isEmpty()) return std::nullopt;
    comm_.setPortOpen(false);
    Frame codes{};
    for (int i = 0; i < kFrameLength; ++i) {
        if (i >= dataF_.size()) {
            // A short read: the character past the end is empty and has no code.
            throw RunTimeError(ErrorNumber::InvalidArgument, "Invalid procedure call or argument");
        }
        codes[i] = static_cast<unsigned char>(dataF_[i]);
    }
    return codes;
}

void FramePoll::writeExchangeFile(const std::optional<Frame>& values) {
    files_.openForOutput(exchange::kWriterFileNumber, exchangePath_);
    if (values) {
        for (const Frame& line : alignedLines(*values)) {
            files_.writeLine(exchange::kWriterFileNumber, exchange::formatLine(line));
        }
    }
    files_.close(exchange::kWriterFileNumber);
}

}  // namespace glove
