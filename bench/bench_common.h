#pragma once

// What every benchmark shares, with a glove on a pseudo-terminal or not: its command line, its
// percentiles and a display that shows nothing.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <vector>

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

// For a loop whose display is not measured.
class NoDisplay final : public glove::GloveDisplay {
  public:
    void setText(const QString&) override {}
    void setThumbLeft(float) override {}
    void setThumbWidth(float) override {}
    void setFingerTop(int, float) override {}
};

}  // namespace bench
