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

#include "csv_sink.h"
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
        // A backslash typed in a message is no escape when read back.
        {"C:\\new\\table.tbl", "C:\\\\new\\\\table.tbl"},
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
    const std::vector<std::string> plan = {"433.075", "433.100", "433.920", "434.700"};
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
              "duration_ms,tool_version,socket,attempt_id,station_id,operator,device,failed_step,"
              "rb0,rb1,rb2,rb3,recorded_offline,corrects,ch_more,rb_more\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074565,R1.05,433.075,433.100,433.920,"
              "434.700,write,pass,,4236,1.5.2,,,,,,,,,,,,,,\r\n"
              "2026-12-09T01:02:03+01:00,line 1,COM3,rx,00074566,R1.05,433.075,433.100,433.920,"
              "434.700,write,fail,\"Not Response!!, Ch1\",4236,1.5.2,,,,,,,,,,,,,,\r\n");
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
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << IsoTimeNow();
}

}  // namespace

namespace {

Attempt Begun(const std::string& id, const std::string& serial) {
    Attempt a = Row(serial, "running");
    a.attemptId = id;
    a.socket = 1;
    return a;
}

}  // namespace

// Which modules passed comes from an index, also for rows other stations
// append to the same log later, and a correction takes a pass back; a log
// an older version began gets the new header before the first new row.
TEST_F(ProductionLog, PassedBeforeComesFromAnIndexThatFollowsTheLog) {
    const std::string oldHeader =
        "time,station,port,kind,serial,version,ch0,ch1,ch2,ch3,operation,result,message,"
        "duration_ms,tool_version,socket\r\n";
    std::ofstream(Path(), std::ios::binary)
        << oldHeader
        << "2026-12-08T01:02:03+01:00,line 0,COM3,rx,00000001,R1.05,433.075,433.100,433.920,"
           "434.700,write,pass,,4236,1.5.1,2\r\n";
    CsvSink sink(Path(), "id-a");
    std::string error;
    ASSERT_TRUE(sink.Open(&error)) << error;
    const std::vector<std::string> plan = {"433.075", "433.100", "433.920", "434.700"};
    const auto old = sink.PassedBefore("rx", "00000001", plan);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->station, "line 0");
    EXPECT_EQ(old->socket, 2);

    // Another station's pass, appended after the index was made.
    Attempt other = Begun("b-1", "00000002");
    other.station = "line 9";
    other.result = Result::Pass;
    ASSERT_TRUE(AppendProductionRow(Path(), other, &error));
    EXPECT_TRUE(sink.PassedBefore("rx", "00000002", plan));
    EXPECT_FALSE(sink.PassedBefore("tx", "00000002", plan));

    // This station's pass, then its correction.
    Attempt mine = Begun("a-1", "00000003");
    ASSERT_TRUE(sink.Begin(mine).ok);
    mine.result = Result::Pass;
    ASSERT_TRUE(sink.Finish(mine, &error));
    EXPECT_TRUE(sink.PassedBefore("rx", "00000003", plan));
    Attempt correction = mine;
    correction.attemptId = "a-2";
    correction.corrects = "a-1";
    correction.result = Result::NotRecorded;
    ASSERT_TRUE(sink.Correct(correction, &error));
    EXPECT_FALSE(sink.PassedBefore("rx", "00000003", plan));

    // The new header once, before this station's first row.
    const std::string text = Slurp(Path());
    EXPECT_LT(text.find(ProductionLogHeader()), text.find(",a-1,"));
    EXPECT_EQ(text.find(ProductionLogHeader(), text.find(ProductionLogHeader()) + 1),
              std::string::npos);
    const std::vector<Attempt> rows = ReadProductionRows(Path());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2].attemptId, "a-1");
    EXPECT_EQ(rows[3].corrects, "a-1");
}

// An attempt cut off by a crash or kill -9 gets its "interrupted" row at
// the next start, once; one whose row got out before the crash gets none.
TEST_F(ProductionLog, WhatWasUnderWayWhenTheStationDiedIsInterruptedAtTheNextStart) {
    std::string error;
    {
        CsvSink sink(Path(), "id-a");
        ASSERT_TRUE(sink.Open(&error)) << error;
        ASSERT_TRUE(sink.Begin(Begun("cut-off", "00000011")).ok);
        Attempt done = Begun("row-out", "00000012");
        ASSERT_TRUE(sink.Begin(done).ok);
        done.result = Result::Pass;
        ASSERT_TRUE(sink.Finish(done, &error));
        // The journal's note of that end is lost with the crash.
        std::ofstream(CsvSink::JournalPath(Path(), "id-a"), std::ios::binary | std::ios::app)
            << "B," << FormatProductionRow(done);
    }
    for (int start = 0; start < 2; ++start) {
        CsvSink sink(Path(), "id-a");
        ASSERT_TRUE(sink.Open(&error)) << error;
    }
    const std::vector<Attempt> rows = ReadProductionRows(Path());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].attemptId, "row-out");
    EXPECT_EQ(rows[1].attemptId, "cut-off");
    EXPECT_EQ(rows[1].result, Result::Interrupted);
    EXPECT_EQ(rows[1].serial, "00000011");
}
