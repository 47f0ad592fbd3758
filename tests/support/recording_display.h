#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "monitor/glove_display.h"

namespace glove::test {

// Records what the Connect loop shows, in order and pass by pass. Whoever drives the loop
// advances `pass` at each yield; pass 0 is the setup before the first yield.
class RecordingDisplay final : public GloveDisplay {
  public:
    struct Bars {
        float thumbLeft = 0;
        float thumbWidth = 0;
        std::array<float, 4> fingerTops{};
        friend bool operator==(const Bars&, const Bars&) = default;
    };

    void setText(const QString& text) override;
    void setThumbLeft(float left) override;
    void setThumbWidth(float width) override;
    void setFingerTop(int finger, float top) override;

    [[nodiscard]] QStringList allTexts() const;
    [[nodiscard]] QStringList textsOfPass(int pass) const;
    // What the text box held when the pass ended; empty if the pass set no text.
    [[nodiscard]] QString lastTextOfPass(int pass) const;
    // The last reading shown up to the end of the pass: the last text that is neither
    // "Connecting" nor " No Device Found".
    [[nodiscard]] QString readingShownBy(int pass) const;

    int pass = 0;
    Bars bars;
    std::vector<Bars> barsAtPassEnd;             // barsAtPassEnd[k]: the bars when pass k ended
    std::vector<std::pair<int, QString>> texts;  // (pass, text), in order
    std::vector<std::pair<std::string, float>> stores;  // every bar store, in order
    int oddTexts = 0;                                   // texts that are none of the program's own
    QString firstOddText;
};

}  // namespace glove::test
