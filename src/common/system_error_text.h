#pragma once

#include <QString>
#include <cstring>

namespace glove {

// The system's words for an errno value, as the reports of failed system calls give them.
inline QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace glove
