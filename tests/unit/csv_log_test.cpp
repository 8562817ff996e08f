#include "csv_log.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "scratch_folder.h"

namespace fs = std::filesystem;
using namespace record;

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

Attempt Row(const std::string& serial, const std::string& result, const std::string& message = "") {
    Attempt r;
    r.socket = 0;  // a row without a socket: the column stays empty
    r.startedAt = "2026-12-09T01:02:03+01:00";
    r.station = "line 1";
    r.port = "COM3";
    r.kind = "rx";
    r.serial = serial;
    r.version = "R1.05";
    r.channels = {"433.075", "433.100", "433.920", "434.700"};
    r.operation = Operation::Write;
    r.result = *ResultFromText(result);
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
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.field), c.written) << c.field;
}

// What a module or a command line hands over must never run as a formula in
// a spreadsheet, nor break the row into two lines; it reads back as it was.
TEST_F(ProductionLog, FormulasAndControlBytesStayInsideTheirField) {
    const struct {
        const char* text;
        const char* written;
    } cases[] = {
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\\tx"},
        {"\r=1", "'\\r=1"},
        {"two\r\nlines", "two\\r\\nlines"},
        {"bell\x07", "bell\\x07"},
        {"R1.05", "R1.05"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeCsvField(c.text), c.written) << c.text;
        Attempt r = Row("00000001", "fail", c.text);
        r.version = c.text;
        ASSERT_TRUE(AppendProductionRow(Path(), r, nullptr));
    }
    const std::vector<Attempt> rows = ReadProductionRows(Path());
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].message, cases[i].text);
        EXPECT_EQ(rows[i].version, cases[i].text);
    }
    const std::string text = Slurp(Path());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + static_cast<long>(std::size(cases)));
}

TEST_F(ProductionLog, OnlyAVerifiedWriteOfTheSameKindAndPlanCountsAsPassed) {
    const std::array<std::string, 4> plan = {"433.075", "433.100", "433.920", "434.700"};
    Attempt unverified = Row("00000001", "pass");
    unverified.operation = Operation::WriteUnverified;
    Attempt skipped = Row("00000001", "skipped");
    Attempt otherPlan = Row("00000001", "pass");
    otherPlan.channels[3] = "434.675";
    Attempt otherKind = Row("00000001", "pass");
    otherKind.kind = "tx";
    for (const Attempt& r : {unverified, skipped, otherPlan, otherKind}) {
        ASSERT_TRUE(AppendProductionRow(Path(), r, nullptr));
    }
    EXPECT_FALSE(FindPassedWrite(Path(), "rx", "00000001", plan));
    Attempt good = Row("00000001", "pass");
    good.station = "line 2";
    good.socket = 7;
    ASSERT_TRUE(AppendProductionRow(Path(), good, nullptr));
    const auto found = FindPassedWrite(Path(), "rx", "00000001", plan);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->station, "line 2");
    EXPECT_EQ(found->socket, 7);
    EXPECT_FALSE(FindPassedWrite(Path(), "rx", "00000002", plan));
}

#ifndef _WIN32
// A full disk in the middle of a row: the file is cut back to the rows
// before, so the next row starts on a line of its own.
TEST_F(ProductionLog, AShortWriteLeavesNoHalfRow) {
    ASSERT_TRUE(AppendProductionRow(Path(), Row("00000001", "pass"), nullptr));
    const auto before = fs::file_size(Path());
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = before + 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written = AppendProductionRow(Path(), Row("00000002", "pass"), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(fs::file_size(Path()), before);
    ASSERT_TRUE(AppendProductionRow(Path(), Row("00000003", "pass"), nullptr));
    const std::vector<Attempt> rows = ReadProductionRows(Path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].serial, "00000003");
}
#endif

TEST_F(ProductionLog, HeaderOnceThenOneCompleteRowPerAttempt) {
    std::string error;
    ASSERT_TRUE(AppendProductionRow(Path(), Row("00074565", "pass"), &error)) << error;
    ASSERT_TRUE(
        AppendProductionRow(Path(), Row("00074566", "fail", "Not Response!!, Ch1"), &error));
    EXPECT_EQ(Slurp(Path()),
              "time,station,port,kind,serial,version,ch0,ch1,ch2,ch3,operation,result,message,"
              "duration_ms,tool_version,socket\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074565,R1.05,433.075,433.100,433.920,"
              "434.700,write,pass,,4236,1.5.2,\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074566,R1.05,433.075,433.100,433.920,"
              "434.700,write,fail,\"Not Response!!, Ch1\",4236,1.5.2,\r\n");
}

TEST_F(ProductionLog, OnlyPassedWritesCountAsPassedEvenWithQuotedFields) {
    Attempt info = Row("00000003", "pass");
    info.operation = Operation::Info;
    Attempt tricky = Row("00000004", "pass");
    tricky.station = "bench \"A\", left";
    for (const Attempt& r :
         {Row("00000001", "pass"), Row("00000002", "fail", "a,b"), info, tricky}) {
        ASSERT_TRUE(AppendProductionRow(Path(), r, nullptr));
    }
    EXPECT_EQ(PassedSerials(Path()), (std::set<std::string>{"00000001", "00000004"}));
    EXPECT_TRUE(PassedSerials(dir_ + "/none.csv").empty());
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
