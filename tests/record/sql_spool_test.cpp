// The spool of a PostgreSQL record in a real SQLite file: what a station
// keeps while its server is out of reach, and sends later in the same order.
#include "sql_spool.h"

#include <gtest/gtest.h>

#include <fstream>

#include "attempt_columns.h"
#include "scratch_folder.h"

namespace {

using record::Attempt;
using record::Spool;
using record::SpooledRow;

Attempt Row(const std::string& id, const std::string& serial, const std::string& result) {
    Attempt a;
    a.attemptId = id;
    a.startedAt = "2026-12-09T06:05:00+01:00";
    a.station = "line 1";
    a.socket = 2;
    a.kind = "rx";
    a.serial = serial;
    a.channels = {"434.700", "434.600", "433.920", "434.075"};
    a.operation = record::Operation::Write;
    a.result = *record::ResultFromText(result);
    return a;
}

std::string IdOf(const SpooledRow& r) {
    return r.attempt.attemptId;
}

std::vector<SpooledRow> Batch(Spool& spool, int limit = 500) {
    std::vector<SpooledRow> rows;
    EXPECT_TRUE(spool.ReadBatch(limit, &rows));
    return rows;
}

TEST(Spool, KeepsEachServersRowsInOrderUntilSentAndGivesRefusedOnesAnotherRun) {
    ScratchFolder scratch("sql_spool_test");
    const std::string path = scratch.Path() + "/spool.sqlite";
    std::string error;
    Spool line(path, "postgresql://db1/line");
    Spool other(path, "postgresql://db2/line");
    ASSERT_TRUE(line.Open(&error)) << error;
    ASSERT_TRUE(other.Open(&error)) << error;

    ASSERT_TRUE(line.Put(Spool::Phase::Begin, Row("a1", "00000001", "running"), true, &error));
    ASSERT_TRUE(line.Put(Spool::Phase::Finish, Row("a1", "00000001", "pass"), true, &error));
    ASSERT_TRUE(line.Put(Spool::Phase::Begin, Row("a2", "00000002", "running"), true, &error));
    ASSERT_TRUE(other.Put(Spool::Phase::Finish, Row("b1", "00000003", "fail"), false, &error));
    // Attempts, not rows; each server its own.
    EXPECT_EQ(line.Unsent(), 2);
    EXPECT_EQ(line.Pending(), 3);
    line.Recount();
    EXPECT_EQ(line.Unsent(), 2);
    EXPECT_EQ(line.Pending(), 3);
    EXPECT_EQ(other.Unsent(), 1);

    std::vector<SpooledRow> rows = Batch(line);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(IdOf(rows[0]), "a1");
    EXPECT_TRUE(rows[0].begin);
    EXPECT_EQ(IdOf(rows[1]), "a1");
    EXPECT_FALSE(rows[1].begin);
    EXPECT_EQ(IdOf(rows[2]), "a2");
    EXPECT_LT(rows[0].seq, rows[1].seq);
    EXPECT_LT(rows[1].seq, rows[2].seq);
    // The start as the station gave it, and the offline mark.
    EXPECT_EQ(rows[0].attempt.startedAt, "2026-12-09T06:05:00+01:00");
    EXPECT_TRUE(rows[0].offline);
    EXPECT_EQ(Batch(line, 2).size(), 2u);

    // A spooled pass counts before the server has it.
    const auto prior = line.PassedBefore("rx", "00000001", Row("", "", "").channels);
    ASSERT_TRUE(prior);
    EXPECT_EQ(prior->station, "line 1");
    EXPECT_EQ(prior->socket, 2);
    EXPECT_FALSE(line.PassedBefore("rx", "00000003", Row("", "", "").channels));

    line.MarkRefused(rows[1].seq, "the server says no");
    line.Drop({rows[0].seq});
    line.Recount();
    EXPECT_EQ(line.Unsent(), 2);
    EXPECT_EQ(line.Pending(), 1);
    rows = Batch(line);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(IdOf(rows[0]), "a2");

    Spool again(path, "postgresql://db1/line");
    ASSERT_TRUE(again.Open(&error)) << error;
    EXPECT_EQ(again.Pending(), 2);
    rows = Batch(again);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_FALSE(rows[0].begin);
    EXPECT_EQ(IdOf(rows[0]), "a1");
    line.Drop({rows[0].seq, rows[1].seq});
    line.Recount();
    EXPECT_EQ(line.Unsent(), 0);
    EXPECT_EQ(other.Unsent(), 1);
}

TEST(Spool, AFileThatCannotBeKeptSaysWhy) {
    ScratchFolder scratch("sql_spool_test");
    std::ofstream(scratch.Path() + "/file") << "not a folder";
    Spool spool(scratch.Path() + "/file/spool.sqlite", "postgresql://db1/line");
    std::string error;
    EXPECT_FALSE(spool.Open(&error));
    EXPECT_NE(error.find("cannot keep the spool"), std::string::npos) << error;
}

}  // namespace
