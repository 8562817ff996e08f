// The database record against the real thing: an SQLite file, and a
// throw-away PostgreSQL cluster started by this test program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>

#include "attempt_id.h"
#include "child_process.h"
#include "csv_log.h"
#include "csv_sink.h"
#include "db_uri.h"
#include "pg_cluster.h"
#include "record_programs.h"
#include "report.h"
#include "scratch_folder.h"
#include "sql_record.h"

namespace {

using record::Attempt;

const std::vector<std::string> kPlan = {"434.700", "434.600", "433.920", "434.075"};

Attempt MakeAttempt(const std::string& station, int socket, const std::string& serial) {
    Attempt a;
    a.attemptId = record::NewAttemptId();
    a.startedAt = record::IsoTimeNow();
    a.station = station;
    // One installation per station name, as a station's data folder keeps it.
    char id[40];
    std::snprintf(
        id, sizeof id, "00000000-0000-4000-8000-%012llx",
        static_cast<unsigned long long>(std::hash<std::string>{}(station)) & 0xffffffffffffull);
    a.stationId = id;
    a.socket = socket;
    a.port = "COM" + std::to_string(socket);
    a.kind = "rx";
    a.serial = serial;
    a.version = "R1.05";
    a.channels = kPlan;
    a.operation = record::Operation::Write;
    a.result = record::Result::Running;
    a.toolVersion = "1.5.2";
    a.operatorName = "anna";
    return a;
}

Attempt Ended(Attempt a, const std::string& result, const std::string& message = "") {
    a.result = *record::ResultFromText(result);
    a.message = message;
    a.failedStep = result == "pass" ? record::Step::None : record::Step::Check;
    a.durationMs = 4236;
    a.readBack = {"A4,06,02,01,10", "A4,06,02,01,08", "4D,08,42,01,06", "A4,06,01,01,5E"};
    return a;
}

class Record : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        NeedApplication();
        if (Postgres()) {
            std::string why;
            cluster_ = SharedCluster(&why);
            if (!cluster_ && PgCluster::BinDir().empty()) GTEST_SKIP() << why;
            ASSERT_TRUE(cluster_) << why;
            // Each test starts from an empty record.
            cluster_->Psql(
                "-c 'DROP TABLE IF EXISTS attempts, attempt_audit, schema_version, stations "
                "CASCADE' "
                "-c 'DROP ROLE IF EXISTS station_a' >/dev/null 2>&1");
            cluster_->Psql(
                "-c 'DROP OWNED BY modsetup_station' -c 'DROP ROLE "
                "modsetup_station' >/dev/null 2>&1");
            uri_ = cluster_->Uri();
        } else {
            uri_ = "sqlite:" + scratch_.Path() + "/line.db";
        }
    }
    bool Postgres() const { return std::string(GetParam()) == "postgresql"; }

    std::unique_ptr<record::Sink> Open(int retryMs = 0) {
        std::string error;
        auto sink = record::OpenDatabaseSink(uri_, spool_, &error, retryMs);
        EXPECT_TRUE(sink) << error;
        return sink;
    }
    std::vector<Attempt> Rows() {
        std::vector<Attempt> rows;
        std::string error;
        EXPECT_TRUE(record::LoadAttempts(uri_, {}, &rows, &error)) << error;
        return rows;
    }
    // A statement straight on the database, past the sink.
    bool Raw(const std::string& sql, const std::string& user = PgCluster::kUser,
             std::string* error = nullptr, int* affected = nullptr) {
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(Postgres() ? "QPSQL" : "QSQLITE", "raw");
            if (Postgres()) {
                db.setHostName("127.0.0.1");
                db.setPort(cluster_->Port());
                db.setDatabaseName("postgres");
                db.setUserName(QString::fromStdString(user));
                db.setConnectOptions("sslmode=disable");
            } else {
                db.setDatabaseName(QString::fromStdString(uri_.substr(7)));
            }
            if (db.open()) {
                QSqlQuery q(db);
                ok = q.exec(QString::fromStdString(sql));
                if (error) *error = q.lastError().text().toStdString();
                if (affected) *affected = q.numRowsAffected();
            } else if (error) {
                *error = db.lastError().text().toStdString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase("raw");
        return ok;
    }
    int Modsetup(const std::vector<std::string>& args, std::string* out = nullptr) {
        return RunModsetup(args, out);
    }

    ScratchFolder scratch_{"record_test"};
    std::string spool_ = scratch_.Path() + "/spool.sqlite";
    PgCluster* cluster_ = nullptr;
    std::string uri_;
};

TEST_P(Record, DbInitMakesTheSchemaAndMigratesTheFirstVersionKeepingItsRows) {
    std::string out;
    if (Postgres()) {
        // A station does not make the line's schema; it says what to run.
        EXPECT_FALSE(record::OpenDatabaseSink(uri_, spool_, &out));
        EXPECT_NE(out.find("run modsetup db init"), std::string::npos) << out;
    }
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_, "--to", "1"}, &out), 0) << out;
    EXPECT_NE(out.find("applied 001_init.sql"), std::string::npos) << out;
    ASSERT_TRUE(
        Raw("INSERT INTO attempts (attempt_id, station, socket, serial, operation, result, "
            "started_at) VALUES ('6f0e4b6c-8d7a-4c55-9a43-0b1e2d3c4f50', 'old', 1, "
            "'00000001', 'write', 'pass', '2026-12-01T08:00:00.000Z')"));
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}, &out), 0) << out;
    EXPECT_NE(out.find("applied 002_line.sql"), std::string::npos) << out;
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}, &out), 0) << out;
    EXPECT_NE(out.find("already up to date"), std::string::npos) << out;
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].station, "old");
    EXPECT_EQ(rows[0].startedAt, "2026-12-01T08:00:00.000Z");
    EXPECT_TRUE(Open());
}

TEST_P(Record, AStationsAttemptsAreRowsAndOnlyAVerifiedWriteOfThePlanCountsAsPassed) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    auto sink = Open();
    ASSERT_TRUE(sink);
    Attempt passed = MakeAttempt("line 1", 1, "00074565");
    Attempt unverified = MakeAttempt("line 1", 2, "00074566");
    unverified.operation = record::Operation::WriteUnverified;
    Attempt failed = MakeAttempt("line 1", 1, "00074567");
    for (Attempt* a : {&passed, &unverified, &failed}) {
        ASSERT_TRUE(sink->Begin(*a).ok);
        // The running row is there before the module gets its first command.
        bool seen = false;
        for (const Attempt& r : Rows())
            seen = seen || (r.attemptId == a->attemptId && r.result == record::Result::Running);
        EXPECT_TRUE(seen);
    }
    std::string error;
    ASSERT_TRUE(sink->Finish(Ended(passed, "pass"), &error)) << error;
    ASSERT_TRUE(sink->Finish(Ended(unverified, "pass"), &error)) << error;
    ASSERT_TRUE(sink->Finish(Ended(failed, "fail", "Discrepancy!!"), &error)) << error;

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    for (const Attempt& r : rows) {
        if (r.attemptId != passed.attemptId) continue;
        EXPECT_EQ(r.result, record::Result::Pass);
        EXPECT_EQ(r.operatorName, "anna");
        EXPECT_EQ(r.readBack[2], "4D,08,42,01,06");
        EXPECT_EQ(r.durationMs, 4236);
    }
    const auto prior = sink->PassedBefore("rx", "00074565", kPlan);
    ASSERT_TRUE(prior);
    EXPECT_EQ(prior->station, "line 1");
    EXPECT_EQ(prior->socket, 1);
    auto otherPlan = kPlan;
    otherPlan[0] = "434.675";
    EXPECT_FALSE(sink->PassedBefore("rx", "00074565", otherPlan));
    EXPECT_FALSE(sink->PassedBefore("tx", "00074565", kPlan));
    EXPECT_FALSE(sink->PassedBefore("rx", "00074566", kPlan));  // not verified
    EXPECT_FALSE(sink->PassedBefore("rx", "00074567", kPlan));
}

TEST_P(Record, OfTwoStationsMeetingOneSerialExactlyOneWrites) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    auto a = Open();
    auto b = Open();
    ASSERT_TRUE(a && b);
    const Attempt first = MakeAttempt("A", 2, "00074999");
    const Attempt second = MakeAttempt("B", 5, "00074999");
    ASSERT_TRUE(a->Begin(first).ok);
    const record::BeginResult lost = b->Begin(second);
    EXPECT_FALSE(lost.ok);
    EXPECT_EQ(lost.busyAt, "in progress at station A, socket 2");
    // The one that did not write is on record as a skip, saying why.
    int skips = 0;
    for (const Attempt& r : Rows()) {
        if (r.attemptId != second.attemptId) continue;
        ++skips;
        EXPECT_EQ(r.result, record::Result::Skipped);
        EXPECT_EQ(r.message, lost.busyAt);
    }
    EXPECT_EQ(skips, 1);
    // A read-back of the same module is no write and may go on.
    Attempt check = MakeAttempt("B", 5, "00074999");
    check.operation = record::Operation::Check;
    EXPECT_TRUE(b->Begin(check).ok);
    ASSERT_TRUE(a->Finish(Ended(first, "pass"), nullptr));
    EXPECT_TRUE(b->Begin(MakeAttempt("B", 5, "00074999")).ok);

    // A station killed during a write, then started again: its old row can
    // no longer be running, and ends as interrupted.
    ASSERT_TRUE(a->Begin(MakeAttempt("A", 3, "00075000")).ok);
    a.reset();
    auto restarted = Open();
    EXPECT_TRUE(restarted->Begin(MakeAttempt("A", 3, "00075000")).ok);
    int interrupted = 0;
    for (const Attempt& r : Rows()) interrupted += r.result == record::Result::Interrupted;
    EXPECT_EQ(interrupted, 1);
}

TEST_P(Record, AStationKilledMidWriteLeavesARunningRowTheReportShowsIncomplete) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid =
        child::Spawn({BinDir() + "/record_writer", uri_, spool_, "00080001"}, {}, pipeFds[1]);
    ::close(pipeFds[1]);
    char said[64] = {};
    const ssize_t n = ::read(pipeFds[0], said, sizeof said - 1);
    ::close(pipeFds[0]);
    ::kill(pid, SIGKILL);
    EXPECT_EQ(child::WaitExit(pid, 10000), 128 + SIGKILL);
    ASSERT_GT(n, 0);
    ASSERT_EQ(std::string(said), "begun\n");

    std::string out;
    ASSERT_EQ(Modsetup({"report", "--db", uri_, "--json"}, &out), 0) << out;
    EXPECT_NE(out.find("\"units\":1,\"first_pass_yield\":0.0000,\"final_yield\":0.0000,"
                       "\"attempts\":{\"running\":1,\"pass\":0,"),
              std::string::npos)
        << out;
    ASSERT_EQ(Modsetup({"report", "--db", uri_, "--station", "killed"}, &out), 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("killed +3 +1 +0.0 % +0.0 % +0 +0 +1 +0\n")))
        << out;
}

// The report reads only some columns of a database, and only some rows in
// full: a pass a correction took back is none, and a failure keeps its reason.
TEST_P(Record, TheReportFromTheDatabaseTakesBackACorrectedPassAndKeepsWhyOneFailed) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    auto sink = Open();
    ASSERT_TRUE(sink);
    std::string error;
    Attempt kept = MakeAttempt("A", 1, "00076001");
    Attempt taken = MakeAttempt("A", 2, "00076002");
    Attempt failed = MakeAttempt("A", 3, "00076003");
    for (Attempt* a : {&kept, &taken, &failed}) ASSERT_TRUE(sink->Begin(*a).ok);
    ASSERT_TRUE(sink->Finish(Ended(kept, "pass"), &error)) << error;
    ASSERT_TRUE(sink->Finish(Ended(taken, "pass"), &error)) << error;
    ASSERT_TRUE(sink->Finish(Ended(failed, "fail", "Discrepancy!!"), &error)) << error;
    Attempt correction = Ended(taken, "not-recorded", "the CSV log could not keep its row");
    correction.attemptId = record::NewAttemptId();
    correction.corrects = taken.attemptId;
    ASSERT_TRUE(sink->Correct(correction, &error)) << error;

    std::string out;
    ASSERT_EQ(Modsetup({"report", "--db", uri_, "--json"}, &out), 0) << out;
    EXPECT_NE(out.find("\"units\":3,\"first_pass_yield\":0.3333,\"final_yield\":0.3333,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Discrepancy!!"), std::string::npos) << out;
}

TEST_P(Record, TheCsvLogAndTheDatabaseGetTheSameRowsAndTheExportIsFormulaSafe) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    const std::string log = scratch_.Path() + "/log.csv";
    std::string error;
    auto both = record::OpenSinks({log, uri_, scratch_.Path(), "", ""}, &error);
    ASSERT_TRUE(both) << error;
    Attempt a = MakeAttempt("=cmd|' /C calc'!A0", 1, "00074565");
    ASSERT_TRUE(both->Begin(a).ok);
    ASSERT_TRUE(both->Finish(Ended(a, "fail", "@SUM(1)\nsecond line"), &error)) << error;
    const auto fromCsv = record::ReadProductionRows(log);
    const auto fromDb = Rows();
    ASSERT_EQ(fromCsv.size(), 1u);
    ASSERT_EQ(fromDb.size(), 1u);
    EXPECT_EQ(fromCsv[0].station, fromDb[0].station);
    EXPECT_EQ(fromCsv[0].message, fromDb[0].message);
    EXPECT_EQ(fromCsv[0].socket, 1);

    const std::string exported = scratch_.Path() + "/export.csv";
    ASSERT_EQ(Modsetup({"export", "--db", uri_, "--csv", exported}), 0);
    std::ifstream in(exported, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find(",'=cmd|' /C calc'!A0,"), std::string::npos) << text;
    EXPECT_NE(text.find(",'@SUM(1)\\nsecond line,"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Backends, Record, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

// PostgreSQL only: a server that goes away, and what a station may do.
class Line : public Record {};

TEST_P(Line, AServerStoppedMidRunGetsEveryRowExactlyOnceWhenItIsBack) {
    ASSERT_EQ(Modsetup({"db", "init", "--db", uri_}), 0);
    auto sink = Open();
    ASSERT_TRUE(sink);
    std::vector<Attempt> all;
    for (int i = 0; i < 3; ++i) {
        all.push_back(MakeAttempt("line 2", i + 1, "0009000" + std::to_string(i)));
        ASSERT_TRUE(sink->Begin(all.back()).ok);
        ASSERT_TRUE(sink->Finish(Ended(all.back(), "pass"), nullptr));
    }
    // This one begins while the server is up and ends after it went away.
    all.push_back(MakeAttempt("line 2", 4, "00090003"));
    ASSERT_TRUE(sink->Begin(all.back()).ok);
    ASSERT_TRUE(cluster_->StopServer());
    std::string finishError;
    ASSERT_TRUE(sink->Finish(Ended(all.back(), "fail", "Not Response!!"), &finishError))
        << finishError;
    for (int i = 4; i < 6; ++i) {
        all.push_back(MakeAttempt("line 2", i + 1, "0009000" + std::to_string(i)));
        const record::BeginResult b = sink->Begin(all.back());
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_NE(b.note.find("decided offline"), std::string::npos) << b.note;
        // The station puts the note in the row's message, once.
        ASSERT_TRUE(sink->Finish(Ended(all.back(), "pass", b.note), nullptr));
    }
    // A row the server will refuse (a station's id that is no UUID) must not
    // hold up the others.
    Attempt bad = MakeAttempt("line 2", 7, "00090006");
    bad.attemptId = "not-a-uuid";
    ASSERT_TRUE(sink->Begin(bad).ok);
    ASSERT_TRUE(sink->Finish(Ended(bad, "pass"), nullptr));
    EXPECT_EQ(sink->Unsent(), 4);
    EXPECT_EQ(sink->Flush(), 4);
    // A restart of the station while the server is still away: the spool stays.
    sink.reset();
    sink = Open();
    ASSERT_TRUE(sink);
    EXPECT_EQ(sink->Unsent(), 4);
    ASSERT_TRUE(cluster_->StartServer());
    EXPECT_EQ(sink->Flush(), 1);
    // Sending again (a crash after the server committed) changes nothing;
    // the refused row stays where it is, counted, never lost.
    auto again = Open();
    EXPECT_EQ(again->Unsent(), 1);
    EXPECT_EQ(again->Flush(), 1);

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), all.size());
    std::set<std::string> ids;
    for (const Attempt& r : rows) {
        ids.insert(r.attemptId);
        EXPECT_NE(r.result, record::Result::Running) << r.serial;
        const bool offline = r.serial == "00090004" || r.serial == "00090005";
        EXPECT_EQ(r.message.find("decided offline") != std::string::npos, offline) << r.message;
        EXPECT_EQ(r.message.find("decided offline"), r.message.rfind("decided offline"));
    }
    for (const Attempt& a : all) EXPECT_EQ(ids.count(a.attemptId), 1u) << a.serial;
}

// The libpq way: the server named by a service file, the password from the
// pgpass file (every connection of these tests logs in with one).
TEST_P(Line, AServiceFileNamesTheServer) {
    const std::string services = scratch_.Path() + "/pg_service.conf";
    std::ofstream(services) << "[line]\nhost=127.0.0.1\nport=" << cluster_->Port()
                            << "\ndbname=postgres\nuser=" << PgCluster::kUser << "\n";
    ::setenv("PGSERVICEFILE", services.c_str(), 1);
    uri_ = "postgres:service=line sslmode=disable";
    std::string out;
    EXPECT_EQ(Modsetup({"db", "init", "--db", uri_}, &out), 0) << out;
    EXPECT_TRUE(Open());
    ::unsetenv("PGSERVICEFILE");
}

INSTANTIATE_TEST_SUITE_P(Backends, Line, ::testing::Values("postgresql"),
                         [](const auto& info) { return std::string(info.param); });

TEST(RecordTime, TimesWithAndWithoutOffsetsAreOneInstant) {
    const struct {
        const char* text;
        const char* utc;  // empty: not a time
    } cases[] = {
        {"2026-12-09T06:05:00+01:00", "2026-12-09T05:05:00.000Z"},
        {"2026-12-09T05:05:00.250Z", "2026-12-09T05:05:00.250Z"},
        {"2026-12-09 23:30:00-02:30", "2026-12-10T02:00:00.000Z"},
        {"2024-02-29T00:00:00+00", "2024-02-29T00:00:00.000Z"},
        {"2026-12-09T25:00", ""},
        {"yesterday", ""},
        {"2026-12-09T06:05:00+01:00x", ""},
    };
    for (const auto& c : cases) {
        long long ms = 0;
        const bool parsed = record::ParseIsoTime(c.text, &ms);
        EXPECT_EQ(parsed, *c.utc != 0) << c.text;
        if (parsed) {
            EXPECT_EQ(record::FormatUtcIso(ms), c.utc) << c.text;
        }
    }
}

TEST(DbUri, PasswordsAreRefusedAndConnectionOptionsPassedOn) {
    const struct {
        const char* uri;
        const char* host;
        int port;
        const char* db;
        const char* user;
        const char* options;  // "key=value " each
        bool refused;
    } cases[] = {
        {"postgresql://station2@db.line:5433/prod?sslmode=verify-full", "db.line", 5433, "prod",
         "station2", "sslmode=verify-full ", false},
        {"postgres://[::1]/prod", "::1", -1, "prod", "", "", false},
        {"postgres:service=line2 sslmode=require", "", -1, "", "", "service=line2 sslmode=require ",
         false},
        {"postgresql://station2:secret@db/prod", "", -1, "", "", "", true},
        {"postgresql://db/prod?password=secret", "", -1, "", "", "", true},
        {"postgres:service=x password=secret", "", -1, "", "", "", true},
        {"postgresql://db/prod?sslmode=require;host=evil", "", -1, "", "", "", true},
        {"mysql://db/prod", "", -1, "", "", "", true},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto t = record::ParseDbUri(c.uri, &error);
        EXPECT_EQ(!t, c.refused) << c.uri << ": " << error;
        if (!t) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(t->host, c.host) << c.uri;
        EXPECT_EQ(t->port, c.port) << c.uri;
        EXPECT_EQ(t->database, c.db) << c.uri;
        EXPECT_EQ(t->user, c.user) << c.uri;
        std::string options;
        for (const auto& [k, v] : t->options) options += k + "=" + v + " ";
        EXPECT_EQ(options, c.options) << c.uri;
    }
    std::string error;
    EXPECT_FALSE(record::ParseDbUri("postgresql://u:pw@h/d", &error));
    EXPECT_NE(error.find(".pgpass"), std::string::npos);
}

}  // namespace
