#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/ranges.h"
#include "common/glove_frame.h"

// Hand shapes the wearer teaches by name, and which of them a frame holds.
namespace glove::posture {

// Values 2 to 10 of a frame, each 0..1. A posture keeps them as raw value / 255, so that no
// calibration is built into it; recognition compares them on the calibration in force, as
// the place of each in its calibrated range (the raw value / 255 where it has no calibration).
inline constexpr int kValueCount = calibration::kValueCount;
using Values = std::array<float, kValueCount>;

// What a hand that holds no learnt posture is called; no posture may take this name.
inline constexpr std::string_view kNone = "none";
inline constexpr std::size_t kLongestName = 40;  // characters, not bytes
// Far more than a hand can tell apart; each one costs a distance every frame.
inline constexpr std::size_t kMostPostures = 100;
// A hand further than this from every posture holds none. Sensor noise is about 0.02 over
// the nine values; two postures a wearer tells apart are 0.5 or more apart.
inline constexpr float kDefaultRejection = 0.25F;
// A posture held stays held until the hand is this much further than the rejection distance
// from it, or this much nearer another: noise on a hand at a boundary never makes it flicker.
inline constexpr float kHysteresis = 0.05F;
// Learning needs a quarter of a second of frames at the glove's pace (48 a second).
inline constexpr std::size_t kFewestLearningFrames = 12;
// A change of posture counts only once it has held this many frames in a row.
inline constexpr int kHoldFrames = 3;
// Each posture plays a note of its own, a MIDI note number. The first learnt plays middle C.
inline constexpr int kLowestNote = 0;
inline constexpr int kHighestNote = 127;
inline constexpr int kFirstNote = 60;
static_assert(kMostPostures <= static_cast<std::size_t>(kHighestNote - kLowestNote + 1),
              "a posture added needs a free note");

struct Posture {
    std::string name;
    Values values{};
    // None only before it is added to a set, which gives it the set's next note; kept by a
    // relearning and a rename, so that a synthesiser's patch stays mapped to it.
    std::optional<int> note{};

    bool operator==(const Posture&) const = default;
};

// Values 2 to 10 of `frame` as raw value / 255.
Values rawValues(const Frame& frame);
// Raw values (/ 255) on `ranges`: each calibrated one as its place in its range.
Values onCalibration(const std::optional<calibration::Ranges>& ranges, const Values& raw);

// Empty when `name` may name a posture; otherwise why not, as one sentence.
std::string nameFault(std::string_view name);

// Euclidean distance over the nine values.
float distance(const Values& a, const Values& b);

// The posture of a hand held still: the mean of the frames near the median of all of them,
// so that the moments the hand still moved into or out of it are left out. Refused (with
// the reason in `fault`) for a bad name, too few frames, or a hand that did not hold still.
struct Learnt {
    Posture posture;
    std::string fault;
};
Learnt learn(std::string_view name, std::span<const Values> frames,
             float rejection = kDefaultRejection);

// The learnt postures of one device, and which of them a hand is nearest to.
class PostureSet {
  public:
    explicit PostureSet(float rejection = kDefaultRejection) : rejection_(rejection) {}

    [[nodiscard]] const std::vector<Posture>& postures() const { return postures_; }
    [[nodiscard]] float rejection() const { return rejection_; }
    [[nodiscard]] const Posture* find(std::string_view name) const;
    // The posture that plays `note`, or null.
    [[nodiscard]] const Posture* playing(int note) const;
    // The note a posture added without one gets: the lowest from kFirstNote up that no posture
    // plays, past kHighestNote the lowest free from kLowestNote. A note in `reserved` (one
    // asked for a posture still to be added) is passed over unless no other is free.
    [[nodiscard]] int nextNote(std::span<const int> reserved = {}) const;

    // Each returns empty when done, or why it was refused (the set is then unchanged).
    std::string add(Posture posture);
    std::string relearn(std::string_view name, const Values& values);
    std::string rename(std::string_view from, std::string_view to);
    std::string setNote(std::string_view name, int note);
    // False when no posture has that name.
    bool remove(std::string_view name);

    // The posture nearest to `values`, or nullptr when none is within the rejection
    // distance (or none is learnt). A tie goes to the one learnt first. The posture named
    // `held` stays the answer within kHysteresis of leaving it.
    [[nodiscard]] const Posture* recognise(const Values& values, std::string_view held = {}) const;
    // The same postures with their values on `ranges` (see onCalibration).
    [[nodiscard]] PostureSet onCalibration(const std::optional<calibration::Ranges>& ranges) const;

  private:
    std::vector<Posture> postures_;
    float rejection_ = kDefaultRejection;
};

// Posture changes as receivers should see them: a posture recognised in a frame is held only
// after kHoldFrames frames in a row, so a noisy frame or the path through other postures on
// the way never shows. Held and recognised names are empty for none.
class Debouncer {
  public:
    // True when this frame made `recognised` the posture held.
    bool take(std::string_view recognised);
    [[nodiscard]] const std::string& held() const { return held_; }
    // Back to none, with nothing pending: for a new set of postures or a new glove.
    void reset() { *this = Debouncer{}; }
    // `name` held from now, with nothing pending: for the posture held, renamed.
    void hold(std::string name) {
        reset();
        held_ = std::move(name);
    }

  private:
    std::string held_;
    std::string pending_;
    int pendingFrames_ = 0;
};

// How a device's postures are kept in the settings: one line for each,
// "NAME=V V V V V V V V V note=N" with values 2 to 10 to three decimals, lines joined by '\n';
// no postures is empty text.
std::string formatPostures(std::span<const Posture> postures);
// The postures of that text, or the first fault in it as one line (and no postures): a text
// that is damaged anywhere gives nothing, so a half-read set never replaces a whole one.
// Lines with no note (as kept before postures had notes) get the set's next notes in the
// order listed, after the lines with notes have taken theirs.
struct ReadPostures {
    std::vector<Posture> postures;
    std::string fault;
};
ReadPostures parsePostures(std::string_view text);

}  // namespace glove::posture
