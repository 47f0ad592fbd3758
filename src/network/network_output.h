#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/frame_feed.h"
#include "calibration/calibrator.h"
#include "network/endpoint.h"
#include "network/receiver.h"

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

  private:
    std::string frameAddress_;
    std::string statusAddress_;
    std::string flexAddress_;
    const calibration::Calibrator* calibrator_ = nullptr;
    std::vector<Receiver> osc_;
    std::vector<Receiver> udp_;
};

}  // namespace glove::network
