#pragma once

#include <string>

#include "exchange/exchange_file.h"

namespace glove {

class Files;

// Exit: close every open file, delete the exchange file, and end the program.
class ExitCommand {
  public:
    explicit ExitCommand(Files& files,
                         std::string exchangePath = std::string(exchange::kDefaultPath))
        : files_(files), exchangePath_(std::move(exchangePath)) {}

    // True when the program is to end now: the file is deleted, or there was none to
    // delete (a missing directory included). Any other failure leaves the program running.
    [[nodiscard]] bool run();

  private:
    Files& files_;
    std::string exchangePath_;
};

}  // namespace glove
