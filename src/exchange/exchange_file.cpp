#include "exchange/exchange_file.h"

namespace glove::exchange {

std::string formatLine(const Frame& frame) {
    std::string line;
    for (const int value : frame) {
        if (!line.empty()) line += ',';
        line += std::to_string(value);
    }
    return line;
}

}  // namespace glove::exchange
