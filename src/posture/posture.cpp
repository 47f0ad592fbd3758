#include "posture/posture.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace glove::posture {

namespace {

// Characters of UTF-8 text: every byte but the continuation bytes starts one.
std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

// C0 controls and DEL as bytes, C1 controls as their UTF-8 pairs (0xC2 0x80..0x9F), and the
// marks that turn the direction of the text after them (U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069, and the Arabic letter mark U+061C), which would turn a report that quotes
// the name.
bool hasControlCharacter(std::string_view text) {
    const auto at = [text](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned c = at(i);
        if (c < 0x20U || c == 0x7FU) return true;
        if (c == 0xC2U && at(i + 1) >= 0x80U && at(i + 1) <= 0x9FU) return true;
        if (c == 0xD8U && at(i + 1) == 0x9CU) return true;
        if (c != 0xE2U) continue;
        const unsigned second = at(i + 1);
        const unsigned third = at(i + 2);
        if (second == 0x80U &&
            (third == 0x8EU || third == 0x8FU || (third >= 0xAAU && third <= 0xAEU)))
            return true;
        if (second == 0x81U && third >= 0xA6U && third <= 0xA9U) return true;
    }
    return false;
}

// "none" in any case: a receiver that compares names without case would take it for none.
bool isNone(std::string_view name) {
    return std::ranges::equal(name, kNone, [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// Parts a posture's note from its values in the settings.
constexpr std::string_view kNoteField = " note=";

std::string quoted(std::string_view name) {
    return '"' + std::string(name) + '"';
}

// Empty when `note` may be played by the posture named `name` in `set`; otherwise why not.
std::string noteFault(const PostureSet& set, int note, std::string_view name) {
    if (note < kLowestNote || note > kHighestNote) {
        return "a note is from " + std::to_string(kLowestNote) + " to " +
               std::to_string(kHighestNote) + ", not " + std::to_string(note);
    }
    const Posture* other = set.playing(note);
    if (other == nullptr || other->name == name) return {};
    return "note " + std::to_string(note) + " is played by the posture " + quoted(other->name) +
           " already";
}

// Within the rejection distance, tie to the first.
const Posture* nearest(const std::vector<Posture>& postures, const Values& values,
                       float rejection) {
    const Posture* best = nullptr;
    float bestDistance = rejection;
    for (const Posture& p : postures) {
        const float d = distance(p.values, values);
        if (d < bestDistance || (best == nullptr && d == bestDistance)) {
            best = &p;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace

Values rawValues(const Frame& frame) {
    Values values{};
    for (int i = 0; i < kValueCount; ++i) {
        values[i] =
            static_cast<float>(std::clamp(frame[i + calibration::kFirstValue - 1], 0, 255)) /
            255.0F;
    }
    return values;
}

Values onCalibration(const std::optional<calibration::Ranges>& ranges, const Values& raw) {
    if (!ranges) return raw;
    Values values = raw;
    for (int i = 0; i < kValueCount; ++i) {
        const calibration::Range range = (*ranges)[i];
        if (range.calibrated()) values[i] = calibration::fraction(range, raw[i] * 255.0F);
    }
    return values;
}

std::string nameFault(std::string_view name) {
    if (name.empty()) return "a posture needs a name";
    if (hasControlCharacter(name)) return "a posture's name cannot hold a control character";
    if (characters(name) > kLongestName) {
        return "a posture's name has at most " + std::to_string(kLongestName) + " characters";
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return "a posture's name cannot start or end with a space";
    }
    // '=' parts a name from its file on the command line and from its values in the settings.
    if (name.find('=') != std::string_view::npos) return "a posture's name cannot hold '='";
    if (isNone(name)) return quoted(kNone) + " means no posture and cannot name one";
    return {};
}

float distance(const Values& a, const Values& b) {
    float sum = 0.0F;
    for (int i = 0; i < kValueCount; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum);
}

Learnt learn(std::string_view name, std::span<const Values> frames, float rejection) {
    Learnt learnt;
    if (learnt.fault = nameFault(name); !learnt.fault.empty()) return learnt;
    if (frames.size() < kFewestLearningFrames) {
        learnt.fault = "learning a posture needs at least " +
                       std::to_string(kFewestLearningFrames) + " frames, not " +
                       std::to_string(frames.size());
        return learnt;
    }
    Values median{};
    std::vector<float> column(frames.size());
    for (int i = 0; i < kValueCount; ++i) {
        std::ranges::transform(frames, column.begin(), [i](const Values& v) { return v[i]; });
        const auto middle = column.begin() + static_cast<std::ptrdiff_t>(column.size() / 2);
        std::ranges::nth_element(column, middle);
        median[i] = *middle;
    }
    // Frames this near the median are the hand holding still; half the rejection distance
    // keeps every held frame well inside what will be recognised.
    std::array<double, kValueCount> sum{};  // a long recording's sum would drift in float
    std::size_t held = 0;
    for (const Values& v : frames) {
        if (distance(v, median) > rejection / 2) continue;
        for (int i = 0; i < kValueCount; ++i) sum[i] += v[i];
        ++held;
    }
    if (held * 2 < frames.size()) {
        learnt.fault = "the hand did not hold still: " + std::to_string(held) + " of " +
                       std::to_string(frames.size()) + " frames held one posture";
        return learnt;
    }
    learnt.posture.name = name;
    for (int i = 0; i < kValueCount; ++i) {
        learnt.posture.values[i] = static_cast<float>(sum[i] / static_cast<double>(held));
    }
    return learnt;
}

const Posture* PostureSet::find(std::string_view name) const {
    const auto found = std::ranges::find(postures_, name, &Posture::name);
    return found == postures_.end() ? nullptr : &*found;
}

const Posture* PostureSet::playing(int note) const {
    const auto found = std::ranges::find(postures_, note, &Posture::note);
    return found == postures_.end() ? nullptr : &*found;
}

int PostureSet::nextNote(std::span<const int> reserved) const {
    const auto lowestFree = [](auto&& isFree) {
        for (int note = kFirstNote; note <= kHighestNote; ++note) {
            if (isFree(note)) return note;
        }
        for (int note = kLowestNote; note < kFirstNote; ++note) {
            if (isFree(note)) return note;
        }
        return -1;
    };
    const auto unplayed = [this](int note) { return playing(note) == nullptr; };
    const int note = lowestFree(
        [&](int n) { return unplayed(n) && std::ranges::find(reserved, n) == reserved.end(); });
    // A set that can take one more posture always has a note to spare.
    return note >= 0 ? note : lowestFree(unplayed);
}

std::string PostureSet::add(Posture posture) {
    if (std::string fault = nameFault(posture.name); !fault.empty()) return fault;
    if (find(posture.name) != nullptr)
        return "a posture named " + quoted(posture.name) + " is kept already";
    if (postures_.size() >= kMostPostures) {
        return "at most " + std::to_string(kMostPostures) + " postures can be kept";
    }
    if (!posture.note) {
        posture.note = nextNote();
    } else if (std::string fault = noteFault(*this, *posture.note, posture.name); !fault.empty()) {
        return fault;
    }
    postures_.push_back(std::move(posture));
    return {};
}

std::string PostureSet::relearn(std::string_view name, const Values& values) {
    const auto found = std::ranges::find(postures_, name, &Posture::name);
    if (found == postures_.end()) return "no posture is named " + quoted(name);
    found->values = values;
    return {};
}

std::string PostureSet::rename(std::string_view from, std::string_view to) {
    const auto found = std::ranges::find(postures_, from, &Posture::name);
    if (found == postures_.end()) return "no posture is named " + quoted(from);
    if (from == to) return {};
    if (std::string fault = nameFault(to); !fault.empty()) return fault;
    if (find(to) != nullptr) return "a posture named " + quoted(to) + " is kept already";
    found->name = to;
    return {};
}

std::string PostureSet::setNote(std::string_view name, int note) {
    const auto found = std::ranges::find(postures_, name, &Posture::name);
    if (found == postures_.end()) return "no posture is named " + quoted(name);
    if (std::string fault = noteFault(*this, note, name); !fault.empty()) return fault;
    found->note = note;
    return {};
}

bool PostureSet::remove(std::string_view name) {
    return std::erase_if(postures_, [name](const Posture& p) { return p.name == name; }) > 0;
}

const Posture* PostureSet::recognise(const Values& values, std::string_view held) const {
    const Posture* best = nearest(postures_, values, rejection_);
    const Posture* kept = held.empty() ? nullptr : find(held);
    if (kept == nullptr || best == kept) return best;
    const float fromKept = distance(kept->values, values);
    if (fromKept > rejection_ + kHysteresis) return best;
    if (best != nullptr && distance(best->values, values) < fromKept - kHysteresis) return best;
    return kept;
}

PostureSet PostureSet::onCalibration(const std::optional<calibration::Ranges>& ranges) const {
    PostureSet set = *this;
    for (Posture& p : set.postures_) p.values = posture::onCalibration(ranges, p.values);
    return set;
}

bool Debouncer::take(std::string_view recognised) {
    if (recognised == held_) {
        pendingFrames_ = 0;
        return false;
    }
    if (pendingFrames_ > 0 && recognised == pending_) {
        ++pendingFrames_;
    } else {
        pending_ = recognised;
        pendingFrames_ = 1;
    }
    if (pendingFrames_ < kHoldFrames) return false;
    held_ = std::move(pending_);
    pending_.clear();
    pendingFrames_ = 0;
    return true;
}

std::string formatPostures(std::span<const Posture> postures) {
    std::string text;
    for (const Posture& p : postures) {
        if (!text.empty()) text += '\n';
        text += p.name;
        char separator = '=';
        for (const float v : p.values) {
            std::array<char, 16> digits{};
            const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), v,
                                                    std::chars_format::fixed, 3);
            text += separator;
            text.append(digits.data(), end);
            separator = ' ';
        }
        if (p.note) {
            text += kNoteField;
            text += std::to_string(*p.note);
        }
    }
    return text;
}

ReadPostures parsePostures(std::string_view text) {
    ReadPostures read;
    // Each line's posture, read whole before any is added: a line with no note gets one only
    // once every note the text gives is known.
    std::vector<Posture> listed;
    std::vector<int> given;
    int lineNumber = 0;
    const auto fail = [&](const std::string& why) {
        read.fault = "line " + std::to_string(lineNumber) + ": " + why;
        return read;
    };
    for (std::string_view rest = text; !rest.empty();) {
        ++lineNumber;
        const std::size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);
        if (line.empty()) return fail("empty where a posture should be");
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return fail("no '=' after the posture's name");
        Posture& posture = listed.emplace_back(Posture{std::string(line.substr(0, equals)), {}});
        if (std::string fault = nameFault(posture.name); !fault.empty()) return fail(fault);
        const char* at = line.data() + equals + 1;
        const char* const end = line.data() + line.size();
        for (int i = 0; i < kValueCount; ++i) {
            const std::string which = "value " + std::to_string(i + calibration::kFirstValue);
            if (i > 0 && at == end) {
                return fail(std::to_string(i) + " values where " + std::to_string(kValueCount) +
                            " belong");
            }
            if (i > 0 && *at++ != ' ') return fail("values are parted by one space");
            float& v = posture.values[i];
            const auto [next, error] = std::from_chars(at, end, v, std::chars_format::fixed);
            if (error != std::errc() || next == at || !(v >= 0.0F && v <= 1.0F)) {
                return fail(which + " is not a number from 0 to 1");
            }
            at = next;
        }
        if (std::string_view(at, end).starts_with(kNoteField)) {
            at += kNoteField.size();
            int note = -1;
            const auto [next, error] = std::from_chars(at, end, note);
            if (error != std::errc() || next != end || note < kLowestNote || note > kHighestNote) {
                return fail("the note is not a number from " + std::to_string(kLowestNote) +
                            " to " + std::to_string(kHighestNote));
            }
            posture.note = note;
            given.push_back(note);
            at = next;
        }
        if (at != end) return fail("more than " + std::to_string(kValueCount) + " values");
    }
    PostureSet set;
    lineNumber = 0;
    for (Posture& posture : listed) {
        ++lineNumber;
        if (!posture.note) posture.note = set.nextNote(given);
        if (std::string fault = set.add(std::move(posture)); !fault.empty()) return fail(fault);
    }
    read.postures = set.postures();
    return read;
}

}  // namespace glove::posture
