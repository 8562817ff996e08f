#pragma once

#include <string_view>

namespace channel {

// The value of the number at the start of a text: leading blanks skipped, an
// optional sign, decimal digits with at most one ".", and an optional exponent
// ("1e30"). Reading stops at the first character that cannot continue the
// number; "," is never a decimal separator. A text without a number gives 0.
// Independent of the process locale. Values beyond the double range give
// plus or minus infinity.
double LeadingNumber(std::string_view text);

// The same for hexadecimal digits 0-9, A-F, a-f (no sign, no point): "Er"
// reads as 14, "zz" as 0.
long long LeadingHexNumber(std::string_view text);

}  // namespace channel
