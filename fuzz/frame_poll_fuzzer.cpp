// One poll with the fuzz input waiting in the serial receive buffer: the exchange file it
// leaves must hold one well-formed, correctly rotated line for each frame marker, and the
// Connect loop must read the first of them back as the frame's values.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "acquisition/frame_poll.h"
#include "acquisition/serial_control.h"
#include "common/run_time_error.h"
#include "exchange/exchange_file.h"
#include "exchange/posix_files.h"
#include "fuzz_support.h"
#include "monitor/connect_loop.h"

namespace {

using glove::ErrorNumber;
using glove::Frame;
using glove::kFrameLength;
using glove::kFrameMarker;
using glove::RunTimeError;
using glove::fuzz::require;

constexpr int kLargestValue = 255;
constexpr std::string_view kLeftBefore = "left by the poll before\r\n";

// A receive buffer behind the serial control interface. The real control reads a device
// at 4800 baud, far too slow to fuzz through; the poll sees only the interface, and this
// keeps its rules: reading needs an open port, opening an open one fails with 8005, and a
// read returns at most InputLen characters.
class BufferedPort final : public glove::SerialControl {
  public:
    explicit BufferedPort(QByteArray received) : received_(std::move(received)) {}

    void setCommPort(int) override {}
    void setSettings(const QString&) override {}
    void setInputLen(int characters) override { inputLen_ = characters; }
    void setPortOpen(bool open) override {
        if (open && open_) throw RunTimeError(ErrorNumber::PortAlreadyOpen, "Port already open");
        open_ = open;
    }
    [[nodiscard]] bool portOpen() const override { return open_; }
    QByteArray input() override {
        if (!open_) throw RunTimeError(ErrorNumber::PortNotOpen, "Port not open");
        QByteArray taken = inputLen_ == 0 ? received_ : received_.left(inputLen_);
        received_.remove(0, taken.size());
        return taken;
    }

  private:
    QByteArray received_;
    int inputLen_ = 0;
    bool open_ = false;
};

// One line at pos: ten decimal numbers 0..255 without sign or padding, separated by
// commas and ended by CR LF. Moves pos past the line; nothing if it is not such a line.
std::optional<Frame> parseLine(std::string_view text, std::size_t& pos) {
    Frame values{};
    for (int i = 0; i < kFrameLength; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',') return std::nullopt;
            ++pos;
        }
        const std::size_t start = pos;
        int value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' &&
               value <= kLargestValue) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
        }
        const std::size_t digits = pos - start;
        if (digits == 0 || value > kLargestValue || (digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        values[static_cast<std::size_t>(i)] = value;
    }
    if (text.substr(pos, 2) != "\r\n") return std::nullopt;
    pos += 2;
    return values;
}

// The lines of a full frame, in marker order, each the frame read from its marker on.
void checkLines(const Frame& frame, std::string_view written) {
    std::size_t pos = 0;
    for (int marker = 0; marker < kFrameLength; ++marker) {
        if (frame[static_cast<std::size_t>(marker)] != kFrameMarker) continue;
        const std::optional<Frame> line = parseLine(written, pos);
        require(line.has_value(), "a line is ten numbers 0..255 separated by commas, then CR LF");
        require((*line)[0] == kFrameMarker, "a line starts with the marker");
        for (int i = 0; i < kFrameLength; ++i) {
            require((*line)[static_cast<std::size_t>(i)] ==
                        frame[static_cast<std::size_t>((marker + i) % kFrameLength)],
                    "a line is the frame rotated to its marker");
        }
    }
    require(pos == written.size(), "one line for each marker and nothing else");
}

// What the Connect loop reads from the file: the first line's ten values, or the end.
void checkReadBack(const std::string& path, const std::optional<Frame>& firstLine) {
    glove::PosixFiles files;
    files.openForInput(glove::exchange::kReaderFileNumber, path);
    try {
        for (int i = 0; i < kFrameLength; ++i) {
            const double value = files.readNumber(glove::exchange::kReaderFileNumber);
            require(firstLine && value == (*firstLine)[static_cast<std::size_t>(i)],
                    "the loop reads back the first line's values");
        }
    } catch (const RunTimeError& e) {
        require(!firstLine && e.number() == ErrorNumber::InputPastEndOfFile,
                "only a file without lines ends the read-back, at its end");
    }
    files.close(glove::exchange::kReaderFileNumber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const glove::fuzz::ScratchFile exchangeFile;
    exchangeFile.write(kLeftBefore);

    const QByteArray received(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    BufferedPort port(received);
    port.setInputLen(glove::ConnectLoop::kInputLen);
    glove::PosixFiles files;
    QByteArray dataF = "from the poll before";
    glove::FramePoll(port, files, dataF, exchangeFile.path()).run();

    const QByteArray taken = received.left(glove::ConnectLoop::kInputLen);
    require(dataF == taken, "DataF holds what the port returned");
    require(port.portOpen() == taken.isEmpty(), "a read that returned characters closes the port");
    require(!files.isOpen(glove::exchange::kWriterFileNumber), "the poll closes the exchange file");

    const std::string written = exchangeFile.read();
    if (taken.isEmpty()) {
        require(written.empty(), "an empty read empties the exchange file");
        checkReadBack(exchangeFile.path(), std::nullopt);
        return 0;
    }
    if (taken.size() < kFrameLength) {
        require(written == kLeftBefore, "a short read leaves the exchange file alone");
        return 0;
    }
    Frame frame{};
    for (int i = 0; i < kFrameLength; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<unsigned char>(taken[i]);
    }
    checkLines(frame, written);
    std::size_t pos = 0;
    checkReadBack(exchangeFile.path(), parseLine(written, pos));
    return 0;
}
