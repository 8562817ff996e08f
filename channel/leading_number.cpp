#include "leading_number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace channel {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // Collect the mantissa ourselves: from_chars does not take a leading "+"
    // and we want "12." and ".5" as numbers too.
    std::string number;
    bool sawDigit = false;
    bool sawPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            number += c;
            sawDigit = true;
        } else if (c == '.' && !sawPoint) {
            number += c;
            sawPoint = true;
        } else {
            break;
        }
    }
    if (!sawDigit) return 0.0;

    // An exponent counts only when it is complete: "434e" is 434.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        const std::size_t digitsStart = j;
        while (j < text.size() && isDigit(text[j])) exponent += text[j++];
        if (j > digitsStart) number += exponent;
    }

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on overflow and underflow; tell
        // the two apart by the exponent's sign.
        const bool tiny = number.find("e-") != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

long long LeadingHexNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) break;
        // Replies carry two digits; saturate rather than overflow on noise.
        if (value > (std::numeric_limits<long long>::max() >> 4)) break;
        value = value * 16 + d;
    }
    return value;
}

}  // namespace channel
