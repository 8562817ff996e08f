#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace store {

// The channel comment texts (lines CH3F to CH0F) of each tool's settings file.
extern const std::array<std::string_view, 4> kReceiverSettingsComments;     // CH3F..CH0F
extern const std::array<std::string_view, 4> kTransmitterSettingsComments;  // CH3F..CH0F

struct SettingsValues {
    long top = 0;   // twips
    long left = 0;  // twips
    std::string com;
    std::string logFileName;
    std::array<std::string, 4> channels;  // index = channel
    bool debug = false;
};

// The whole settings file, CR LF line ends, lines TOP, LEFT, COM, LOGF,
// CH3F..CH0F and, when debug is set, "DEBUG,ON,". Text values that would not
// read back unchanged are written in double quotes.
std::string FormatSettings(const SettingsValues& values,
                           const std::array<std::string_view, 4>& channelComments);

// Window positions are written as a blank (or "-") , the whole number, a blank.
std::string FormatTwips(long value);

// A TOP or LEFT field as a whole number of twips; nothing when the field is
// not a number (letters, nothing at all).
std::optional<long> ParseTwips(std::string_view field);

}  // namespace store
