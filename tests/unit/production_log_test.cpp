#include "production_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "scratch_folder.h"

namespace fs = std::filesystem;
using namespace store;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ProductionLog : public ::testing::Test {
  protected:
    std::string Path() const { return scratch_.Path() + "/log.csv"; }
    ScratchFolder scratch_{"prodlog_test"};
    const std::string& dir_ = scratch_.Path();
};

ProductionRow Row(const std::string& serial, const std::string& result,
                  const std::string& message = "") {
    ProductionRow r;
    r.time = "2026-12-09T01:02:03+01:00";
    r.station = "line 1";
    r.port = "COM3";
    r.kind = "rx";
    r.serial = serial;
    r.version = "R1.05";
    r.channels = {"433.075", "433.100", "433.920", "434.700"};
    r.operation = "write";
    r.result = result;
    r.message = message;
    r.durationMs = 4236;
    r.toolVersion = "1.5.2";
    return r;
}

TEST(ProductionLogFormat, FieldsThatWouldSplitARowAreQuoted) {
    const struct {
        const char* field;
        const char* written;
    } cases[] = {
        {"plain", "plain"},
        {"Discrepancy!! (Ch2, Ch3)", "\"Discrepancy!! (Ch2, Ch3)\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.field), c.written) << c.field;
}

TEST_F(ProductionLog, HeaderOnceThenOneCompleteRowPerAttempt) {
    std::string error;
    ASSERT_TRUE(AppendProductionRow(Path(), Row("00074565", "pass"), &error)) << error;
    ASSERT_TRUE(
        AppendProductionRow(Path(), Row("00074566", "fail", "Not Response!!, Ch1"), &error));
    EXPECT_EQ(Slurp(Path()),
              "time,station,port,kind,serial,version,ch0,ch1,ch2,ch3,operation,result,message,"
              "duration_ms,tool_version,socket\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074565,R1.05,433.075,433.100,433.920,"
              "434.700,write,pass,,4236,1.5.2,1\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074566,R1.05,433.075,433.100,433.920,"
              "434.700,write,fail,\"Not Response!!, Ch1\",4236,1.5.2,1\r\n");
}

TEST_F(ProductionLog, OnlyAVerifiedWriteOfTheSameKindAndPlanCountsAsPassed) {
    ProductionRow info = Row("00000003", "pass");
    info.operation = "info";
    ProductionRow unverified = Row("00000005", "pass");
    unverified.operation = "write-unverified";
    ProductionRow skipped = Row("00000006", "skipped");
    ProductionRow tricky = Row("00000004", "pass");
    tricky.station = "bench \"A\", left";
    tricky.socket = 7;
    for (const ProductionRow& r : {Row("00000001", "pass"), Row("00000002", "fail", "a,b"), info,
                                   tricky, unverified, skipped}) {
        ASSERT_TRUE(AppendProductionRow(Path(), r, nullptr));
    }
    const std::array<std::string, 4> plan = Row("", "").channels;
    std::array<std::string, 4> otherPlan = plan;
    otherPlan[3] = "434.675";
    const struct {
        const char* kind;
        const char* serial;
        std::array<std::string, 4> plan;
        bool passed;
    } cases[] = {
        {"rx", "00000001", plan, true},       {"rx", "00000002", plan, false},
        {"rx", "00000003", plan, false},      {"rx", "00000004", plan, true},
        {"rx", "00000005", plan, false},      {"rx", "00000006", plan, false},
        {"tx", "00000001", plan, false},      {"rx", "00000001", otherPlan, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindVerifiedPass(Path(), c.kind, c.serial, c.plan).has_value(), c.passed)
            << c.kind << " " << c.serial;
    }
    const auto where = FindVerifiedPass(Path(), "rx", "00000004", plan);
    ASSERT_TRUE(where);
    EXPECT_EQ(where->station, "bench \"A\", left");
    EXPECT_EQ(where->socket, 7);
    EXPECT_FALSE(FindVerifiedPass(dir_ + "/none.csv", "rx", "00000001", plan));
}

TEST_F(ProductionLog, AnUnwritableLogSaysWhy) {
    std::string error;
    EXPECT_FALSE(AppendProductionRow(dir_ + "/no/such/folder/log.csv", Row("1", "pass"), &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST(ProductionLogTime, IsoWithTheOffset) {
    EXPECT_TRUE(std::regex_match(IsoTimeNow(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << IsoTimeNow();
}

}  // namespace
