// Reading, writing, stepping and checking channel frequencies.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "frequency.h"
#include "leading_number.h"

namespace {

using channel::StepDirection;

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfAText) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"434.075", 434.075},
        {"  434.075", 434.075},
        {"434,075", 434.0},
        {"434.075 MHz", 434.075},
        {"-12.5", -12.5},
        {"+7", 7.0},
        {"", 0.0},
        {"---.----", 0.0},
        {"abc", 0.0},
        {"1.2.3", 1.2},
        {".5", 0.5},
        {"12.", 12.0},
        {"1e3", 1000.0},
        {"434e", 434.0},
        {"434e+", 434.0},
        {"-", 0.0},
        {"9999", 9999.0},
        {"\t3", 3.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(channel::LeadingNumber(c.text), c.value) << c.text;
    // Exactly the double the literal gives, so 433.920 meets the one
    // off-grid frequency exactly.
    EXPECT_EQ(channel::LeadingNumber("433.920"), 433.92);
    EXPECT_TRUE(std::isinf(channel::LeadingNumber("1e999")));
    EXPECT_EQ(channel::LeadingNumber("1e-999"), 0.0);
}

TEST(LeadingNumber, HexadecimalFields) {
    EXPECT_EQ(channel::LeadingHexNumber("FF"), 255);
    EXPECT_EQ(channel::LeadingHexNumber("0a"), 10);
    EXPECT_EQ(channel::LeadingHexNumber("Er"), 14);
    EXPECT_EQ(channel::LeadingHexNumber("zz"), 0);
    EXPECT_EQ(channel::LeadingHexNumber(""), 0);
    EXPECT_GT(channel::LeadingHexNumber(std::string(40, 'F')), 0);  // saturates, no overflow
}

TEST(StepFrequency, MovesOnThe25kHzGridWithinTheBand) {
    struct Case {
        const char* text;
        const char* up;
        const char* down;
    };
    const Case cases[] = {
        {"434.700", "434.700", "434.675"},  {"433.075", "433.100", "433.075"},
        {"433.920", "433.925", "433.900"},  {"433.900", "433.925", "433.875"},
        {"433.1", "433.125", "433.075"},    {"433.087", "433.100", "433.075"},
        {"434.0751", "434.100", "434.050"}, {"", "433.075", "433.075"},
        {"---.----", "433.075", "433.075"}, {"abc", "433.075", "433.075"},
        {"9999", "434.700", "434.700"},     {"434,075", "434.025", "433.975"},
        {"434.075", "434.100", "434.050"},  {"1e400", "434.700", "434.700"},
        {"-1e400", "433.075", "433.075"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(channel::StepFrequency(c.text, StepDirection::Up), c.up) << c.text;
        EXPECT_EQ(channel::StepFrequency(c.text, StepDirection::Down), c.down) << c.text;
    }
}

TEST(StepFrequency, EveryGridValueStepsToItsNeighbours) {
    const std::vector<std::string> list = channel::FrequencyPresetList();
    for (std::size_t i = 2; i < list.size(); ++i) {
        const std::string up = i + 1 < list.size() ? list[i + 1] : list[i];
        const std::string down = i > 2 ? list[i - 1] : list[i];
        EXPECT_EQ(channel::StepFrequency(list[i], StepDirection::Up), up) << list[i];
        EXPECT_EQ(channel::StepFrequency(list[i], StepDirection::Down), down) << list[i];
    }
}

TEST(FrequencyAcceptable, RangeAndGrid) {
    struct Case {
        const char* text;
        bool receiver;     // range only
        bool transmitter;  // range and 25 kHz grid
    };
    const Case cases[] = {
        {"433.075", true, true},   {"434.700", true, true},    {"433.074", false, false},
        {"434.701", false, false}, {"434.080", true, false},   {"433.920", true, true},
        {"434.0750", true, true},  {"---.----", false, false}, {"", false, false},
        {"434,075", true, true},   {"435.000", false, false},  {"1e30", false, false},
        {"434.0875", true, false}, {" 434.1", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(channel::FrequencyAcceptable(c.text, false), c.receiver) << c.text;
        EXPECT_EQ(channel::FrequencyAcceptable(c.text, true), c.transmitter) << c.text;
    }
}

TEST(FrequencyPresetList, HoldsTheOffGridValueAPlaceholderAndTheWholeGrid) {
    const std::vector<std::string> list = channel::FrequencyPresetList();
    ASSERT_EQ(list.size(), 68u);
    EXPECT_EQ(list[0], "433.920");
    EXPECT_EQ(list[1], "---.----");
    // Counting in whole kilohertz gives the same 66 entries.
    for (int k = 0; k < 66; ++k) {
        const int kHz = 433075 + 25 * k;
        char expected[16];
        std::snprintf(expected, sizeof expected, "%d.%03d", kHz / 1000, kHz % 1000);
        EXPECT_EQ(list[static_cast<std::size_t>(k) + 2], expected);
    }
}

TEST(FormatFrequency, WritesAPointWhateverTheLocale) {
    // LOCPATH points at a locale built for the tests; without it the
    // process would silently stay in the "C" locale and prove nothing.
#ifdef _WIN32
    const char* const german = "German_Germany.1252";
#else
    const char* const german = "de_DE.UTF-8";
#endif
    ASSERT_NE(std::setlocale(LC_ALL, german), nullptr)
        << "the test locale " << german << " is missing (LOCPATH="
        << (std::getenv("LOCPATH") ?: "") << ")";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");  // the locale is really in force

    EXPECT_EQ(channel::FormatFrequency(433.9), "433.900");
    EXPECT_EQ(channel::FormatFrequency(434.075), "434.075");
    EXPECT_EQ(channel::StepFrequency("434.050", StepDirection::Up), "434.075");
    EXPECT_EQ(channel::FrequencyPresetList()[4], "433.125");
    EXPECT_EQ(channel::LeadingNumber("434.075"), 434.075);
    EXPECT_EQ(channel::LeadingNumber("434,075"), 434.0);
    EXPECT_EQ(channel::FormatFixed(412.375, 4, ','), "412,3750");
    std::setlocale(LC_ALL, "C");
}

TEST(FormatFixed, RoundsAndNeverShowsMinusZero) {
    EXPECT_EQ(channel::FormatFixed(412.375, 4), "412.3750");
    EXPECT_EQ(channel::FormatFixed(-21.7, 4), "-21.7000");
    EXPECT_EQ(channel::FormatFixed(-0.00001, 4), "0.0000");
    EXPECT_EQ(channel::FormatFixed(434.6999999999, 3), "434.700");
}

}  // namespace
