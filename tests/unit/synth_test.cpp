// Register values of both synthesizers, and what they mean across the band.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "frequency.h"
#include "hex2.h"
#include "receiver_counters.h"
#include "transmitter_registers.h"

namespace {

std::string Joined(const std::array<std::string, 5>& r) {
    std::string out;
    for (const auto& v : r) out += (out.empty() ? "" : " ") + v;
    return out;
}

std::string Joined(const std::array<std::string, 12>& r) {
    std::string out;
    for (const auto& v : r) out += (out.empty() ? "" : " ") + v;
    return out;
}

TEST(Hex2, LowByteInUpperCase) {
    EXPECT_EQ(synth::hex2(6), "06");
    EXPECT_EQ(synth::hex2(1700), "A4");
    EXPECT_EQ(synth::hex2(255), "FF");
    EXPECT_EQ(synth::hex2(-1736), "38");
    EXPECT_EQ(synth::hex2(-1), "FF");
}

TEST(ReceiverCounters, EdgeCases) {
    struct Case {
        const char* text;
        const char* step;
        const char* lo;  // four decimals
        const char* r;
        const char* m;
        const char* a;
        const char* registers;
        bool alarm;
    };
    const Case cases[] = {
        {"434.700", "12.5", "413.0000", "1700", "258", "16", "A4 06 02 01 10", false},
        {"434.600", "12.5", "412.9000", "1700", "258", "8", "A4 06 02 01 08", false},
        {"433.920", "10.0", "412.2200", "2125", "322", "6", "4D 08 42 01 06", false},
        {"434.075", "12.5", "412.3750", "1700", "257", "94", "A4 06 01 01 5E", false},
        {"433.075", "12.5", "411.3750", "1700", "257", "14", "A4 06 01 01 0E", false},
        {"434.0751", "10.0", "412.3700", "2125", "322", "21", "4D 08 42 01 15", true},
        // A comma: the step from the part before it, the registers from the
        // whole value read with a point, and the alarm.
        {"434,075", "12.5", "412.3750", "1700", "257", "94", "A4 06 01 01 5E", true},
        // Produced exactly with the 10 kHz step (N = 41238).
        {"434.080", "10.0", "412.3800", "2125", "322", "22", "4D 08 42 01 16", false},
        // Not a number computes as 0 MHz.
        {"abc", "12.5", "-21.7000", "1700", "-14", "56", "A4 06 F2 FF 38", false},
    };
    for (const Case& c : cases) {
        const synth::ReceiverChannel out = synth::ComputeReceiverChannel(c.text);
        EXPECT_EQ(out.stepText, c.step) << c.text;
        EXPECT_EQ(channel::FormatFixed(out.loFrequency, 4), c.lo) << c.text;
        EXPECT_EQ(out.rCounter, c.r) << c.text;
        EXPECT_EQ(out.programCounter, c.m) << c.text;
        EXPECT_EQ(out.swallowCounter, c.a) << c.text;
        EXPECT_EQ(Joined(out.registers), c.registers) << c.text;
        EXPECT_EQ(out.hasComma || out.inexact, c.alarm) << c.text;
    }
}

TEST(TransmitterRegisters, EdgeCases) {
    struct Case {
        const char* text;
        const char* registers;
        bool comma;
    };
    const Case cases[] = {
        {"434.700", "21 E0 07 0E 1C 0B 74 70 40 FF 0C 41", false},
        {"434.600", "21 DC C8 0D 1C 0B 74 70 40 FF 0B 41", false},
        {"433.920", "21 5B 1C 0C 1C 0B 74 70 40 FF 0B 41", false},
        {"434.075", "21 07 7E 0C 1C 0B 74 70 40 FF 0B 41", false},
        {"433.075", "21 E0 07 0A 1C 0B 74 70 40 FF 0B 41", false},
        {"868.300", "42 95 5A 19 1C 0B 74 70 40 FF 0B 41", false},  // divisor 8
        {"434,075", "21 07 7E 0C 1C 0B 74 70 40 FF 0B 41", true},
        // The scale is 2^21 - 0.5: with 2^21, PLLFRAC0 would be B5.
        {"433.600", "21 B4 52 0B 1C 0B 74 70 40 FF 0B 41", false},
        {"not a number", "00 00 00 00 1C 0B 74 70 40 FF 00 40", false},
    };
    for (const Case& c : cases) {
        const synth::TransmitterChannel out = synth::ComputeTransmitterChannel(c.text);
        EXPECT_EQ(Joined(out.registers), c.registers) << c.text;
        EXPECT_EQ(out.hasComma, c.comma) << c.text;
    }
}

// Texts far outside the 32-bit range must neither stop the program nor hit
// undefined behaviour; their registers show "--" instead of a plausible byte.
TEST(Synthesizers, ValuesBeyondThirtyTwoBitsAreMarked) {
    for (const char* text : {"1e30", "99999999", "-5e12", "1e400", "-1e400", "2147.483648"}) {
        const synth::ReceiverChannel rx = synth::ComputeReceiverChannel(text);
        const synth::TransmitterChannel tx = synth::ComputeTransmitterChannel(text);
        for (const auto& r : rx.registers) EXPECT_EQ(r.size(), 2u) << text;
        for (const auto& r : tx.registers) EXPECT_EQ(r.size(), 2u) << text;
        if (std::string(text) != "2147.483648") {
            EXPECT_EQ(rx.registers[4], "--") << text;
            EXPECT_EQ(rx.swallowCounter, "--") << text;
            EXPECT_FALSE(rx.loValid) << text;
            EXPECT_TRUE(rx.inexact) << text;
            EXPECT_EQ(tx.registers[4], "1C") << text;  // the fixed rows stay
        }
        if (std::abs(std::strtod(text, nullptr)) > 13.0 * 2147483648.0) {
            EXPECT_EQ(tx.registers[0], "--") << text;
        }
    }
    // Just beyond the step test's range: 10 kHz step, counters still fine.
    EXPECT_EQ(synth::ComputeReceiverChannel("2147.483648").stepText, "10.0");
    // A transmitter ratio whose integer part fits but whose oscillator value
    // does not.
    const auto tx = synth::ComputeTransmitterChannel("9e9");
    EXPECT_EQ(tx.registers[10], "--");
    EXPECT_EQ(tx.registers[11], "--");
}

// For every channel of the band the receiver's counters must reproduce the
// channel exactly: LO = N x step, N = 128 M + A, step = 21.25 MHz / R.
TEST(ReceiverCounters, ReproduceEveryChannelOfTheBandExactly) {
    std::vector<std::string> texts;
    for (int k = 0; k <= 65; ++k)
        texts.push_back(channel::FormatFrequency((433075 + 25 * k) / 1000.0));
    texts.push_back("433.920");
    for (const std::string& text : texts) {
        const synth::ReceiverChannel c = synth::ComputeReceiverChannel(text);
        EXPECT_FALSE(c.inexact) << text;
        const long r = std::stol(c.rCounter);
        const long m = std::stol(c.programCounter);
        const long a = std::stol(c.swallowCounter);
        ASSERT_GE(a, 0);
        ASSERT_LT(a, 128);
        const long n = 128 * m + a;
        // In hertz, exactly: reference / R x N + IF.
        const long long refHz = 21250000;
        ASSERT_EQ(refHz % r, 0) << text;
        const long long hz = refHz / r * n + 21700000;
        const long long wanted = std::llround(std::stod(text) * 1e6);
        EXPECT_EQ(hz, wanted) << text;
        // The registers carry the same counters.
        EXPECT_EQ(
            std::stol(c.registers[0], nullptr, 16) + 256 * std::stol(c.registers[1], nullptr, 16),
            r);
        EXPECT_EQ(
            std::stol(c.registers[2], nullptr, 16) + 256 * std::stol(c.registers[3], nullptr, 16),
            m);
        EXPECT_EQ(std::stol(c.registers[4], nullptr, 16), a);
    }
}

// The transmitter's registers must express the channel's ratio to the 13 MHz
// reference to within one fraction step (13 MHz / 2^21).
TEST(TransmitterRegisters, ExpressEveryChannelWithinOneFractionStep) {
    std::vector<std::string> texts;
    for (int k = 0; k <= 65; ++k)
        texts.push_back(channel::FormatFrequency((433075 + 25 * k) / 1000.0));
    texts.push_back("433.920");
    for (const std::string& text : texts) {
        const synth::TransmitterChannel c = synth::ComputeTransmitterChannel(text);
        const double pllint = std::stol(c.registers[0], nullptr, 16);
        const double frac = std::stol(c.registers[1], nullptr, 16) +
                            256.0 * std::stol(c.registers[2], nullptr, 16) +
                            65536.0 * std::stol(c.registers[3], nullptr, 16);
        // The chip reads the fraction centred in its step, on a 2^21 - 0.5 scale.
        const double expressed = 13.0 * (pllint + (frac + 0.5) / 2097151.5);
        EXPECT_LE(std::fabs(expressed - std::stod(text)), 13.0 / 2097152.0) << text;
        // VAC: the expressed ratio times 32 / 4, rounded, split into two bytes.
        const long vac = std::stol(c.registers[10], nullptr, 16) +
                         256 * (std::stol(c.registers[11], nullptr, 16) - 64);
        EXPECT_NEAR(vac, std::stod(text) / 13.0 * 8.0, 0.5 + 1e-6) << text;
        EXPECT_EQ(c.registers[6], "74") << text;
    }
}

}  // namespace
