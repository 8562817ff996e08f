#include "hex2.h"

#include <cmath>
#include <cstdint>

namespace synth {

const char* const kUnrepresentable = "--";

std::string hex2(long long v) {
    static const char digits[] = "0123456789ABCDEF";
    const auto low = static_cast<unsigned>(static_cast<unsigned long long>(v) & 0xFFu);
    return std::string{digits[low >> 4], digits[low & 0xF]};
}

std::string hex2(const std::optional<long long>& v) {
    return v ? hex2(*v) : kUnrepresentable;
}

namespace {

std::optional<long long> InInt32(double x) {
    if (!std::isfinite(x) || x < INT32_MIN || x > INT32_MAX) return std::nullopt;
    return static_cast<long long>(x);
}

}  // namespace

std::optional<long long> FloorInt32(double x) {
    return InInt32(std::floor(x));
}

std::optional<long long> RoundInt32(double x) {
    return InInt32(std::nearbyint(x));
}

}  // namespace synth
