#include "transmitter_registers.h"

#include <cmath>
#include <optional>

#include "frequency.h"
#include "hex2.h"
#include "leading_number.h"

namespace synth {

namespace {

// The chip's fraction scale is 2^21 - 0.5, not 2^21; 433.600 MHz shows the
// difference in PLLFRAC0.
constexpr double kFractionScale = 2097151.5;
constexpr double kDeviationKHz = 3.0;
constexpr double kBandLimit = 800.0;  // MHz: oscillator divisor 4 below, 8 above

}  // namespace

TransmitterChannel ComputeTransmitterChannel(std::string_view frequencyText) {
    TransmitterChannel out;
    const std::string pointed = channel::CommasToPoints(std::string(frequencyText));
    out.hasComma = pointed != frequencyText;
    const double f = channel::LeadingNumber(pointed);
    out.wantedFrequency = f;

    // Double precision in this order; every integer must fit 32 bits, or its
    // register is shown as unrepresentable.
    const double q = f / kTransmitterRefFrequency;
    const auto pllint = FloorInt32(q);
    std::optional<long long> frac0, frac1, frac2, vac0, vac1;
    if (pllint) {
        const double frac = (q - static_cast<double>(*pllint)) * kFractionScale;
        frac2 = FloorInt32(frac / 65536.0);
        frac1 = FloorInt32((frac - 65536.0 * static_cast<double>(*frac2)) / 256.0);
        frac0 = FloorInt32(frac - 65536.0 * static_cast<double>(*frac2) -
                           256.0 * static_cast<double>(*frac1));

        const double divisor = f < kBandLimit ? 4.0 : 8.0;
        const double expressed =
            static_cast<double>(*pllint) + (std::floor(frac) + 0.5) / kFractionScale;
        const auto whole = FloorInt32(frac);
        if (whole) {
            out.ratioValid = true;
            out.ratioInteger = *pllint;
            out.ratioFraction = *whole;
            // The registers express the ratio with half a unit added to
            // the fraction, as the oscillator setting below takes it; PLLINT
            // is one byte, so a ratio too big for it wraps.
            out.madeFrequency =
                (static_cast<double>(*pllint & 0xFF) + (std::floor(frac) + 0.5) / kFractionScale) *
                kTransmitterRefFrequency;
        }
        const auto vac = FloorInt32(expressed / divisor * 32.0 + 0.5);
        if (vac) {
            const auto high = FloorInt32(static_cast<double>(*vac) / 256.0);
            vac0 = *vac - 256 * *high;
            vac1 = 64 + *high;
        }
    }

    // Deviation: E = 2 when 3000 x deviation <= 2285, else 3; G is the
    // deviation in register units. With the fixed 3 kHz this is 116 (74).
    const int e = 3000.0 * kDeviationKHz <= 2285.0 ? 2 : 3;
    const double g = (1000.0 * kDeviationKHz) / (kTransmitterRefFrequency * 1e6) * kFractionScale;
    const auto fdev = FloorInt32((g - 0.5) * 64.0 / std::pow(2.0, e) / 190.0);

    out.registers = {hex2(pllint), hex2(frac0), hex2(frac1),          hex2(frac2),
                     kPowCfg0,     kPowCfg1,    hex2(*fdev + 32 * e), "70",
                     "40",         kReserveReg, hex2(vac0),           hex2(vac1)};
    return out;
}

}  // namespace synth
