#pragma once

#include <string>

#include "calibration/ranges.h"

namespace glove::record {

// The ranges of a recording's frames, as a live calibration would take them from the same
// frames. Throws BadRecording when the file is not a recording or holds no frame.
calibration::Ranges rangesOfRecording(const std::string& path);

}  // namespace glove::record
