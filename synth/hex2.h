#pragma once

#include <optional>
#include <string>

namespace synth {

// Two upper-case hexadecimal digits of the low eight bits of v (two's
// complement for a negative v): 6 -> "06", 1700 -> "A4", -1736 -> "38".
std::string hex2(long long v);

// Shown in a register cell whose value does not fit a 32-bit integer: such a
// frequency text is far outside the band, and a wrapped or clamped byte would
// look like a plausible register.
extern const char* const kUnrepresentable;

// floor(x) as a 32-bit integer, or nothing when x is not finite or the result
// is outside the 32-bit range.
std::optional<long long> FloorInt32(double x);

// Round half to even to a 32-bit integer, or nothing when out of range.
std::optional<long long> RoundInt32(double x);

// hex2 of a value that may be missing.
std::string hex2(const std::optional<long long>& v);

}  // namespace synth
