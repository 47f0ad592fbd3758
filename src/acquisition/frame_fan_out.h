#pragma once

#include <span>
#include <vector>

#include "acquisition/frame_feed.h"

namespace glove {

// Hands every frame to each of several feeds, in the order they were added.
class FrameFanOut final : public FrameFeed {
  public:
    void add(FrameFeed& feed) { feeds_.push_back(&feed); }
    [[nodiscard]] bool empty() const { return feeds_.empty(); }

    void frameRead(std::span<const Frame> lines) noexcept override {
        for (FrameFeed* feed : feeds_) feed->frameRead(lines);
    }

  private:
    std::vector<FrameFeed*> feeds_;
};

}  // namespace glove
