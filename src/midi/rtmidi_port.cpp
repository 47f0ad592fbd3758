#include "midi/rtmidi_port.h"

#include <RtMidi.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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

// A JACK client of no ports that learns when the server goes: RtMidi does not say.
class JackWatch {
  public:
    // Null, with `fault` set, when no server can be reached.
    static std::unique_ptr<JackWatch> open(const std::string& name, std::string& fault) {
        quietJack();
        jack_status_t status{};
        jack_client_t* client =
            jack_client_open((name + " watch").c_str(), JackNoStartServer, &status);
        if (client == nullptr) {
            fault = (status & JackServerFailed) != 0 ? "no JACK server is running"
                                                     : "the JACK server refused a client (status " +
                                                           std::to_string(status) + ")";
            return nullptr;
        }
        auto watch = std::unique_ptr<JackWatch>(new JackWatch(client));
        jack_on_shutdown(
            client, [](void* self) { static_cast<JackWatch*>(self)->gone_ = true; }, watch.get());
        jack_set_process_callback(
            client,
            [](jack_nframes_t, void* self) {
                static_cast<JackWatch*>(self)->cycles_.fetch_add(1, std::memory_order_relaxed);
                return 0;
            },
            watch.get());
        if (jack_activate(client) != 0) {
            fault = "the JACK server did not take a client in";
            return nullptr;
        }
        return watch;
    }
    JackWatch(const JackWatch&) = delete;
    JackWatch& operator=(const JackWatch&) = delete;
    ~JackWatch() { jack_client_close(client_); }

    [[nodiscard]] bool gone() const { return gone_; }

    // RtMidi waits, spinning, for room in its queue, which only the server's cycles empty: a
    // message is let through only while what was queued since the last cycle leaves room.
    bool roomFor(std::size_t size) {
        const unsigned long cycle = cycles_.load(std::memory_order_relaxed);
        if (cycle != lastCycle_) {
            lastCycle_ = cycle;
            queued_ = 0;
        }
        // RtMidi queues each message behind its size.
        const std::size_t bytes = sizeof(int) + size;
        if (queued_ + bytes > kQueueShare) return false;
        queued_ += bytes;
        return true;
    }

  private:
    explicit JackWatch(jack_client_t* client) : client_(client) {}

    // A quarter of the 16 KiB RtMidi queues for JACK: hundreds of messages a cycle.
    static constexpr std::size_t kQueueShare = 4096;

    jack_client_t* client_;
    std::atomic<bool> gone_ = false;
    std::atomic<unsigned long> cycles_ = 0;
    unsigned long lastCycle_ = 0;
    std::size_t queued_ = 0;
};

struct RtMidiPort::Opened {
    std::unique_ptr<RtMidiOut> out;
    std::unique_ptr<JackWatch> watch;
    std::string fault;
};

RtMidiPort::RtMidiPort(Api api, std::string name)
    : api_(api),
      name_(std::move(name)),
      thread_([this](const std::stop_token& stop) { run(stop); }) {}

RtMidiPort::~RtMidiPort() {
    thread_.request_stop();
    thread_.join();
    // RtMidi waits for the notes sent last to go out before it closes a JACK port.
    out_.reset();
}

void RtMidiPort::open() noexcept {
    const std::scoped_lock lock(mutex_);
    if (state_ == State::Opening || state_ == State::Open) return;
    state_ = State::Opening;
    openWanted_ = true;
    wake_.notify_one();
}

MidiPort::Status RtMidiPort::status() noexcept {
    const std::scoped_lock lock(mutex_);
    if (state_ == State::Open && watch_ && watch_->gone()) {
        state_ = State::Failed;
        fault_ = "the JACK server stopped";
    }
    return {state_, fault_};
}

bool RtMidiPort::send(std::span<const std::uint8_t> message) noexcept {
    const std::scoped_lock lock(mutex_);
    if (state_ != State::Open) return false;
    if (watch_ && (watch_->gone() || !watch_->roomFor(message.size()))) return false;
    refused_ = false;
    try {
        out_->sendMessage(message.data(), message.size());
    } catch (const RtMidiError&) {
        return false;
    }
    return !refused_;
}

void RtMidiPort::run(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    while (wake_.wait(lock, stop, [this] { return openWanted_; })) {
        openWanted_ = false;
        // A port whose system went away first; its close can wait for that system.
        Opened opened{std::move(out_), std::move(watch_), {}};
        lock.unlock();
        opened = {};
        if (api_ == Api::Alsa && access(kSequencer, R_OK | W_OK) != 0) {
            opened.fault = std::string(errno == ENOENT ? "no ALSA sequencer on this machine"
                                                       : "cannot use the ALSA sequencer") +
                           " (" + kSequencer + ": " + std::strerror(errno) + ")";
        } else if (api_ == Api::Jack) {
            opened.watch = JackWatch::open(name_, opened.fault);
        }
        if (opened.fault.empty()) {
            try {
                opened.out = std::make_unique<RtMidiOut>(
                    api_ == Api::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK, name_);
                // Once set, RtMidi reports through the callback instead of throwing.
                opened.out->setErrorCallback(
                    [](RtMidiError::Type, const std::string& text, void* fault) {
                        *static_cast<std::string*>(fault) = text;
                    },
                    &opened.fault);
                opened.out->openVirtualPort(name_);
                // From now on called on the sending thread, inside sendMessage, with the mutex
                // held.
                opened.out->setErrorCallback(
                    [](RtMidiError::Type, const std::string&, void* self) {
                        static_cast<RtMidiPort*>(self)->refused_ = true;
                    },
                    this);
            } catch (const RtMidiError& e) {
                opened.fault = e.getMessage();
            }
            if (!opened.fault.empty()) opened = {{}, {}, opened.fault};
        }
        lock.lock();
        out_ = std::move(opened.out);
        watch_ = std::move(opened.watch);
        fault_ = opened.fault;
        state_ = fault_.empty() ? State::Open : State::Failed;
    }
}

}  // namespace glove::midi
