#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "midi/midi_port.h"

class RtMidiOut;

namespace glove::midi {

class JackOut;

// A virtual output port: on the ALSA sequencer through RtMidi, on JACK as a client of its own.
// Its own thread opens it, and closes a port whose MIDI system went away, as either can take a
// second, or forever on a JACK server that stalls; the caller's thread only sends.
class RtMidiPort final : public MidiPort {
  public:
    explicit RtMidiPort(Api api, std::string name = std::string(kPortName));
    RtMidiPort(const RtMidiPort&) = delete;
    RtMidiPort& operator=(const RtMidiPort&) = delete;
    // Closes the port, letting up to a second go for the messages sent to go out; a MIDI
    // system that does not answer is left behind after kCloseTime, so the program can end.
    ~RtMidiPort() override;

    void open() noexcept override;
    Status status() noexcept override;
    bool send(std::span<const std::uint8_t> message) noexcept override;

    static constexpr std::chrono::milliseconds kCloseTime{1500};

  private:
    // What the port's thread uses, shared with it: the thread may outlive the port.
    struct Shared;
    static void run(Shared& shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace glove::midi
