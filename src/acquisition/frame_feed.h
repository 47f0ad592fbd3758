#pragma once

#include <span>

#include "common/glove_frame.h"

namespace glove {

// What takes every frame the poll reads whole, the moment it is read: the poll calls it
// before it rewrites the exchange file, whether or not the file can be written.
class FrameFeed {
  public:
    virtual ~FrameFeed() = default;

    // The aligned lines of one frame of ten characters with at least one marker, in the
    // order they go into the exchange file; the first is the frame. A feed keeps its own
    // failures: the poll's work must go on whatever happens behind it.
    virtual void frameRead(std::span<const Frame> lines) noexcept = 0;
};

}  // namespace glove
