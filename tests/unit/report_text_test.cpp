// The plain-text report on a terminal: what the record holds is shown,
// never obeyed.
#include <gtest/gtest.h>

#include "report.h"

namespace {

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

}  // namespace
