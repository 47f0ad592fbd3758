#include "support/recording_display.h"

#include <QRegularExpression>

#include "monitor/status_text.h"

namespace glove::test {

void RecordingDisplay::setText(const QString& text) {
    static const QRegularExpression values(
        QStringLiteral("^ {18}$|^-?[0-9.e+-]+(  -?[0-9.e+-]+){9}$"));
    const bool own = text == status::kConnecting || text == status::kNoDevice ||
                     text == status::kGesture || text == status::kBattery ||
                     values.match(text).hasMatch();
    if (!own && oddTexts++ == 0) firstOddText = text;
    texts.emplace_back(pass, text);
}

void RecordingDisplay::setThumbLeft(float left) {
    bars.thumbLeft = left;
    stores.emplace_back("thumb left", left);
}

void RecordingDisplay::setThumbWidth(float width) {
    bars.thumbWidth = width;
    stores.emplace_back("thumb width", width);
}

void RecordingDisplay::setFingerTop(int finger, float top) {
    bars.fingerTops.at(static_cast<std::size_t>(finger)) = top;
    stores.emplace_back("finger " + std::to_string(finger), top);
}

QStringList RecordingDisplay::allTexts() const {
    QStringList list;
    for (const auto& [p, text] : texts) list << text;
    return list;
}

QStringList RecordingDisplay::textsOfPass(int wanted) const {
    QStringList list;
    for (const auto& [p, text] : texts) {
        if (p == wanted) list << text;
    }
    return list;
}

QString RecordingDisplay::lastTextOfPass(int wanted) const {
    const QStringList list = textsOfPass(wanted);
    return list.isEmpty() ? QString() : list.last();
}

QString RecordingDisplay::readingShownBy(int wanted) const {
    QString shown;
    for (const auto& [p, text] : texts) {
        if (p > wanted) break;
        if (text != status::kConnecting && text != status::kNoDevice) shown = text;
    }
    return shown;
}

}  // namespace glove::test
