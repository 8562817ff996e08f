#pragma once

#include <string>
#include <string_view>

namespace store {

// The text with its control bytes written out as \n, \r, \t or \xNN, so it
// stays one line that cannot move a terminal's cursor: a name or a message
// from a command line, a module or a record is shown as it is, never obeyed.
std::string EscapeControlBytes(std::string_view text);

}  // namespace store
