#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace glove {

// Text as a message shows it: one line that cannot steer the terminal. Printable ASCII and
// well-formed UTF-8 characters stay; control characters (C0, DEL and C1) and bytes that are no
// part of a well-formed character become \xNN, one for each byte.
inline std::string printableText(std::string_view text) {
    // The length of the well-formed, non-control UTF-8 character at `at`; 0 if there is none.
    const auto characterLength = [text](std::size_t at) -> std::size_t {
        const auto byte = [&](std::size_t i) {
            return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0U;
        };
        const unsigned lead = byte(0);
        if (lead >= 0x20 && lead < 0x7f) return 1;
        std::size_t length = 0;
        unsigned low = 0x80;  // the second byte's bounds rule out overlong forms and surrogates
        unsigned high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            if (lead == 0xc2) low = 0xa0;  // U+0080..U+009F are the C1 controls
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            if (lead == 0xe0) low = 0xa0;
            if (lead == 0xed) high = 0x9f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            if (lead == 0xf0) low = 0x90;
            if (lead == 0xf4) high = 0x8f;
        } else {
            return 0;
        }
        if (byte(1) < low || byte(1) > high) return 0;
        for (std::size_t i = 2; i < length; ++i) {
            if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
        }
        return length;
    };
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        if (const std::size_t length = characterLength(at); length > 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[at]));
            out += escaped;
            ++at;
        }
    }
    return out;
}

}  // namespace glove
