#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "frame_maker.h"
#include "replay.h"

namespace glove_sim {

// A mistake in how the program was called; reported in one line, exit status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct SimOptions {
    StreamSettings stream;
    std::uint32_t baud = glove::kGloveBaud;
    bool burst = false;
    // Frames start this many times a second at most, the line idle between them; none: as
    // fast as the line carries them.
    std::optional<double> framesPerSecond;
    std::optional<std::uint64_t> frameLimit;
    std::optional<std::int64_t> runNanos;
    std::string devicePath;  // empty: make a pseudo-terminal
    std::string linkPath;    // empty: no link
    // Postures scenario: where it tells which posture the hand holds from when; empty: stderr.
    std::string postureLogPath;
    // Set: play this recording instead of a scenario.
    std::optional<ReplaySettings> replay;
};

struct CommandLine {
    SimOptions options;
    bool helpRequested = false;
    std::string helpText;
    bool versionRequested = false;
};

// Throws UsageError for anything it cannot make sense of.
CommandLine parseCommandLine(const QStringList& arguments);

}  // namespace glove_sim
