#pragma once

#include <array>
#include <string>
#include <string_view>

namespace synth {

// The receiver's local oscillator is an integer-N synthesizer: R divides the
// 21.25 MHz reference down to the comparison step, and the oscillator is
// divided by N = 128 M + A (program counter M, swallow counter A of a
// divide-by-128 prescaler). The oscillator runs 21.7 MHz below the channel.
constexpr double kReceiverRefFrequency = 21.25;  // MHz
constexpr int kPrescalerModulus = 128;
constexpr double kIntermediateFrequency = 21.7;  // MHz

struct ReceiverChannel {
    std::string stepText;      // "12.5" or "10.0" (kHz)
    bool loValid = false;      // false when N does not fit 32 bits
    double loFrequency = 0.0;  // the oscillator frequency reached, MHz
    std::string rCounter;      // decimal, or "--"
    std::string programCounter;
    std::string swallowCounter;
    std::array<std::string, 5> registers;  // R low, R high, M low, M high, A
    bool hasComma = false;                 // the text holds a decimal comma
    bool inexact = false;                  // the frequency cannot be produced with this step
    // The channel the counters really tune to (LO' + IF) and the one asked
    // for (the text with its comma read as a point), MHz; valid with loValid.
    double madeFrequency = 0.0;
    double wantedFrequency = 0.0;
};

// Everything one channel's text gives; the text is read as the box shows it.
ReceiverChannel ComputeReceiverChannel(std::string_view frequencyText);

}  // namespace synth
