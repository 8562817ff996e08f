#pragma once

#include <array>
#include <string>
#include <string_view>

namespace synth {

// The transmitter chip takes a fractional-N setting (integer part and a
// 21-bit fraction of the ratio between the channel and a 13 MHz reference),
// a deviation setting, an oscillator pair derived from the ratio, and a few
// fixed configuration bytes.
constexpr double kTransmitterRefFrequency = 13.0;  // MHz
constexpr const char* kPowCfg0 = "1C";
constexpr const char* kPowCfg1 = "0B";
constexpr const char* kReserveReg = "FF";
// The common parameters the write stores once and the check expects back.
constexpr const char* kCommonParam = "06,29,B8";

struct TransmitterChannel {
    // PLLINT, PLLFRAC0..2, POWCFG0, POWCFG1, FDEV, GFDIV, GFXOSC, (Reserve),
    // VAC0, VAC1.
    std::array<std::string, 12> registers;
    bool hasComma = false;  // the text holds a decimal comma
};

TransmitterChannel ComputeTransmitterChannel(std::string_view frequencyText);

}  // namespace synth
