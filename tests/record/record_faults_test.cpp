// What went wrong with the line's record, each on the real parts: a
// PostgreSQL cluster this test starts, SQLite files, and a disk that really
// fills up (a small tmpfs in the test's own mount namespace).
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "attempt_id.h"
#include "csv_log.h"
#include "csv_sink.h"
#include "fan_out_sink.h"
#include "record_programs.h"
#include "record_worker.h"
#include "scratch_folder.h"
#include "sql_record.h"

namespace {

using record::Attempt;

const std::vector<std::string> kPlan = {"434.700", "434.600", "433.920", "434.075"};

Attempt Running(const std::string& station, const std::string& stationId,
                const std::string& serial, int socket = 1) {
    Attempt a;
    a.attemptId = record::NewAttemptId();
    a.startedAt = record::IsoTimeNow();
    a.station = station;
    a.stationId = stationId;
    a.socket = socket;
    a.port = "COM" + std::to_string(socket);
    a.kind = "rx";
    a.serial = serial;
    a.channels = kPlan;
    a.operation = record::Operation::Write;
    a.result = record::Result::Running;
    return a;
}

Attempt Passed(Attempt a) {
    a.result = record::Result::Pass;
    a.durationMs = 4236;
    return a;
}

const std::string kIdA = "00000000-0000-4000-8000-00000000000a";
const std::string kIdB = "00000000-0000-4000-8000-00000000000b";

// A folder on a filesystem of its own of a few kilobytes, that a test fills
// to the last byte. Needs root (CI runs as root); the mount is the test
// process's own.
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        static const bool ownNamespace = ::unshare(CLONE_NEWNS) == 0 &&
                                         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE,
                                                 nullptr) == 0;
        std::filesystem::create_directories(path_);
        mounted_ = ownNamespace &&
                   ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k,mode=0777") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Nothing more fits.
    void Fill() {
        std::ofstream out(path_ + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (out.write(block.data(), block.size())) {
        }
        out.close();
        std::ofstream last(path_ + "/filler2", std::ios::binary);
        while (last.put('x')) {
        }
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

class RecordFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        NeedApplication();
        std::string why;
        cluster_ = SharedCluster(&why);
        if (!cluster_ && PgCluster::BinDir().empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(cluster_) << why;
        cluster_->Psql(
            "-c 'DROP TABLE IF EXISTS attempts, attempt_audit, schema_version, stations "
            "CASCADE' >/dev/null 2>&1");
        uri_ = cluster_->Uri();
        ASSERT_EQ(RunModsetup({"db", "init", "--db", uri_}), 0);
    }
    std::unique_ptr<record::Sink> Open(const std::string& uri, std::string* error,
                                       const std::string& station = "line 1",
                                       const std::string& id = kIdA) {
        return record::OpenDatabaseSink(uri, spool_, error, 0, {station, id});
    }
    std::vector<Attempt> Rows(const std::string& uri) {
        std::vector<Attempt> rows;
        std::string error;
        EXPECT_TRUE(record::LoadAttempts(uri, {}, &rows, &error)) << error;
        return rows;
    }
    const Attempt* Find(const std::vector<Attempt>& rows, const std::string& id) {
        for (const Attempt& r : rows) {
            if (r.attemptId == id) return &r;
        }
        return nullptr;
    }

    ScratchFolder scratch_{"record_faults"};
    std::string spool_ = scratch_.Path() + "/spool.sqlite";
    PgCluster* cluster_ = nullptr;
    std::string uri_;
};

// Only a server out of reach is spooled for; one that refuses the station
// says why, at start, and nothing is taken for an outage.
TEST_F(RecordFaults, ARefusalIsAnErrorAndOnlyAServerOutOfReachIsOffline) {
    const std::string port = std::to_string(cluster_->Port());
    cluster_->Psql("-c \"CREATE ROLE stranger LOGIN PASSWORD 'right'\" >/dev/null 2>&1");
    // A password that is wrong, in the place libpq reads it from.
    std::ofstream(std::getenv("PGPASSFILE"), std::ios::app)
        << "127.0.0.1:" << port << ":*:stranger:wrong\n";
    const struct {
        const char* name;
        std::string uri;
        std::string before;  // psql as the owner first
        const char* error;   // empty: opens, spooling
    } cases[] = {
        {"a wrong password", cluster_->Uri("stranger"), "", "password authentication failed"},
        {"a misspelt database",
         "postgresql://modsetup@127.0.0.1:" + port + "/postgress?sslmode=disable", "",
         "database \"postgress\" does not exist"},
        {"a missing grant", cluster_->Uri("station_g"),
         "-c \"CREATE ROLE station_g LOGIN PASSWORD '" + std::string(PgCluster::kPassword) + "'\"",
         "permission denied: the database user station_g may not read"},
        {"a schema older than this program", uri_,
         "-c 'UPDATE schema_version SET version = 2'", "run modsetup db init"},
        {"a schema newer than this program", uri_,
         "-c 'UPDATE schema_version SET version = 99'", "newer than this modsetup knows"},
        {"a server that is not there", "postgresql://modsetup@127.0.0.1:1/postgres", "", ""},
    };
    std::ofstream(std::getenv("PGPASSFILE"), std::ios::app)
        << "127.0.0.1:" << port << ":*:station_g:" << PgCluster::kPassword << "\n";
    for (const auto& c : cases) {
        if (!c.before.empty()) cluster_->Psql(c.before + " >/dev/null 2>&1");
        std::string error;
        auto sink = Open(c.uri, &error);
        if (*c.error) {
            EXPECT_FALSE(sink) << c.name;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        } else {
            ASSERT_TRUE(sink) << c.name << ": " << error;
            EXPECT_TRUE(sink->Spooling()) << c.name;
        }
        cluster_->Psql("-c 'UPDATE schema_version SET version = " +
                       std::to_string(record::LatestSchemaVersion()) + "' >/dev/null 2>&1");
    }
}

// The spool keys its rows by what the database is: the same server given
// another way still gets them, and rows for another database are named.
TEST_F(RecordFaults, ASpooledRowReachesItsDatabaseHoweverItsUriIsSpelt) {
    std::string error;
    auto sink = Open(uri_, &error);
    ASSERT_TRUE(sink) << error;
    sink.reset();  // the server is known now
    ASSERT_TRUE(cluster_->StopServer());
    sink = Open(uri_, &error);
    ASSERT_TRUE(sink) << error;
    const Attempt a = Running("line 1", kIdA, "00091001");
    ASSERT_TRUE(sink->Begin(a).ok);
    ASSERT_TRUE(sink->Finish(Passed(a), &error)) << error;
    EXPECT_EQ(sink->Unsent(), 1);
    sink.reset();
    ASSERT_TRUE(cluster_->StartServer());
    // postgres:// instead of postgresql://, and a connect_timeout added.
    std::string respelt = uri_;
    respelt.replace(0, std::string("postgresql").size(), "postgres");
    respelt += "&connect_timeout=5";
    sink = Open(respelt, &error);
    ASSERT_TRUE(sink) << error;
    EXPECT_EQ(sink->Flush(), 0);
    const auto rows = Rows(uri_);
    const Attempt* row = Find(rows, a.attemptId);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->result, record::Result::Pass);

    // Rows kept for a database that is not the one given now are said.
    ASSERT_TRUE(cluster_->StopServer());
    const Attempt b = Running("line 1", kIdA, "00091002");
    ASSERT_TRUE(sink->Begin(b).ok);
    sink.reset();
    ASSERT_TRUE(cluster_->StartServer());
    cluster_->Psql("-c 'CREATE DATABASE other' >/dev/null 2>&1");
    std::string other = uri_;
    other.replace(other.find("/postgres?"), 10, "/other?");
    ASSERT_EQ(RunModsetup({"db", "init", "--db", other}), 0);
    sink = Open(other, &error);
    ASSERT_TRUE(sink) << error;
    EXPECT_NE(sink->Warning().find("the spool keeps 1 attempt for another database"),
              std::string::npos)
        << sink->Warning();
}

// A row begun while the server was away, by a station that then died, is
// closed as interrupted once the station is back: nothing stays running.
TEST_F(RecordFaults, AnOfflineRowOfAStationThatDiedIsClosedWhenItIsBack) {
    ASSERT_TRUE(cluster_->StopServer());
    std::string error;
    auto sink = Open(uri_, &error);
    ASSERT_TRUE(sink) << error;
    const Attempt a = Running("line 1", kIdA, "00092001");
    ASSERT_TRUE(sink->Begin(a).ok);
    sink.reset();  // killed: no Finish
    ASSERT_TRUE(cluster_->StartServer());
    sink = Open(uri_, &error);
    ASSERT_TRUE(sink) << error;
    const auto rows = Rows(uri_);
    const Attempt* row = Find(rows, a.attemptId);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->result, record::Result::Interrupted);
}

// Two PCs under one station name: the second is refused while the first
// runs, whatever their clocks say; a station with a slow clock neither
// takes over another's live attempt nor has its own rows refused.
TEST_F(RecordFaults, TwoStationsUnderOneNameAndAClockElevenMinutesSlow) {
    std::string error;
    auto first = Open(uri_, &error, "line 1", kIdA);
    ASSERT_TRUE(first) << error;
    auto second = Open(uri_, &error, "line 1", kIdB);
    EXPECT_FALSE(second);
    EXPECT_NE(error.find("another station named line 1"), std::string::npos) << error;
    // The same installation twice (a command beside the window) is no other.
    EXPECT_TRUE(Open(uri_, &error, "line 1", kIdA)) << error;

    const Attempt live = Running("line 1", kIdA, "00093001");
    ASSERT_TRUE(first->Begin(live).ok);
    auto slow = Open(uri_, &error, "line 2", kIdB);
    ASSERT_TRUE(slow) << error;
    Attempt late = Running("line 2", kIdB, "00093001", 1);
    late.startedAt = record::FormatUtcIso(
        [] {
            long long ms = 0;
            record::ParseIsoTime(record::IsoTimeNow(), &ms);
            return ms;
        }() - 11 * 60 * 1000);
    const record::BeginResult b = slow->Begin(late);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.busyAt, "in progress at station line 1, socket 1");
    EXPECT_TRUE(first->Finish(Passed(live), &error)) << error;
    const auto rows = Rows(uri_);
    const Attempt* row = Find(rows, live.attemptId);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->result, record::Result::Pass);
    // Its own rows go in on the server's clock.
    Attempt own = Running("line 2", kIdB, "00093002");
    own.startedAt = late.startedAt;
    EXPECT_TRUE(slow->Begin(own).ok);

    // Once the first has stopped, the name may move to a new installation.
    first.reset();
    EXPECT_TRUE(Open(uri_, &error, "line 1", kIdB)) << error;
}

// A full disk under the CSV log while the database keeps the row: the
// result is not kept, and the database's row is taken back, so no record
// says "pass" for the module. Under the spool, the CSV says "not-recorded".
TEST_F(RecordFaults, ADiskThatFillsUpLeavesNoRecordSayingPass) {
    SmallDisk disk(scratch_.Path() + "/small");
    if (!disk.Mounted()) GTEST_SKIP() << "a tmpfs of its own needs root";
    const std::string sqlite = "sqlite:" + scratch_.Path() + "/line.db";
    std::string error;
    {
        record::SinkOptions o{scratch_.Path() + "/small/log.csv", sqlite, scratch_.Path(),
                              "line 1", kIdA};
        auto both = record::OpenSinks(o, &error);
        ASSERT_TRUE(both) << error;
        const Attempt a = Running("line 1", kIdA, "00094001");
        ASSERT_TRUE(both->Begin(a).ok);
        disk.Fill();
        EXPECT_FALSE(both->Finish(Passed(a), &error));
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_FALSE(both->PassedBefore("rx", "00094001", kPlan));
        int corrections = 0;
        for (const Attempt& r : Rows(sqlite)) {
            corrections += r.corrects == a.attemptId && r.result == record::Result::NotRecorded;
        }
        EXPECT_EQ(corrections, 1);
        // Start on a disk that is still full says so at once.
        EXPECT_FALSE(record::OpenSinks(o, &error));
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    }
    std::filesystem::remove(scratch_.Path() + "/small/filler");
    std::filesystem::remove(scratch_.Path() + "/small/filler2");
    {
        // The spool on the small disk, the log beside it.
        const std::string log = scratch_.Path() + "/log.csv";
        record::SinkOptions o{log, uri_, scratch_.Path() + "/small", "line 1", kIdA};
        auto both = record::OpenSinks(o, &error);
        ASSERT_TRUE(both) << error;
        ASSERT_TRUE(cluster_->StopServer());
        const Attempt a = Running("line 1", kIdA, "00094002");
        ASSERT_TRUE(both->Begin(a).ok);
        disk.Fill();
        EXPECT_FALSE(both->Finish(Passed(a), &error));
        ASSERT_TRUE(cluster_->StartServer());
        bool found = false;
        for (const Attempt& r : record::ReadProductionRows(log)) {
            if (r.attemptId != a.attemptId) continue;
            found = true;
            EXPECT_EQ(r.result, record::Result::NotRecorded);
        }
        EXPECT_TRUE(found);
    }
}

// An SQLite file another program holds locked: the record waits for it as
// busy, holding up nobody; the row is kept once the lock is gone, and
// given up (not recorded) only after the limit.
TEST_F(RecordFaults, ALockedSqliteFileIsWaitedForAsBusy) {
    const std::string path = scratch_.Path() + "/locked.db";
    const std::string uri = "sqlite:" + path;
    ASSERT_EQ(RunModsetup({"db", "init", "--db", uri}), 0);
    std::mutex mutex;
    std::condition_variable answered;
    int answers = 0;
    record::RecordWorker worker(
        [uri](std::string* why) {
            return record::OpenDatabaseSink(uri, "", why, 0, {"line 1", kIdA});
        },
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            ++answers;
            answered.notify_all();
        });
    std::string startError = "none";
    worker.Start([&](const std::string& e) { startError = e; });
    ASSERT_TRUE(worker.Drain(10000));
    ASSERT_EQ(startError, "");
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
        holder.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(holder.open());
        QSqlQuery q(holder);
        ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE"));
        const Attempt a = Running("line 1", kIdA, "00095001");
        std::string result;
        worker.Open(a, true, [&](const record::OpenAnswer& o) {
            result = o.outcome == record::OpenAnswer::Outcome::Go ? "go" : o.error;
        });
        EXPECT_FALSE(worker.Drain(1500));  // still waiting for the lock
        EXPECT_TRUE(worker.State().busy);
        EXPECT_EQ(result, "");
        ASSERT_TRUE(q.exec("COMMIT"));
        ASSERT_TRUE(worker.Drain(10000));
        EXPECT_EQ(result, "go");

        // Held past the limit: not recorded, saying why.
        worker.SetBusyLimitMs(500);
        ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE"));
        std::string closed;
        worker.Close(Passed(a), [&](const record::CloseAnswer& c) { closed = c.kept ? "kept" : c.error; });
        ASSERT_TRUE(worker.Drain(10000));
        EXPECT_NE(closed.find("the record is busy"), std::string::npos) << closed;
        q.exec("ROLLBACK");
        holder.close();
    }
    QSqlDatabase::removeDatabase("holder");
}

}  // namespace
