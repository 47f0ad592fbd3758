#pragma once

#include <QByteArray>
#include <cstdint>

#include "common/glove_frame.h"

namespace glove {

// Where frames start in the stream of characters read, as far as the reads so far tell.
//
// It keeps, for each of the ten places a character can take within a frame, whether every
// character read at that place since the stream was last found out of step was a marker.
// Places are counted from the start of the next read, so a read of any length just turns
// them round. The marker starts every frame, so its place stays; a reading of 128, even one
// held for a while, drops out as soon as that value moves; noise drops out at once.
//
//   - Place 0 still possible: reads are, or may be, in step. The next read is a whole one,
//     whatever other places hold 128: a glove at rest on 128 never sets off a realignment.
//   - Exactly one other place left, and every place seen twice since the evidence started:
//     the marker is there, so the next read takes only the rest of the frame that the last
//     read cut. (One sight is not enough: a lone 128 in noise would cut a good frame.) The poll
//     drops that short read, and the reads after it start at a marker.
//   - Several other places left: the stream cannot tell yet (or ever, if a reading sits on
//     128 for good) where frames start, and reads keep the step they have.
//   - No place left: the stream moved (a byte was lost, the glove restarted, noise), and
//     the evidence starts over from the character that showed it.
//
// A line that went quiet also starts the evidence over: a glove that pauses or stops does
// so between frames, or drops the rest of a frame, so its next character may start one.
class FramePhase {
  public:
    // Takes in the characters one read returned, in order.
    void observe(const QByteArray& read);
    // The line went quiet after the next `characters` characters still to be read.
    void quietAfter(int characters);
    // How many characters the next read should take: a frame, or the rest of a cut one.
    [[nodiscard]] int nextReadLength() const;

  private:
    static constexpr std::uint16_t kAllPlaces = (1U << kFrameLength) - 1;
    // Bit i: the place i characters after the start of the next read may hold the marker.
    std::uint16_t markerPlaces_ = kAllPlaces;
    int untilQuiet_ = -1;  // characters still to come before the quiet; -1: none known
    int seen_ = 0;         // characters taken in since the evidence started, up to two frames
};

}  // namespace glove
