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
// One unit of the 21-bit fraction, Hz (13 MHz / (2^21 - 0.5)).
constexpr double kTransmitterStepHz = kTransmitterRefFrequency * 1e6 / 2097151.5;

struct TransmitterChannel {
    // PLLINT, PLLFRAC0..2, POWCFG0, POWCFG1, FDEV, GFDIV, GFXOSC, (Reserve),
    // VAC0, VAC1.
    std::array<std::string, 12> registers;
    bool hasComma = false;  // the text holds a decimal comma
    // The ratio as the registers hold it, and the channel it really makes
    // next to the one asked for (MHz); valid with ratioValid.
    bool ratioValid = false;
    long long ratioInteger = 0;   // PLLINT
    long long ratioFraction = 0;  // FRAC, 0 .. 2097151
    double madeFrequency = 0.0;
    double wantedFrequency = 0.0;
};

TransmitterChannel ComputeTransmitterChannel(std::string_view frequencyText);

}  // namespace synth
