#include "freq_table.h"

#include "field_reader.h"

namespace store {

namespace {

// Both tools write the same table, so one plan file serves receiver and
// transmitter alike.
constexpr std::array<std::string_view, 4> kTableLines[] = {
    {"CH3F ,", ",           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open "},
    {"CH2F ,", ",           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short"},
    {"CH1F ,", ",           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open "},
    {"CH0F ,", ",           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short"},
};

}  // namespace

std::string FormatFrequencyTable(const std::array<std::string, 4>& channels) {
    std::string out;
    for (std::size_t line = 0; line < 4; ++line) {
        out += kTableLines[line][0];
        out += QuoteIfNeeded(channels[3 - line]);
        out += kTableLines[line][1];
        out += "\r\n";
    }
    return out;
}

int ChannelForKey(std::string_view key) {
    if (key == "CH0F") return 0;
    if (key == "CH1F") return 1;
    if (key == "CH2F") return 2;
    if (key == "CH3F") return 3;
    return -1;
}

}  // namespace store
