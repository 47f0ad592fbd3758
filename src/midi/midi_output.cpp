#include "midi/midi_output.h"

#include <QtDebug>
#include <cmath>
#include <thread>
#include <utility>

#include "monitor/status_text.h"

namespace glove::midi {

namespace {

constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kNoteOff = 0x80;
constexpr float kHighestValue = 127.0F;
// How far a controller's place moves from the value sent before it is sent anew: half a step
// past the rounding boundary.
constexpr float kControllerStep = 1.0F;
// And more than one reading from it: a sensor that flickers by a reading sends nothing.
constexpr float kReadingsMargin = 1.5F;
// A start waits this long at most for the port, so that a port that cannot open is said at
// once, with or without a glove.
constexpr auto kOpenWait = std::chrono::seconds(2);
constexpr auto kOpenPoll = std::chrono::milliseconds(5);

Message message(std::uint8_t status, int channel, int data1, int data2) {
    return {static_cast<std::uint8_t>(status | (channel - 1)), static_cast<std::uint8_t>(data1),
            static_cast<std::uint8_t>(data2)};
}

}  // namespace

Message controlChange(int channel, int controller, int value) {
    return message(kControlChange, channel, controller, value);
}

Message noteOn(int channel, int note) {
    return message(kNoteOn, channel, note, kVelocity);
}

Message noteOff(int channel, int note) {
    return message(kNoteOff, channel, note, 0);
}

std::optional<int> controllerChange(calibration::Range range, int reading,
                                    std::optional<int> sent) {
    if (!range.calibrated()) return std::nullopt;
    const float place = calibration::fraction(range, reading) * kHighestValue;
    const auto value = static_cast<int>(std::lround(place));
    if (value == sent) return std::nullopt;
    const bool end = value == 0 || value == static_cast<int>(kHighestValue);
    // On a range under 127 readings a reading is more than a step.
    const float stepsAReading = kHighestValue / static_cast<float>(range.high - range.low);
    const float margin = std::max(kControllerStep, kReadingsMargin * stepsAReading);
    if (sent && !end && std::abs(place - static_cast<float>(*sent)) < margin) return std::nullopt;
    return value;
}

MidiOutput::MidiOutput(MidiPort& port, const calibration::Calibrator& calibrator, int channel,
                       const Controllers& controllers)
    : port_(port), calibrator_(calibrator), channel_(channel), controllers_(controllers) {
    lastTry_ = Clock::now();
    port_.open();
    for (auto waited = Clock::duration::zero();
         port_.status().state == MidiPort::State::Opening && waited < kOpenWait;
         waited += kOpenPoll) {
        std::this_thread::sleep_for(kOpenPoll);
    }
    portReady(Clock::now());
}

MidiOutput::~MidiOutput() {
    wanted_.reset();
    if (portReady(Clock::now())) endNotes();
    if (dropped_ > 0) {
        qWarning().noquote() << QStringLiteral(
                                    "glove-monitor: MIDI: %1 events dropped because the port "
                                    "could not take them")
                                    .arg(dropped_);
    }
}

void MidiOutput::frameRead(std::span<const Frame> lines) noexcept {
    frameRead(lines.front(), Clock::now());
}

void MidiOutput::frameRead(const Frame& frame, Clock::time_point now) noexcept {
    if (!portReady(now)) return;
    const std::optional<calibration::Ranges>& ranges = calibrator_.inForce();
    for (int i = 0; i < calibration::kValueCount; ++i) {
        // Forgotten while not calibrated: sent again as soon as it is.
        if (!ranges || !(*ranges)[i].calibrated()) {
            sent_[i].reset();
            continue;
        }
        const auto value =
            controllerChange((*ranges)[i], frame[i + calibration::kFirstValue - 1], sent_[i]);
        if (value && send(controlChange(channel_, controllers_[i], *value))) sent_[i] = value;
    }

    wanted_.reset();
    // A posture's note may change while it is held: the old one ends, the new one starts.
    if (postures_ != nullptr && !postures_->held().empty()) {
        const posture::Posture* held = postures_->postures().find(postures_->held());
        if (held != nullptr) wanted_ = held->note;
    }
    endNotes();
    // A note on that is refused is tried again at the next frame, while the posture holds.
    if (wanted_ && !sounding_.contains(*wanted_) && send(noteOn(channel_, *wanted_))) {
        sounding_.insert(*wanted_);
    }
}

void MidiOutput::textShown(const std::string& text) noexcept {
    if (!portReady(Clock::now())) return;
    // The glove is gone, or silent: nothing says its posture still holds. Any text retries a
    // note off that was refused.
    if (text == status::kNoDevice.toStdString()) wanted_.reset();
    endNotes();
}

bool MidiOutput::portReady(Clock::time_point now) {
    const MidiPort::Status status = port_.status();
    if (status.state == MidiPort::State::Open) {
        // A new port: its receivers have heard no controller yet.
        if (!open_) {
            sent_ = {};
            refusalSaid_ = false;
        }
        open_ = true;
        downSaid_ = false;
        return true;
    }
    // The notes went with the port: its receivers lost it.
    open_ = false;
    sounding_.clear();
    if (status.state == MidiPort::State::Failed) {
        report(downSaid_, "glove-monitor: MIDI: " + status.fault +
                              "; the port is opened again once it can be");
    }
    if (status.state != MidiPort::State::Opening && (!lastTry_ || now - *lastTry_ >= kRetryTime)) {
        lastTry_ = now;
        port_.open();
    }
    return false;
}

bool MidiOutput::send(const Message& message) {
    if (port_.send(message)) return true;
    ++dropped_;
    if (port_.status().state == MidiPort::State::Open) {
        report(refusalSaid_,
               "glove-monitor: MIDI: the port's receiver is not taking events in; events are "
               "dropped until it does");
    }
    return false;
}

void MidiOutput::endNotes() {
    std::erase_if(sounding_,
                  [this](int note) { return note != wanted_ && send(noteOff(channel_, note)); });
}

void MidiOutput::report(bool& said, const std::string& line) {
    if (std::exchange(said, true)) return;
    qWarning().noquote() << QString::fromStdString(line);
}

}  // namespace glove::midi
