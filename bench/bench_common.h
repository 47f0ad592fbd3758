#pragma once

// What every benchmark shares, with a glove on a pseudo-terminal or not: its command line, its
// percentiles, the counter in a frame and a display that shows nothing.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/glove_frame.h"
#include "frame_maker.h"
#include "monitor/glove_display.h"

namespace bench {

// Reads the command line: the benchmark's description, --help and its own options.
inline void parseCommandLine(QCommandLineParser& parser, const QCoreApplication& app,
                             const char* description, const QList<QCommandLineOption>& options) {
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addOptions(options);
    parser.process(app);
}

// The number of counted frames a benchmark streams: a minute of them unless told.
inline QCommandLineOption framesOption(const char* what) {
    return {"frames", QStringLiteral("Frames to %1 (default 2880, a minute).").arg(what), "n",
            "2880"};
}

// The value that p percent of the figures do not exceed; NaN where there are none.
inline double percentile(std::vector<double> values, std::size_t p) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * p / 100)];
}

// The counter a frame carries in values 7 to 10.
inline std::uint32_t counterOf(const glove::Frame& values) {
    glove_sim::CounterValues counter{};
    for (std::size_t i = 0; i < counter.size(); ++i) {
        counter[i] = static_cast<std::uint8_t>(values[glove_sim::counterFirstValue - 1 + i]);
    }
    return glove_sim::decodeCounter(counter);
}

// For a loop whose display is not measured.
class NoDisplay final : public glove::GloveDisplay {
  public:
    void setText(const QString&) override {}
    void setThumbLeft(float) override {}
    void setThumbWidth(float) override {}
    void setFingerTop(int, float) override {}
};

}  // namespace bench
