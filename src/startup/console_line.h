#pragma once

#include <QString>
#include <cstdio>

#include "common/printable_text.h"

namespace glove {

// One line on `stream`, printable whatever names or paths it holds.
inline void sayLine(std::FILE* stream, const QString& line) {
    std::fputs(qPrintable(QString::fromStdString(printableText(line.toStdString())) + '\n'),
               stream);
}

}  // namespace glove
