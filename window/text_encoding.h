#pragma once

#include <string>

namespace window {

// Bytes from the serial line are characters one to one (Latin-1); the
// window's texts are UTF-8.
std::string Latin1ToUtf8(const std::string& bytes);
void AppendLatin1AsUtf8(std::string& out, const std::string& bytes);

}  // namespace window
