#include "receiver_counters.h"

#include <cmath>
#include <optional>

#include "frequency.h"
#include "hex2.h"
#include "leading_number.h"

namespace synth {

namespace {

std::string Decimal(const std::optional<long long>& v) {
    return v ? std::to_string(*v) : kUnrepresentable;
}

}  // namespace

ReceiverChannel ComputeReceiverChannel(std::string_view frequencyText) {
    ReceiverChannel out;

    // The step comes from the text as it stands, so "434,075" picks its step
    // from 434 MHz. A frequency whose hertz do not fit 32 bits is not a
    // multiple of 12.5 kHz for our purposes.
    const double typed = channel::LeadingNumber(frequencyText);
    const auto hertz = RoundInt32(typed * 1e6);
    const bool fineStep = !(hertz && *hertz % 12500 == 0);
    const double step = fineStep ? 10.0 : 12.5;  // kHz
    out.stepText = fineStep ? "10.0" : "12.5";

    const std::string pointed = channel::CommasToPoints(std::string(frequencyText));
    out.hasComma = pointed != frequencyText;
    const double f = channel::LeadingNumber(pointed);
    out.wantedFrequency = f;

    const double lo = f - kIntermediateFrequency;
    // Quotients that should be whole can come out a little below; 0.1 lifts
    // them back, any smaller fraction is cut off.
    const auto n = FloorInt32(lo * 1000.0 / step + 0.1);
    const auto r = FloorInt32(kReceiverRefFrequency * 1000.0 / step);
    std::optional<long long> m;
    std::optional<long long> a;
    if (n) {
        m = FloorInt32(static_cast<double>(*n) / kPrescalerModulus);
        a = *n - kPrescalerModulus * *m;
        out.loValid = true;
        out.loFrequency = static_cast<double>(*n) * step / 1000.0;
        // The module makes what its registers hold: M is two bytes and A
        // one, so a counter too big for them wraps, far from the channel.
        const long long held = kPrescalerModulus * (*m & 0xFFFF) + (*a & 0xFF);
        out.madeFrequency = static_cast<double>(held) * step / 1000.0 + kIntermediateFrequency;
        out.inexact = std::fabs(typed - (out.loFrequency + kIntermediateFrequency)) > 1e-10;
    } else {
        out.inexact = true;
    }

    out.rCounter = Decimal(r);
    out.programCounter = Decimal(m);
    out.swallowCounter = Decimal(a);
    // The low byte of a counter is the same whichever way "mod 256" rounds,
    // so hex2 of the counter itself is its low register.
    const auto high = [](const std::optional<long long>& v) {
        return v ? FloorInt32(static_cast<double>(*v) / 256.0) : std::nullopt;
    };
    out.registers = {hex2(r), hex2(high(r)), hex2(m), hex2(high(m)), hex2(a)};
    return out;
}

}  // namespace synth
