#include "record/recording_format.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/printable_text.h"
#include "common/unique_fd.h"

namespace glove::record {

namespace {

constexpr int kColumnCount = 2 + kFrameLength;
constexpr int kLargestValue = 255;
constexpr std::int64_t kMicrosPerMilli = 1000;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The number that all of `text` is, if it is one.
template <typename Number, typename... Format>
std::optional<Number> numberIn(std::string_view text, Format... format) {
    Number value{};
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, format...);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
    return value;
}

// Checks a recording line by line as its text arrives, in pieces of any size.
class Checker {
  public:
    explicit Checker(const std::string& name) : name_(name) {}

    void feed(std::string_view text) {
        while (!text.empty()) {
            const std::size_t end = text.find(kLineEnd);
            pending_.append(text.substr(0, end));
            // A line this long is no row; say so before holding any more of it.
            if (pending_.size() > kLongestLine + 1) {
                fail("a line longer than " + std::to_string(kLongestLine) + " characters");
            }
            if (end == std::string_view::npos) return;
            line(pending_, true);
            pending_.clear();
            text.remove_prefix(end + 1);
        }
    }

    Recording finish() {
        // Only the very last line can lack its end: the writer stopped in the middle of it.
        if (!pending_.empty() || lineNumber_ == 0) line(pending_, false);
        return std::move(recording_);
    }

  private:
    [[noreturn]] void fail(const std::string& why) const {
        throw BadRecording(printableText(name_) + ':' + std::to_string(lineNumber_ + 1) + ": " +
                           why);
    }

    void line(std::string_view text, bool ended) {
        // Spreadsheets may save with CR LF line ends and a byte order mark.
        if (ended && text.ends_with('\r')) text.remove_suffix(1);
        if (lineNumber_ == 0) {
            if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
            if (text != kHeader)
                fail("not a recording: the first line is not " + std::string(kHeader));
        } else if (!ended) {
            recording_.cutLine = lineNumber_ + 1;
        } else {
            recording_.rows.push_back(row(text));
        }
        ++lineNumber_;
    }

    Row row(std::string_view text) const {
        std::array<std::string_view, kColumnCount> fields;
        int count = 0;
        for (std::size_t start = 0;; ++count) {
            const std::size_t comma = text.find(',', start);
            if (count < kColumnCount) fields[count] = text.substr(start, comma - start);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (++count != kColumnCount) {
            fail(std::to_string(count) + (count == 1 ? " column" : " columns") +
                 " where a row has " + std::to_string(kColumnCount));
        }

        Row row;
        row.elapsedMicros = elapsedMicros(fields[1]);
        if (!recording_.rows.empty() && row.elapsedMicros < recording_.rows.back().elapsedMicros) {
            fail("elapsed_ms goes back from " +
                 formatElapsed(recording_.rows.back().elapsedMicros) + " to " +
                 printableText(fields[1]));
        }
        for (int i = 0; i < kFrameLength; ++i) {
            const std::string_view field = fields[2 + i];
            const std::optional<int> value = numberIn<int>(field);
            if (!value || *value < 0 || *value > kLargestValue) {
                fail('v' + std::to_string(i + 1) + " is '" + printableText(field) +
                     "', not a whole number from 0 to " + std::to_string(kLargestValue));
            }
            row.values[i] = *value;
        }
        if (row.values[0] != kFrameMarker) {
            fail("v1 is " + std::to_string(row.values[0]) + ", but a frame starts with " +
                 std::to_string(kFrameMarker));
        }
        return row;
    }

    std::int64_t elapsedMicros(std::string_view field) const {
        const std::optional<double> ms = numberIn<double>(field, std::chars_format::fixed);
        if (!ms || !std::isfinite(*ms) || *ms < 0 || *ms > kLongestElapsedMs) {
            fail("elapsed_ms is '" + printableText(field) +
                 "', not a number of milliseconds from 0 to 1e11");
        }
        return std::llround(*ms * static_cast<double>(kMicrosPerMilli));
    }

    const std::string& name_;
    std::string pending_;
    int lineNumber_ = 0;  // lines taken so far
    Recording recording_;
};

}  // namespace

std::string formatWallTime(const timespec& wallTime) {
    constexpr long kNanosPerMilli = 1'000'000;
    constexpr long kSecondsPerMinute = 60;
    constexpr long kSecondsPerHour = 3600;
    tm local{};
    localtime_r(&wallTime.tv_sec, &local);
    const long offset = std::labs(local.tm_gmtoff);
    std::array<char, 48> text{};
    const int length = std::snprintf(
        text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03ld%c%02ld:%02ld",
        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
        local.tm_sec, wallTime.tv_nsec / kNanosPerMilli, local.tm_gmtoff < 0 ? '-' : '+',
        offset / kSecondsPerHour, offset % kSecondsPerHour / kSecondsPerMinute);
    return {text.data(), static_cast<std::size_t>(length)};
}

std::string formatElapsed(std::int64_t elapsedMicros) {
    std::array<char, 32> text{};
    const int length = std::snprintf(text.data(), text.size(), "%lld.%03lld",
                                     static_cast<long long>(elapsedMicros / kMicrosPerMilli),
                                     static_cast<long long>(elapsedMicros % kMicrosPerMilli));
    return {text.data(), static_cast<std::size_t>(length)};
}

std::string formatRow(const timespec& wallTime, std::int64_t elapsedMicros, const Frame& values) {
    std::string row = formatWallTime(wallTime);
    row += ',';
    row += formatElapsed(elapsedMicros);
    for (const int value : values) {
        row += ',';
        row += std::to_string(value);
    }
    row += kLineEnd;
    return row;
}

Recording parseRecording(std::string_view text, const std::string& name) {
    Checker checker(name);
    checker.feed(text);
    return checker.finish();
}

Recording readRecording(const std::string& path) {
    const auto cannotRead = [&path] {
        return BadRecording(printableText(path) + ": cannot be read: " + std::strerror(errno));
    };
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw cannotRead();
    Checker checker(path);
    std::array<char, 65536> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n == 0) return checker.finish();
        if (n < 0) {
            if (errno == EINTR) continue;
            throw cannotRead();
        }
        checker.feed({buffer.data(), static_cast<std::size_t>(n)});
    }
}

}  // namespace glove::record
