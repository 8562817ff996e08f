#include "frequency.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "leading_number.h"

namespace channel {

const std::array<const char*, 4> kDefaultFrequencies = {"434.700", "434.600", "433.920", "434.075"};

std::string FormatFixed(double value, int decimals, char separator) {
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    if (text == "-0" || text.rfind("-0.", 0) == 0) {
        // A value that rounds to zero is shown without a sign.
        if (text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    }
    for (char& c : text) {
        if (c == '.') c = separator;
    }
    return text;
}

std::string FormatFrequency(double value) {
    return FormatFixed(value, 3, '.');
}

std::vector<std::string> FrequencyPresetList() {
    std::vector<std::string> list = {"433.920", "---.----"};
    // Accumulating in double precision leaves the last value just under
    // 434.7, which is why 434.700 is part of the list.
    for (double v = kLowestFrequency; v < kHighestFrequency; v += kGridStep) {
        list.push_back(FormatFrequency(v));
    }
    return list;
}

std::string StepFrequency(std::string_view text, StepDirection direction) {
    const double x = LeadingNumber(text);
    const bool up = direction == StepDirection::Up;
    double v;
    if (x == kOffGridFrequency) {
        v = up ? 433.925 : 433.900;
    } else {
        v = up ? x + kGridStep : x - kGridStep;
        // The small lift keeps a quotient that should be whole but comes out
        // just below it in double precision on its grid value.
        v = std::floor(v / kGridStep + 0.00001) * kGridStep;
        // NaN (from an infinite text) fails both comparisons; treat it as below.
        if (!(v >= kLowestFrequency)) v = kLowestFrequency;
        if (v > kHighestFrequency) v = kHighestFrequency;
    }
    return FormatFrequency(v);
}

bool FrequencyAcceptable(std::string_view text, bool gridCheck) {
    return FrequencyAcceptable(text, kLowestFrequency, kHighestFrequency, gridCheck ? 25 : 0);
}

bool FrequencyAcceptable(std::string_view text, double lowMHz, double highMHz, int gridKHz) {
    const double x = LeadingNumber(text);
    if (!(x >= lowMHz && x <= highMHz)) return false;
    if (gridKHz > 0 && x != kOffGridFrequency) {
        // Round half to even, like the module's firmware tools; x is in the
        // band here, so the kHz value fits easily.
        const auto kHz = static_cast<std::int64_t>(std::nearbyint(x * 1000.0));
        if (kHz % gridKHz != 0) return false;
    }
    return true;
}

std::string CommasToPoints(std::string text) {
    for (char& c : text) {
        if (c == ',') c = '.';
    }
    return text;
}

}  // namespace channel
