#include "freq_table.h"

#include <gtest/gtest.h>

#include <random>

#include "field_reader.h"
#include "setup_log.h"

using store::ChannelForKey;
using store::FormatFrequencyTable;

TEST(FreqTable, WritesTheDefaultPlanByteForByte) {
    EXPECT_EQ(
        FormatFrequencyTable({"434.700", "434.600", "433.920", "434.075"}),
        "CH3F ,434.075,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
        "CH2F ,433.920,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
        "CH1F ,434.600,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
        "CH0F ,434.700,           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short\r\n");
}

TEST(FreqTable, KnowsOnlyTheFourExactChannelKeys) {
    const struct {
        const char* key;
        int channel;
    } cases[] = {{"CH0F", 0},  {"CH1F", 1},   {"CH2F", 2}, {"CH3F", 3}, {"ch1f", -1},
                 {"CH4F", -1}, {"CH1F ", -1}, {"CH1", -1}, {"", -1},    {"DEBUG", -1}};
    for (const auto& c : cases) EXPECT_EQ(ChannelForKey(c.key), c.channel) << c.key;
}

TEST(FreqTable, EveryChannelTextReadsBackToItsChannel) {
    std::mt19937 random(434075);
    const char kAlphabet[] = "43.075,\"\" \t\r\n\xb5\0";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    for (int round = 0; round < 2000; ++round) {
        std::array<std::string, 4> channels;
        for (auto& channel : channels) {
            channel.resize(random() % 10);
            for (char& c : channel) c = alphabet[random() % alphabet.size()];
        }
        const auto list = store::ReadRecords(FormatFrequencyTable(channels));
        ASSERT_FALSE(list.cutShort);
        ASSERT_EQ(list.records.size(), 4u);
        for (const auto& record : list.records) {
            const int channel = ChannelForKey(record.key);
            ASSERT_NE(channel, -1) << record.key;
            EXPECT_EQ(record.value, channels[channel]);
        }
    }
}

// The log lists the channels in the same order as the table: 3 down to 0.
TEST(FreqTable, SetupLogRecordListsChannelsLikeTheTable) {
    store::LogRecord record;
    record.serial = "00074565";
    record.version = "R1.05";
    record.channels = {"434.700", "434.600", "433.920", "434.075"};
    record.date = "08/12/2026";
    record.time = "14:03:07";
    record.toolVersion = "1.5.2";
    EXPECT_EQ(store::FormatLogRecord(record),
              "00074565,R1.05,434.075,433.920,434.600,434.700,08/12/2026,14:03:07,1.5.2\r\n");
}

// A decimal comma must not split a record: the field is quoted and the line
// still reads as nine fields, each as it was.
TEST(FreqTable, SetupLogRecordKeepsItsNineFieldsWithADecimalComma) {
    store::LogRecord record;
    record.serial = "00074565";
    record.version = "R1.05";
    record.channels = {"434,700", "434.600", "433.920", "434,075"};
    record.date = "9 Dec, 2026";
    record.time = "14:03:07";
    record.toolVersion = "1.5.2";
    const std::string line = store::FormatLogRecord(record);
    EXPECT_EQ(line,
              "00074565,R1.05,\"434,075\",433.920,434.600,\"434,700\",\"9 Dec, 2026\",14:03:07,"
              "1.5.2\r\n");
    store::FieldReader reader(line);
    std::vector<std::string> fields;
    for (std::string field; reader.Next(field);) fields.push_back(field);
    EXPECT_EQ(fields,
              (std::vector<std::string>{"00074565", "R1.05", "434,075", "433.920", "434.600",
                                        "434,700", "9 Dec, 2026", "14:03:07", "1.5.2"}));
}
