#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "midi/midi_port.h"

class RtMidiOut;

namespace glove::midi {

class JackOut;

// A virtual output port: on the ALSA sequencer through RtMidi, on JACK as a client of its own.
// Its own thread opens it, and closes a port whose MIDI system went away, as either can take a
// second; the caller's thread only sends.
class RtMidiPort final : public MidiPort {
  public:
    explicit RtMidiPort(Api api, std::string name = std::string(kPortName));
    RtMidiPort(const RtMidiPort&) = delete;
    RtMidiPort& operator=(const RtMidiPort&) = delete;
    // Waits for an open under way, and up to a second for the messages sent to go out.
    ~RtMidiPort() override;

    void open() noexcept override;
    Status status() noexcept override;
    bool send(std::span<const std::uint8_t> message) noexcept override;

  private:
    struct Opened;
    void run(const std::stop_token& stop);

    const Api api_;
    const std::string name_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    bool openWanted_ = false;
    State state_ = State::Closed;
    std::string fault_;
    std::unique_ptr<RtMidiOut> out_;
    std::unique_ptr<JackOut> jack_;
    bool refused_ = false;  // set by RtMidi's error callback during a send
    std::jthread thread_;   // last: it stops and joins before the members it uses go
};

}  // namespace glove::midi
