// The plain-text report on a terminal: what the record holds is shown,
// never obeyed.
#include <gtest/gtest.h>

#include <map>

#include "report.h"

namespace {

std::string FormatKind(record::Report::RepeatKind kind) {
    switch (kind) {
        case record::Report::RepeatKind::DoublePass:
            return "double pass";
        case record::Report::RepeatKind::FailThenPass:
            return "fail then pass";
        case record::Report::RepeatKind::Other:
            break;
    }
    return "other";
}

TEST(ReportText, ControlBytesOfTheRecordArePrintedEscaped) {
    std::vector<record::Attempt> attempts(2);
    for (record::Attempt& a : attempts) {
        a.startedAt = "2026-12-09T06:00:00+00:00";
        a.station = "line\n2";
        a.serial = "00074565";
        a.operation = record::Operation::Write;
        a.result = record::Result::Fail;
        a.failedStep = record::Step::Check;
        a.message = "Discrepancy!!\x1b[2J";
    }
    const std::string text = record::FormatReportText(record::MakeReport(attempts, {}));
    EXPECT_NE(text.find("line\\n2 "), std::string::npos) << text;
    EXPECT_NE(text.find("check: Discrepancy!!\\x1B[2J"), std::string::npos) << text;
    EXPECT_NE(text.find("fail at line\\n2 socket 1"), std::string::npos) << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find("line\n"), std::string::npos);
}

// A morning of known outcomes, counted by hand: seven modules, two made
// good at their first write (A, F), three made good in the end (A, B, F).
// A check, a channel test, an unverified write and a pass a record took
// back make no module good.
TEST(ReportFigures, UnitsAndYieldsAreCountedByModuleNotByAttempt) {
    using record::Operation;
    using record::Result;
    const struct {
        const char* time;
        int socket;
        const char* serial;
        Operation op;
        Result result;
        const char* message;
        const char* id;
        const char* corrects;
    } rows[] = {
        {"06:00", 1, "A", Operation::Write, Result::Pass, "", "a1", ""},
        {"06:10", 1, "B", Operation::Write, Result::Fail, "Not Response!!", "b1", ""},
        {"06:20", 1, "B", Operation::Write, Result::Pass, "", "b2", ""},
        {"06:30", 1, "C", Operation::Write, Result::Fail,
         "Discrepancy!!; decided offline: postgresql://db/line out of reach, other stations not "
         "asked",
         "c1", ""},
        {"06:40", 1, "C", Operation::Write, Result::Fail, "Discrepancy!!", "c2", ""},
        {"06:50", 1, "D", Operation::Check, Result::Pass, "", "d1", ""},
        {"07:00", 1, "D", Operation::Test, Result::Pass, "", "d2", ""},
        {"07:10", 1, "E", Operation::WriteUnverified, Result::Pass, "", "e1", ""},
        {"07:20", 1, "F", Operation::Write, Result::Pass, "", "f1", ""},
        {"07:30", 1, "F", Operation::Write, Result::Pass, "", "f2", ""},
        {"07:40", 2, "G", Operation::Write, Result::Pass, "", "g1", ""},
        {"07:40", 2, "G", Operation::Write, Result::NotRecorded, "", "g2", "g1"},
        {"07:50", 1, "", Operation::Write, Result::Fail, "garbled serial", "x1", ""},
        {"08:00", 1, "A", Operation::Info, Result::Pass, "", "i1", ""},
    };
    std::vector<record::Attempt> attempts;
    for (const auto& r : rows) {
        record::Attempt a;
        a.startedAt = std::string("2026-12-09T") + r.time + ":00+00:00";
        a.station = "line 1";
        a.socket = r.socket;
        a.serial = r.serial;
        a.operation = r.op;
        a.result = r.result;
        a.message = r.message;
        a.attemptId = r.id;
        a.corrects = r.corrects;
        attempts.push_back(a);
    }
    const record::Report report = record::MakeReport(attempts, {});
    const auto& t = report.total;
    EXPECT_EQ(t.units, 7);
    EXPECT_EQ(t.firstPassUnits, 2);
    EXPECT_EQ(t.passedUnits, 3);
    EXPECT_EQ(t.Attempts(Result::Pass), 8);
    EXPECT_EQ(t.Attempts(Result::Fail), 4);
    EXPECT_EQ(t.Attempts(Result::NotRecorded), 1);
    ASSERT_TRUE(report.modulesPerHour);
    EXPECT_DOUBLE_EQ(*report.modulesPerHour, 3 / (110 / 60.0));
    ASSERT_EQ(report.sockets.size(), 2u);
    EXPECT_EQ(report.sockets[1].units, 1);
    EXPECT_EQ(report.sockets[1].passedUnits, 0);

    // The offline note says how a failure was decided, not why: one reason.
    ASSERT_FALSE(report.failures.empty());
    EXPECT_EQ(report.failures[0].message, "Discrepancy!!");
    EXPECT_EQ(report.failures[0].count, 2);

    std::map<std::string, std::string> kinds;
    for (const auto& rep : report.repeats) kinds[rep.serial] = FormatKind(rep.kind);
    EXPECT_EQ(kinds, (std::map<std::string, std::string>{{"B", "fail then pass"},
                                                         {"C", "other"},
                                                         {"D", "other"},
                                                         {"F", "double pass"},
                                                         {"G", "other"}}));

    const std::string json = record::FormatReportJson(report);
    for (const char* key : {"\"units\":7,\"first_pass_yield\":0.2857,\"final_yield\":0.4286",
                            "\"modules_per_hour\":1.64", "\"by_station\":[{\"station\":\"line 1\"",
                            "\"not-recorded\":1", "\"kind\":\"fail then pass\""}) {
        EXPECT_NE(json.find(key), std::string::npos) << key << " in " << json;
    }
}

}  // namespace
