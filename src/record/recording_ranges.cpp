#include "record/recording_ranges.h"

#include "common/printable_text.h"
#include "record/recording_format.h"

namespace glove::record {

calibration::Ranges rangesOfRecording(const std::string& path) {
    const Recording recording = readRecording(path);
    if (recording.rows.empty())
        throw BadRecording(printableText(path) + ": no frames to calibrate from");
    calibration::RangeCollector collector;
    for (const Row& row : recording.rows) collector.add(row.values);
    return collector.ranges();
}

}  // namespace glove::record
