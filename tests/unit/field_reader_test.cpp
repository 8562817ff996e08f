#include "field_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using store::FieldReader;
using store::QuoteIfNeeded;
using store::ReadRecords;

namespace {

std::vector<std::string> allFields(std::string_view data) {
    FieldReader reader(data);
    std::vector<std::string> fields;
    std::string field;
    while (reader.Next(field)) fields.push_back(field);
    return fields;
}

}  // namespace

TEST(FieldReader, SplitsFields) {
    using V = std::vector<std::string>;
    const struct {
        std::string data;
        V fields;
    } cases[] = {
        {"DEBUG,ON,\r\n", {"DEBUG", "ON", ""}},
        {"DEBUG,ON,", {"DEBUG", "ON", ""}},
        {"a, \t\r\nb", {"a", "", "b"}},
        {" \tTOP \t, 1440 ,\tc \r\n", {"TOP", "1440", "c"}},
        {"a,,b", {"a", "", "b"}},
        {",,", {"", "", ""}},
        {"\"a,b\",\"say \"\"hi\"\"\",x", {"a,b", "say \"hi\"", "x"}},
        {"\"COM3\" junk,v\r\n\"\"\"\"", {"COM3", "v", "\""}},
        {"\"\",\"a\r\nb\",c", {"", "a\r\nb", "c"}},
        {"k,\"abc,def\r\n", {"k", "abc,def\r\n"}},
        {"\r\n\r\n  \r\nA,B,C\r\n\r\n\n\t", {"A", "B", "C"}},
        {"A,B,C\rD,E,F\r", {"A", "B", "C", "D", "E", "F"}},
        {"A,B,C\nD,E,F\n", {"A", "B", "C", "D", "E", "F"}},
        {"ch1f,say \"x\",a\tb \t", {"ch1f", "say \"x\"", "a\tb"}},
        {std::string("a\0b,\xff\x80", 6), {std::string("a\0b", 3), "\xff\x80"}},
    };
    for (const auto& c : cases) EXPECT_EQ(allFields(c.data), c.fields) << c.data;
}

TEST(FieldReader, GroupsRecordsAndNoticesCutShortData) {
    const struct {
        std::string data;
        std::size_t records;
        bool cutShort;
    } cases[] = {
        {"", 0, false},
        {" \r\n\t\n\r", 0, false},
        {"DEBUG,ON,", 1, false},
        {"A,B,C\r\n\r\n  \r\n", 1, false},
        {"A,B,C,D,E,F", 2, false},
        {"A,B", 0, true},
        {"A,B,C\r\nD", 1, true},
        {"A,\r\nB,C", 1, true},  // the line end after "A," is an empty value
        {"A,B,\"never closed,\r\nX,Y,Z\r\n", 1, false},
    };
    for (const auto& c : cases) {
        const auto list = ReadRecords(c.data);
        EXPECT_EQ(list.records.size(), c.records) << c.data;
        EXPECT_EQ(list.cutShort, c.cutShort) << c.data;
    }
}

TEST(FieldReader, AtEndOnlyWhenNoFieldIsPending) {
    FieldReader reader("DEBUG,ON,");
    std::string field;
    ASSERT_TRUE(reader.Next(field) && reader.Next(field));
    EXPECT_FALSE(reader.AtEnd());
    ASSERT_TRUE(reader.Next(field));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Next(field));
}

TEST(FieldReader, ReadsTheSettingsFileKeysAndValues) {
    const std::string file =
        "TOP  , 1440 ,            Window Top position\r\n"
        "LEFT ,-120 ,            Window Left position\r\n"
        "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n"
        "LOGF ,recvsetup.log,  Log File Name\r\n"
        "CH3F ,434.075,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
        "CH0F ,434.700,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Short\r\n"
        "DEBUG,ON,\r\n";
    const auto list = ReadRecords(file);
    EXPECT_FALSE(list.cutShort);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& r : list.records) pairs.emplace_back(r.key, r.value);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"TOP", "1440"},     {"LEFT", "-120"},    {"COM", "COM3"}, {"LOGF", "recvsetup.log"},
        {"CH3F", "434.075"}, {"CH0F", "434.700"}, {"DEBUG", "ON"},
    };
    EXPECT_EQ(pairs, expected);
    EXPECT_EQ(list.records[4].comment, "Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Open");
}

TEST(FieldReader, QuotesOnlyWhatWouldNotReadBack) {
    const struct {
        std::string value, written;
    } cases[] = {
        {"COM3", "COM3"},
        {"", ""},
        {"say \"hi\"", "say \"hi\""},
        {"a,b", "\"a,b\""},
        {" a", "\" a\""},
        {"a\t", "\"a\t\""},
        {"\"x", "\"\"\"x\""},
        {"a\rb", "\"a\rb\""},
        {"a\nb", "\"a\nb\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteIfNeeded(c.value), c.written) << c.value;
        const auto list = ReadRecords("K," + c.written + ",C");
        ASSERT_EQ(list.records.size(), 1u);
        EXPECT_EQ(list.records[0].value, c.value);
    }
}

TEST(FieldReader, CopesWithHugeLinesWithoutLineEnds) {
    // A settings file replaced by some large binary must not hang the load.
    const std::string longLine(8 << 20, 'x');
    EXPECT_EQ(allFields(longLine), std::vector<std::string>{longLine});
    std::string quotes = "\"";
    for (int i = 0; i < (1 << 20); ++i) quotes += "\"\",";
    const auto fields = allFields(quotes);
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(fields[0].size(), 2u << 20);
}
