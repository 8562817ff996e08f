#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace record {

// A JSON string: quotes and backslashes escaped, control bytes as \u00XX.
// Other bytes pass as they are (the tools' texts are UTF-8 or Latin-1 bytes).
inline std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace record
