#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glove::midi {

// The name other programs see the port by, as client and as port.
inline constexpr std::string_view kPortName = "Glove Monitor";

// The MIDI systems a port can be opened on.
enum class Api { Alsa, Jack };

// "alsa" or "jack", as the command line takes them.
std::string_view apiName(Api api);
std::optional<Api> parseApi(std::string_view name);
// The ALSA sequencer where this machine has one, else JACK.
Api defaultApi();

// A MIDI output port that other programs connect to. Opening can wait on the MIDI system, so
// it happens away from the caller; sending never waits.
class MidiPort {
  public:
    enum class State { Closed, Opening, Open, Failed };
    struct Status {
        State state = State::Closed;
        std::string fault;  // why it is Failed, as one line
    };

    virtual ~MidiPort() = default;

    // Starts opening a port that is closed or failed, and returns at once.
    virtual void open() noexcept = 0;
    // Where the port stands: a port whose MIDI system went away reads as Failed.
    virtual Status status() noexcept = 0;
    // Queues one message on an open port; false when it did not go out (the port is not open,
    // or the MIDI system refused it because the receiver is not taking events in).
    virtual bool send(std::span<const std::uint8_t> message) noexcept = 0;
};

}  // namespace glove::midi
