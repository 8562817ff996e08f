#include "settings_file.h"

#include <limits>

#include "field_reader.h"

namespace store {

const std::array<std::string_view, 4> kReceiverSettingsComments = {
    "           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Open ",
    "           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Short",
    "           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Open ",
    "           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Short",
};

const std::array<std::string_view, 4> kTransmitterSettingsComments = {
    "           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open ",
    "           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short",
    "           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open ",
    "           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short",
};

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::array<std::string_view, 4> kChannelKeys = {"CH3F ,", "CH2F ,", "CH1F ,", "CH0F ,"};

void appendLine(std::string& out, std::string_view head, std::string_view value,
                std::string_view tail) {
    out += head;
    out += value;
    out += tail;
    out += kLineEnd;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string FormatSettings(const SettingsValues& values,
                           const std::array<std::string_view, 4>& channelComments) {
    std::string out;
    appendLine(out, "TOP  ,", FormatTwips(values.top), ",            Window Top position");
    appendLine(out, "LEFT ,", FormatTwips(values.left), ",            Window Left position");
    appendLine(out, "COM  ,", QuoteIfNeeded(values.com),
               ",              Select Com Port: [COM1 to COM16]");
    appendLine(out, "LOGF ,", QuoteIfNeeded(values.logFileName), ",  Log File Name");
    for (std::size_t line = 0; line < 4; ++line) {
        const std::size_t channel = 3 - line;
        out += kChannelKeys[line];
        out += QuoteIfNeeded(values.channels[channel]);
        out += ',';
        out += channelComments[line];
        out += kLineEnd;
    }
    if (values.debug) {
        out += "DEBUG,ON,";
        out += kLineEnd;
    }
    return out;
}

std::string FormatTwips(long value) {
    // Work on the unsigned magnitude so that the most negative long has one.
    unsigned long magnitude = static_cast<unsigned long>(value);
    if (value < 0) magnitude = 0UL - magnitude;
    std::string out(1, value < 0 ? '-' : ' ');
    out += std::to_string(magnitude);
    out += ' ';
    return out;
}

std::optional<long> ParseTwips(std::string_view field) {
    // The reader trims fields already; trimming here as well lets a quoted
    // " 1440 " and FormatTwips' own output parse.
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t'))
        field.remove_prefix(1);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);

    std::size_t i = 0;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }

    // The magnitude may reach one beyond LONG_MAX for a negative value.
    const unsigned long limit =
        static_cast<unsigned long>(std::numeric_limits<long>::max()) + (negative ? 1UL : 0UL);
    const std::size_t digitsStart = i;
    unsigned long magnitude = 0;
    for (; i < field.size() && isDigit(field[i]); ++i) {
        const unsigned long digit = static_cast<unsigned long>(field[i] - '0');
        // A number too large for a long is still a number: it saturates, and
        // the window's bounds then put the window at the screen's edge.
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (i == digitsStart) return std::nullopt;

    if (i < field.size() && field[i] == '.') {
        ++i;
        const std::size_t fractionStart = i;
        while (i < field.size() && isDigit(field[i])) ++i;
        if (i == fractionStart) return std::nullopt;
        // Halves round away from zero, so 0.5 -> 1 and -0.5 -> -1.
        if (field[fractionStart] >= '5' && magnitude < limit) ++magnitude;
    }
    if (i != field.size()) return std::nullopt;

    if (!negative) return static_cast<long>(magnitude);
    if (magnitude == 0) return 0L;
    // -(magnitude - 1) - 1 stays inside long even for LONG_MIN.
    return -static_cast<long>(magnitude - 1) - 1;
}

}  // namespace store
