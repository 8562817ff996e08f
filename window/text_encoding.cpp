#include "text_encoding.h"

namespace window {

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    AppendLatin1AsUtf8(out, bytes);
    return out;
}

void AppendLatin1AsUtf8(std::string& out, const std::string& bytes) {
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

}  // namespace window
