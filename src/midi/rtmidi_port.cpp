#include "midi/rtmidi_port.h"

#include <RtMidi.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace glove::midi {

namespace {

constexpr const char* kSequencer = "/dev/snd/seq";

// libjack writes every failure to reach a server on stderr, again at each retry; the port
// says what went wrong in one line of its own instead.
void quietJack() {
    static const bool quiet = [] {
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
        return true;
    }();
    (void)quiet;
}

}  // namespace

std::string_view apiName(Api api) {
    return api == Api::Alsa ? "alsa" : "jack";
}

std::optional<Api> parseApi(std::string_view name) {
    if (name == "alsa") return Api::Alsa;
    if (name == "jack") return Api::Jack;
    return std::nullopt;
}

Api defaultApi() {
    return access(kSequencer, F_OK) == 0 ? Api::Alsa : Api::Jack;
}

// A JACK client with one MIDI output port, fed through a queue of its own that never waits:
// RtMidi's JACK output spins until its queue has room, and a server that stalls, or stops
// running the client after a missed cycle, never makes any. Also learns when the server goes.
class JackOut {
  public:
    // Null, with `fault` set, when no server can be reached or the port cannot be made.
    static std::unique_ptr<JackOut> open(const std::string& name, std::string& fault) {
        quietJack();
        jack_status_t status{};
        jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (client == nullptr) {
            fault = (status & JackServerFailed) != 0 ? "no JACK server is running"
                                                     : "the JACK server refused a client (status " +
                                                           std::to_string(status) + ")";
            return nullptr;
        }
        auto out = std::unique_ptr<JackOut>(new JackOut(client));
        out->port_ =
            jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (out->port_ == nullptr || out->queue_ == nullptr) {
            fault = "the JACK server did not make the port";
            return nullptr;
        }
        jack_on_shutdown(
            client, [](void* self) { static_cast<JackOut*>(self)->gone_ = true; }, out.get());
        jack_set_process_callback(client, &JackOut::process, out.get());
        if (jack_activate(client) != 0) {
            fault = "the JACK server did not take a client in";
            return nullptr;
        }
        out->active_ = true;
        return out;
    }
    JackOut(const JackOut&) = delete;
    JackOut& operator=(const JackOut&) = delete;
    // The messages sent last go out before the port goes, unless the server stalls: the
    // queue empties, and the cycle that took the last of them in ends.
    ~JackOut() {
        const auto until = std::chrono::steady_clock::now() + kDrainTime;
        const auto waiting = [&] {
            return active_ && !gone_ && std::chrono::steady_clock::now() < until;
        };
        while (waiting() && jack_ringbuffer_read_space(queue_) > 0) {
            std::this_thread::sleep_for(kDrainPoll);
        }
        const unsigned long emptied = cycles_;
        while (waiting() && cycles_ < emptied + 2) std::this_thread::sleep_for(kDrainPoll);
        jack_client_close(client_);
        if (queue_ != nullptr) jack_ringbuffer_free(queue_);
    }

    [[nodiscard]] bool gone() const { return gone_; }

    // Queues a message for the next cycle; false when the queue is full, as the server has
    // not been taking them in.
    bool send(std::span<const std::uint8_t> message) {
        if (message.empty() || message.size() > kLongestMessage) return false;
        const auto size = static_cast<std::uint8_t>(message.size());
        if (jack_ringbuffer_write_space(queue_) < sizeof(size) + size) return false;
        jack_ringbuffer_write(queue_, reinterpret_cast<const char*>(&size), sizeof(size));
        jack_ringbuffer_write(queue_, reinterpret_cast<const char*>(message.data()), size);
        return true;
    }

  private:
    explicit JackOut(jack_client_t* client)
        : client_(client), queue_(jack_ringbuffer_create(kQueueSize)) {}

    // On the server's cycle: the queued messages into the port, as many as its buffer takes.
    static int process(jack_nframes_t frames, void* self) {
        auto& out = *static_cast<JackOut*>(self);
        void* buffer = jack_port_get_buffer(out.port_, frames);
        jack_midi_clear_buffer(buffer);
        std::uint8_t size = 0;
        while (jack_ringbuffer_peek(out.queue_, reinterpret_cast<char*>(&size), sizeof(size)) ==
                   sizeof(size) &&
               jack_ringbuffer_read_space(out.queue_) >= sizeof(size) + size) {
            jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, size);
            if (data == nullptr) break;  // the rest waits for the next cycle
            jack_ringbuffer_read_advance(out.queue_, sizeof(size));
            jack_ringbuffer_read(out.queue_, reinterpret_cast<char*>(data), size);
        }
        out.cycles_.fetch_add(1);
        return 0;
    }

    // About a second of the glove's controllers: a server that took none in for that long is
    // not taking events in, and the ones that come after would play too late.
    static constexpr std::size_t kQueueSize = 2048;
    static constexpr std::size_t kLongestMessage = 3;
    static constexpr auto kDrainTime = std::chrono::seconds(1);
    static constexpr auto kDrainPoll = std::chrono::milliseconds(1);

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* queue_;
    bool active_ = false;
    std::atomic<bool> gone_ = false;
    std::atomic<unsigned long> cycles_ = 0;
};

struct RtMidiPort::Shared {
    struct Opened {
        std::unique_ptr<RtMidiOut> out;
        std::unique_ptr<JackOut> jack;
        std::string fault;
    };

    const Api api;
    const std::string name;
    std::mutex mutex;
    std::condition_variable wake;
    bool openWanted = false;
    bool closeWanted = false;
    bool closed = false;
    State state = State::Closed;
    std::string fault;
    Opened port;
    bool refused = false;  // set by RtMidi's error callback during a send
};

RtMidiPort::RtMidiPort(Api api, std::string name)
    : shared_(std::make_shared<Shared>(api, std::move(name))),
      thread_([shared = shared_] { run(*shared); }) {}

RtMidiPort::~RtMidiPort() {
    std::unique_lock lock(shared_->mutex);
    shared_->closeWanted = true;
    shared_->wake.notify_all();
    if (shared_->wake.wait_for(lock, kCloseTime, [this] { return shared_->closed; })) {
        lock.unlock();
        thread_.join();
    } else {
        // The thread waits on the MIDI system still, and ends with the program.
        thread_.detach();
    }
}

void RtMidiPort::open() noexcept {
    const std::scoped_lock lock(shared_->mutex);
    if (shared_->state == State::Opening || shared_->state == State::Open) return;
    shared_->state = State::Opening;
    shared_->openWanted = true;
    shared_->wake.notify_all();
}

MidiPort::Status RtMidiPort::status() noexcept {
    Shared& s = *shared_;
    const std::scoped_lock lock(s.mutex);
    if (s.state == State::Open && s.port.jack && s.port.jack->gone()) {
        s.state = State::Failed;
        s.fault = "the JACK server stopped";
    }
    return {s.state, s.fault};
}

bool RtMidiPort::send(std::span<const std::uint8_t> message) noexcept {
    Shared& s = *shared_;
    const std::scoped_lock lock(s.mutex);
    if (s.state != State::Open) return false;
    if (s.port.jack) return !s.port.jack->gone() && s.port.jack->send(message);
    s.refused = false;
    try {
        s.port.out->sendMessage(message.data(), message.size());
    } catch (const RtMidiError&) {
        return false;
    }
    return !s.refused;
}

void RtMidiPort::run(Shared& s) {
    std::unique_lock lock(s.mutex);
    while (true) {
        s.wake.wait(lock, [&s] { return s.openWanted || s.closeWanted; });
        // A port whose system went away first, or the port at the end; its close can wait for
        // that system. The JACK port waits for the messages sent last to go out.
        Shared::Opened opened = std::move(s.port);
        s.port = {};
        lock.unlock();
        opened = {};
        lock.lock();
        if (s.closeWanted) break;
        s.openWanted = false;
        lock.unlock();
        if (s.api == Api::Jack) {
            opened.jack = JackOut::open(s.name, opened.fault);
        } else if (access(kSequencer, R_OK | W_OK) != 0) {
            opened.fault = std::string(errno == ENOENT ? "no ALSA sequencer on this machine"
                                                       : "cannot use the ALSA sequencer") +
                           " (" + kSequencer + ": " + std::strerror(errno) + ")";
        } else {
            try {
                opened.out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, s.name);
                // Once set, RtMidi reports through the callback instead of throwing.
                opened.out->setErrorCallback(
                    [](RtMidiError::Type, const std::string& text, void* fault) {
                        *static_cast<std::string*>(fault) = text;
                    },
                    &opened.fault);
                opened.out->openVirtualPort(s.name);
                // From now on called on the sending thread, inside sendMessage, with the mutex
                // held.
                opened.out->setErrorCallback(
                    [](RtMidiError::Type, const std::string&, void* shared) {
                        static_cast<Shared*>(shared)->refused = true;
                    },
                    &s);
            } catch (const RtMidiError& e) {
                opened.fault = e.getMessage();
            }
            if (!opened.fault.empty()) opened = {{}, {}, opened.fault};
        }
        lock.lock();
        s.fault = std::move(opened.fault);
        s.state = s.fault.empty() ? State::Open : State::Failed;
        s.port = std::move(opened);
    }
    s.closed = true;
    s.wake.notify_all();
}

}  // namespace glove::midi
