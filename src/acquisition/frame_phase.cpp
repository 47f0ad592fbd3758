#include "acquisition/frame_phase.h"

#include <algorithm>
#include <bit>

namespace glove {

namespace {
constexpr int kEnoughSeen = 2 * kFrameLength;
}  // namespace

void FramePhase::observe(const QByteArray& read) {
    for (const char character : read) {
        if (static_cast<unsigned char>(character) != kFrameMarker) markerPlaces_ &= ~1U;
        // Every place has been ruled out: start over, this character's place excepted.
        if (markerPlaces_ == 0) {
            markerPlaces_ = kAllPlaces & ~1U;
            seen_ = 0;
        }
        seen_ = std::min(seen_ + 1, kEnoughSeen);
        // The next character's place becomes place 0.
        markerPlaces_ = static_cast<std::uint16_t>((markerPlaces_ >> 1) |
                                                   ((markerPlaces_ & 1U) << (kFrameLength - 1)));
        if (untilQuiet_ > 0 && --untilQuiet_ == 0) quietAfter(0);
    }
}

void FramePhase::quietAfter(int characters) {
    untilQuiet_ = characters;
    if (characters > 0) return;
    markerPlaces_ = kAllPlaces;
    untilQuiet_ = -1;
    seen_ = 0;
}

int FramePhase::nextReadLength() const {
    if ((markerPlaces_ & 1U) != 0 || std::popcount(markerPlaces_) != 1 || seen_ < kEnoughSeen) {
        return kFrameLength;
    }
    return std::countr_zero(markerPlaces_);
}

}  // namespace glove
