#include "settings_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "field_reader.h"

using store::FormatSettings;
using store::FormatTwips;
using store::ParseTwips;
using store::SettingsValues;

TEST(SettingsFile, WritesEachToolsFileByteForByte) {
    SettingsValues receiver;
    receiver.top = 1440;
    receiver.left = 2880;
    receiver.com = "COM3";
    receiver.logFileName = "recvsetup.log";
    receiver.channels = {"434.700", "434.600", "433.920", "434.075"};

    SettingsValues transmitter = receiver;
    transmitter.left = -120;
    transmitter.logFileName = "sendsetup.log";
    transmitter.debug = true;

    EXPECT_EQ(
        FormatSettings(receiver, store::kReceiverSettingsComments),
        "TOP  , 1440 ,            Window Top position\r\n"
        "LEFT , 2880 ,            Window Left position\r\n"
        "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n"
        "LOGF ,recvsetup.log,  Log File Name\r\n"
        "CH3F ,434.075,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
        "CH2F ,433.920,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
        "CH1F ,434.600,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
        "CH0F ,434.700,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Short\r\n");
    EXPECT_EQ(
        FormatSettings(transmitter, store::kTransmitterSettingsComments),
        "TOP  , 1440 ,            Window Top position\r\n"
        "LEFT ,-120 ,            Window Left position\r\n"
        "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n"
        "LOGF ,sendsetup.log,  Log File Name\r\n"
        "CH3F ,434.075,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
        "CH2F ,433.920,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
        "CH1F ,434.600,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
        "CH0F ,434.700,           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short\r\n"
        "DEBUG,ON,\r\n");
}

TEST(SettingsFile, FormatsAndParsesTwips) {
    // long is 32 bits on Windows, 64 on Linux; a position that large is put
    // back on the screen either way.
    const struct {
        long value;
        std::string text;
    } formats[] = {{1440, " 1440 "},
                   {-120, "-120 "},
                   {0, " 0 "},
                   {LONG_MIN, std::to_string(LONG_MIN) + " "}};
    for (const auto& c : formats) {
        EXPECT_EQ(FormatTwips(c.value), c.text);
        EXPECT_EQ(ParseTwips(c.text), c.value) << c.text;
    }

    const struct {
        const char* field;
        std::optional<long> value;
    } parses[] = {
        {"1440", 1440},
        {"-120", -120},
        {"+7", 7},
        {"12.5", 13},
        {"12.49", 12},
        {"-12.5", -13},
        {"0.4", 0},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"-", std::nullopt},
        {".5", std::nullopt},
        {"12.", std::nullopt},
        {"1e3", std::nullopt},
        {"1,5", std::nullopt},
        {"9223372036854775807", LONG_MAX},
        // Numbers too large for a long saturate: still numbers, the window's
        // bounds put them on the screen.
        {"9223372036854775808", LONG_MAX},
        {"-9223372036854775808", LONG_MIN},
        {"-9223372036854775809", LONG_MIN},
        {"9223372036854775807.5", LONG_MAX},
        {"99999999999999999999999", LONG_MAX},
    };
    for (const auto& c : parses) EXPECT_EQ(ParseTwips(c.field), c.value) << c.field;

    // As the window model gets it: through the reader.
    const auto list = store::ReadRecords("TOP  , 1440 ,c\r\nLEFT , ,c\r\n");
    ASSERT_EQ(list.records.size(), 2u);
    EXPECT_EQ(ParseTwips(list.records[0].value), 1440);
    EXPECT_EQ(ParseTwips(list.records[1].value), std::nullopt);
}

TEST(SettingsFile, EveryValueReadsBackUnchanged) {
    std::mt19937 random(20260812);
    const char kAlphabet[] = "aZ09.,\"\"  \t\r\n\xe9\xff\0";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    const auto randomText = [&] {
        std::string text(random() % 12, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 2000; ++round) {
        SettingsValues values;
        values.top = static_cast<long>(random()) - 0x7fffffffL;
        values.left = -values.top;
        values.com = randomText();
        values.logFileName = randomText();
        for (auto& channel : values.channels) channel = randomText();
        values.debug = round % 2 == 0;

        const auto list =
            store::ReadRecords(FormatSettings(values, store::kReceiverSettingsComments));
        ASSERT_FALSE(list.cutShort);
        ASSERT_EQ(list.records.size(), values.debug ? 9u : 8u);
        const auto& r = list.records;
        EXPECT_EQ(ParseTwips(r[0].value), values.top);
        EXPECT_EQ(ParseTwips(r[1].value), values.left);
        EXPECT_EQ(r[2].value, values.com);
        EXPECT_EQ(r[3].value, values.logFileName);
        for (int line = 0; line < 4; ++line)
            EXPECT_EQ(r[4 + line].value, values.channels[3 - line]);
        if (values.debug) {
            EXPECT_EQ(r[8].key + "=" + r[8].value, "DEBUG=ON");
        }
    }
}
