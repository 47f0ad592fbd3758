#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "midi/midi_port.h"
#include "posture/posture_watch.h"

namespace glove::midi {

inline constexpr int kChannels = 16;
// Controllers 120 and up are the channel mode messages (all notes off and the like).
inline constexpr int kHighestController = 119;
inline constexpr int kFirstController = 20;
inline constexpr int kVelocity = 100;
// How often a port that failed is tried again.
inline constexpr std::chrono::seconds kRetryTime{2};

// Value n's controller at n - calibration::kFirstValue.
using Controllers = std::array<int, calibration::kValueCount>;

constexpr Controllers defaultControllers() {
    Controllers controllers{};
    for (int i = 0; i < calibration::kValueCount; ++i) controllers[i] = kFirstController + i;
    return controllers;
}

struct MidiSettings {
    bool enabled = false;
    std::optional<Api> api;  // none: defaultApi()
    int channel = 1;         // 1 to kChannels
    Controllers controllers = defaultControllers();
};

using Message = std::array<std::uint8_t, 3>;
Message controlChange(int channel, int controller, int value);
Message noteOn(int channel, int note);
Message noteOff(int channel, int note);

// The controller value to send for `reading`, 0 to 127 from its place in its range, given the
// value sent last: none for a range that is not calibrated, none while the place stays within a
// step of that value, or within one and a half readings of it on a range so narrow that a reading
// is more than a step, so that a sensor flickering by a reading sends nothing. The ends, 0 and 127,
// are always reached.
std::optional<int> controllerChange(calibration::Range range, int reading, std::optional<int> sent);

// Plays the glove on a MIDI port: each calibrated value 2 to 10 as a control change when it
// changes, and the posture held as its own note, sounding while it is held. A note that was
// started is ended whatever happens: the posture ends, the glove is unplugged, the port goes
// away, or the program ends. A port that fails is said on stderr, once each time, and tried
// again.
class MidiOutput final : public FrameFeed {
  public:
    using Clock = std::chrono::steady_clock;

    // `port` is opened here and outlives this output; so does the calibrator.
    MidiOutput(MidiPort& port, const calibration::Calibrator& calibrator, int channel = 1,
               const Controllers& controllers = defaultControllers());
    MidiOutput(const MidiOutput&) = delete;
    MidiOutput& operator=(const MidiOutput&) = delete;
    // Ends every note sounding, and says how many events were dropped.
    ~MidiOutput() override;

    // Where the posture held is found; it outlives this output and takes each frame first.
    void usePostures(const posture::PostureWatch& postures) { postures_ = &postures; }

    void frameRead(std::span<const Frame> lines) noexcept override;
    // A frame at a time of the caller's choosing, for tests.
    void frameRead(const Frame& frame, Clock::time_point now) noexcept;
    // The text box's new text: " No Device Found" means the glove is gone, and ends its note.
    void textShown(const std::string& text) noexcept;

    [[nodiscard]] long dropped() const { return dropped_; }

  private:
    // Whether the port can take messages now; opens it again once it can.
    bool portReady(Clock::time_point now);
    bool send(const Message& message);
    // Ends each note sounding but the one wanted; a note off that is refused stays sounding,
    // to be tried again.
    void endNotes();
    // The first fault of each time the port is down, and the first refusal of each port opened.
    void report(bool& said, const std::string& line);

    MidiPort& port_;
    const calibration::Calibrator& calibrator_;
    const posture::PostureWatch* postures_ = nullptr;
    const int channel_;
    const Controllers controllers_;
    std::array<std::optional<int>, calibration::kValueCount> sent_{};
    std::optional<int> wanted_;  // the note of the posture held
    std::set<int> sounding_;     // notes whose note on went out with no note off since
    bool open_ = false;
    std::optional<Clock::time_point> lastTry_;
    bool downSaid_ = false;
    bool refusalSaid_ = false;
    long dropped_ = 0;
};

}  // namespace glove::midi
