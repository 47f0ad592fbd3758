#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "network/endpoint.h"
#include "network/receiver.h"
#include "posture/posture_watch.h"

namespace glove::network {

inline constexpr std::string_view kDefaultOscPrefix = "/glove";

struct NetworkSettings {
    std::vector<Endpoint> osc;
    std::vector<Endpoint> udp;
    std::string oscPrefix = std::string(kDefaultOscPrefix);
};

// Streams every frame to the receivers the user named: PREFIX/frame with the frame's ten
// values to each OSC receiver, the exchange file's lines for it to each UDP receiver, and
// each new text of the text box as PREFIX/status to the OSC receivers. With a calibration in
// force, PREFIX/flex follows each PREFIX/frame with values 2 to 10 as fractions of their ranges.
// With postures learnt, PREFIX/posture carries the name of the one the hand holds ("none" for
// none) each time that changes, and again once a second, so that a receiver that starts late
// learns it too.
class NetworkOutput final : public FrameFeed {
  public:
    // One socket for each receiver; throws std::system_error if the system has none.
    explicit NetworkOutput(const NetworkSettings& settings);
    NetworkOutput(std::string_view oscPrefix, std::vector<Receiver> osc, std::vector<Receiver> udp);
    NetworkOutput(const NetworkOutput&) = delete;
    NetworkOutput& operator=(const NetworkOutput&) = delete;
    // Says on stderr how many datagrams each receiver lost to a full socket.
    ~NetworkOutput() override;

    void frameRead(std::span<const Frame> lines) noexcept override;
    void textShown(const std::string& text) noexcept;
    // Where the calibration in force is found; it outlives this output.
    void useCalibration(const calibration::Calibrator& calibrator) { calibrator_ = &calibrator; }
    // Where the posture held is found; it outlives this output, and takes each frame first.
    void usePostures(const posture::PostureWatch& watch) { postures_ = &watch; }

    // How often the posture held is sent again while it holds.
    static constexpr std::chrono::seconds kPostureRepeat{1};

  private:
    void sendPosture(Receiver::Clock::time_point now) noexcept;

    std::string frameAddress_;
    std::string statusAddress_;
    std::string flexAddress_;
    std::string postureAddress_;
    const calibration::Calibrator* calibrator_ = nullptr;
    const posture::PostureWatch* postures_ = nullptr;
    // The watch's change count when the posture was last sent, and when that was.
    std::optional<long> postureSent_;
    Receiver::Clock::time_point postureSentAt_{};
    std::vector<Receiver> osc_;
    std::vector<Receiver> udp_;
};

}  // namespace glove::network
