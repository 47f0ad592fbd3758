// The fuzz input is the exchange file, read back as the Connect loop reads it: up to ten
// numbers through the reader's file number. Each outcome is compared with a reference
// reader made of other parts (a regular expression for what is a number, strtod for its
// value), and the numbers read then go through the status text.

#include <QString>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "common/run_time_error.h"
#include "exchange/exchange_file.h"
#include "exchange/posix_files.h"
#include "fuzz_support.h"
#include "monitor/reading.h"
#include "monitor/status_text.h"

namespace {

using glove::ErrorNumber;
using glove::exchange::kReaderFileNumber;
using glove::fuzz::require;

constexpr int kValues = 10;
// The reader refuses longer items; the reference must cut at the same length.
constexpr std::size_t kLongestItem = 40;
// Below this a whole number still has all its digits in the status text's 15.
constexpr double kLargestWholeShown = 1e15;

// What reading one item may give. A number too small to hold (strtod reports ERANGE and
// a value at or near zero) reads as that value or as 0.
struct Expected {
    std::optional<double> value;
    std::optional<ErrorNumber> error;
    bool tiny = false;
};

// Items as Files::readNumber describes them: blanks before an item are skipped, an item
// ends at a comma, LF, CR or CR LF, and blanks after it do not count.
class ReferenceReader {
  public:
    explicit ReferenceReader(std::string_view text) : text_(text) {}

    Expected next() {
        while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
        if (pos_ == text_.size()) return {.error = ErrorNumber::InputPastEndOfFile};
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !isSeparator(text_[pos_])) ++pos_;
        std::string item(text_.substr(start, pos_ - start));
        if (pos_ < text_.size()) {
            if (text_.substr(pos_, 2) == "\r\n") ++pos_;
            ++pos_;
        }
        if (item.size() > kLongestItem) return {.error = ErrorNumber::TypeMismatch};
        while (!item.empty() && isBlank(item.back())) item.pop_back();

        static const std::regex number(R"([+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?)");
        if (!std::regex_match(item, number)) return {.error = ErrorNumber::TypeMismatch};
        errno = 0;
        const double value = std::strtod(item.c_str(), nullptr);
        if (errno != ERANGE) return {.value = value};
        if (std::isinf(value)) return {.error = ErrorNumber::Overflow};
        return {.value = value, .tiny = true};
    }

  private:
    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    static bool isSeparator(char c) { return c == ',' || c == '\n' || c == '\r'; }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool sameNumber(double a, double b) {
    return a == b && std::signbit(a) == std::signbit(b);
}

// The status text shows an empty value as nothing and a whole number as its digits.
void checkStatusText(const glove::Reading& reading) {
    const QStringList shown = glove::status::valuesLine(reading).split(QStringLiteral("  "));
    require(shown.size() == kValues, "the status text has ten fields");
    for (int i = 0; i < kValues; ++i) {
        const glove::Value& value = reading[static_cast<std::size_t>(i)];
        if (!value) {
            require(shown[i].isEmpty(), "an empty value shows as nothing");
        } else if (std::trunc(*value) == *value && std::abs(*value) < kLargestWholeShown) {
            require(shown[i] == QString::number(static_cast<qint64>(*value)),
                    "a whole number shows as its digits");
        } else {
            require(!shown[i].isEmpty(), "a value shows as some text");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const glove::fuzz::ScratchFile exchangeFile;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    exchangeFile.write(text);

    glove::PosixFiles files;
    files.openForInput(kReaderFileNumber, exchangeFile.path());
    ReferenceReader reference(text);
    glove::Reading reading;
    for (int i = 0; i < kValues; ++i) {
        const Expected expected = reference.next();
        try {
            const double value = files.readNumber(kReaderFileNumber);
            require(std::isfinite(value), "a number read is finite");
            require(expected.value && (sameNumber(value, *expected.value) ||
                                       (expected.tiny && sameNumber(value, 0.0))),
                    "a number read is the value of its item");
            reading[static_cast<std::size_t>(i)] = value;
        } catch (const glove::RunTimeError& e) {
            require(expected.error == e.number(), "a failed read has the error its item calls for");
            if (e.number() == ErrorNumber::InputPastEndOfFile) {
                try {
                    files.readNumber(kReaderFileNumber);
                    glove::fuzz::fail("a number read after the end of the file");
                } catch (const glove::RunTimeError& again) {
                    require(again.number() == ErrorNumber::InputPastEndOfFile,
                            "the end of the file stays the end");
                }
            }
            break;
        }
    }
    files.close(kReaderFileNumber);
    checkStatusText(reading);
    return 0;
}
