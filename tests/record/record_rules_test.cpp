// The rules a line's PostgreSQL record keeps against a station's own login,
// its audit trail and hash chains as `db verify` walks them, and
// `db release`; on a throw-away cluster this program starts, where the owner
// of the tables may not make roles. And what an SQLite file keeps of it.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <fstream>

#include "pg_cluster.h"
#include "record_programs.h"
#include "scratch_folder.h"

namespace {

int Modsetup(const std::vector<std::string>& args, std::string* out = nullptr) {
    return RunModsetup(args, out);
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The cluster's owner of the line's tables has no CREATEROLE, and its role
// administrator is no superuser; every login has the one password.
void PrepareLine(PgCluster& cluster) {
    std::ofstream(cluster.Dir() + "/pgpass", std::ios::app)
        << "127.0.0.1:" << cluster.Port() << ":*:*:" << PgCluster::kPassword << "\n";
    const std::string pw = std::string(" PASSWORD '") + PgCluster::kPassword + "'";
    cluster.Psql("-c \"CREATE ROLE line_owner LOGIN NOCREATEROLE" + pw +
                 "\" -c \"CREATE ROLE line_admin LOGIN CREATEROLE" + pw + "\" >/dev/null");
}

// A session of one login on the line's database.
class Session {
  public:
    Session(const PgCluster& cluster, const std::string& user)
        : name_(QString::fromStdString("rules-" + user + std::to_string(next_++))) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name_);
        db.setHostName("127.0.0.1");
        db.setPort(cluster.Port());
        db.setDatabaseName("line");
        db.setUserName(QString::fromStdString(user));
        db.setConnectOptions("sslmode=disable");
        opened_ = db.open();
        if (!opened_) error_ = db.lastError().text().toStdString();
    }
    ~Session() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    // Runs the statements of sql (parted by "; ") in one transaction; the
    // rows the last one changed (or -1), with the error when one failed.
    bool Run(const std::string& sql, std::string* error = nullptr, int* changed = nullptr) {
        if (!opened_) {
            if (error) *error = error_;
            return false;
        }
        std::vector<std::string> parts;
        for (std::size_t from = 0;;) {
            const std::size_t end = sql.find("; ", from);
            parts.push_back(sql.substr(from, end == std::string::npos ? end : end - from));
            if (end == std::string::npos) break;
            from = end + 2;
        }
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        QSqlQuery q(db);
        const bool several = parts.size() > 1;
        if (several && !q.exec("BEGIN")) return false;
        bool ok = true;
        for (std::size_t i = 0; ok && i < parts.size(); ++i) {
            ok = q.exec(QString::fromStdString(parts[i]));
            if (error) *error = q.lastError().text().toStdString();
            if (changed) *changed = q.numRowsAffected();
        }
        if (several) QSqlQuery(db).exec(ok ? "COMMIT" : "ROLLBACK");
        return ok;
    }
    std::string Value(const std::string& sql) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        return q.exec(QString::fromStdString(sql)) && q.next()
                   ? q.value(0).toString().toStdString()
                   : "(" + q.lastError().text().toStdString() + ")";
    }

  private:
    static inline int next_ = 0;
    QString name_;
    bool opened_ = false;
    std::string error_;
};

const char kPlan[] = "'434.700', '434.600', '433.920', '434.075'";

// What a station sends when it begins an attempt; online its start is the
// server's now(), from its spool the station's own clock.
std::string Begin(const std::string& id, const std::string& station, const std::string& stationId,
                  const std::string& serial, const std::string& started = "now()",
                  bool offline = false) {
    return "INSERT INTO attempts (attempt_id, station, station_id, socket, port, device, kind, "
           "serial, version, ch0, ch1, ch2, ch3, rb0, rb1, rb2, rb3, operation, result, "
           "failed_step, message, started_at, duration_ms, tool_version, operator, "
           "recorded_offline) VALUES ('" +
           id + "', '" + station + "', '" + stationId + "', 1, 'COM1', '', 'rx', '" + serial +
           "', 'R1.05', " + kPlan + ", '', '', '', '', 'write', 'running', '', '', " + started +
           ", 0, '1.5.2', 'anna', " +
           (offline ? "true) ON CONFLICT (attempt_id) DO NOTHING" : "false)");
}

std::string Finish(const std::string& id, const std::string& result,
                   const std::string& message = "") {
    return "UPDATE attempts SET result = '" + result + "', failed_step = '" +
           (result == "pass" ? "" : "check") + "', message = '" + message +
           "', duration_ms = 4236, rb0 = 'A4,06,02,01,10', rb1 = 'A4,06,02,01,08', rb2 = "
           "'4D,08,42,01,06', rb3 = 'A4,06,01,01,5E', version = 'R1.05', finished_at = now() "
           "WHERE attempt_id = '" +
           id + "' AND result = 'running'";
}

// The same statements for a module of six channels: Ch4 and Ch5 in ch_more.
std::string SixChannels(std::string sql) {
    if (sql.rfind("INSERT", 0) == 0) {
        sql.replace(sql.find("recorded_offline) VALUES ("), 26,
                    "recorded_offline, ch_more) VALUES (");
        sql.insert(sql.rfind(')'), ", '433.920|434.700'");
    } else {
        sql.insert(sql.find(" WHERE"), ", rb_more = 'A4,06,02,01,08|A4,06,02,01,10'");
    }
    return sql;
}

std::string Register(const std::string& station, const std::string& stationId) {
    return "INSERT INTO stations (station, station_id) VALUES ('" + station + "', '" + stationId +
           "') ON CONFLICT (station) DO UPDATE SET station_id = excluded.station_id, seen_at = "
           "now() WHERE stations.db_user = current_user";
}

std::string Reconcile(const std::string& stationId, const std::string& notIn) {
    return "UPDATE attempts SET result = 'interrupted', message = 'never finished: the station "
           "stopped during the attempt', finished_at = now() WHERE station_id = '" +
           stationId + "' AND result = 'running' AND attempt_id NOT IN (" + notIn + ")";
}

// Attempt ids by number, for reading the tests.
std::string Id(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", n);
    return text;
}

class Rules : public ::testing::Test {
  protected:
    void SetUp() override {
        NeedApplication();
        std::string why;
        cluster_ = SharedCluster(&why, PrepareLine);
        if (!cluster_ && PgCluster::BinDir().empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(cluster_) << why;
        Reset();
    }
    // An empty database of the owner's, and no station roles yet.
    void Reset() {
        cluster_->Psql(
            "-c 'SET client_min_messages = warning' -c 'DROP DATABASE IF EXISTS line WITH "
            "(FORCE)' -c 'DROP ROLE IF EXISTS station_a, "
            "station_b, modsetup_station' -c 'CREATE DATABASE line OWNER line_owner' >/dev/null");
    }
    // What needs CREATEROLE, done by a role that has it and nothing more.
    void MakeRoles() {
        const std::string pw = std::string(" PASSWORD '") + PgCluster::kPassword + "'";
        ASSERT_EQ(cluster_->Psql("-f '" + std::string(SETUP_SOURCE_DIR) +
                                     "/record/sql/postgresql/station_role.sql' -c \"CREATE ROLE "
                                     "station_a LOGIN IN ROLE modsetup_station" +
                                     pw +
                                     "\" -c \"CREATE ROLE station_b LOGIN IN ROLE "
                                     "modsetup_station" +
                                     pw + "\"",
                                 "line_admin"),
                  0);
    }
    std::string Uri(const std::string& user) const {
        return "postgresql://" + user + "@127.0.0.1:" + std::to_string(cluster_->Port()) +
               "/line?sslmode=disable";
    }
    std::string Init() {
        std::string out;
        EXPECT_EQ(Modsetup({"db", "init", "--db", Uri("line_owner")}, &out), 0) << out;
        return out;
    }
    // The order docs/record.md gives: roles, then db init; and two stations
    // with a few finished attempts each.
    void LineWithAttempts() {
        MakeRoles();
        Init();
        Session a(*cluster_, "station_a"), b(*cluster_, "station_b");
        std::string error;
        for (const std::string& sql :
             {Register("line 2", "B"), Begin(Id(1), "line 2", "B", "00020001"),
              Finish(Id(1), "pass")}) {
            ASSERT_TRUE(b.Run(sql, &error)) << sql << ": " << error;
        }
        for (const std::string& sql :
             {Register("line 1", "A"), Begin(Id(2), "line 1", "A", "00010001"),
              Finish(Id(2), "pass"), Begin(Id(3), "line 1", "A", "00010002"),
              Finish(Id(3), "fail", "Discrepancy!! | \\ \\N\nsecond line"),
              SixChannels(Begin(Id(4), "line 1", "A", "00010003")),
              SixChannels(Finish(Id(4), "pass")),
              Begin(Id(5), "line 1", "A", "00010004")}) {
            ASSERT_TRUE(a.Run(sql, &error)) << sql << ": " << error;
        }
    }
    int Verify(std::string* out) {
        return Modsetup({"db", "verify", "--db", Uri("line_owner")}, out);
    }

    PgCluster* cluster_ = nullptr;
};

TEST_F(Rules, AStationsOwnLoginCannotRewriteHistoryYetEveryStatementOfAStationWorks) {
    // The owner may run db init before the roles exist; it says what is missing.
    std::string out = Init();
    EXPECT_TRUE(Has(out, "role modsetup_station does not exist yet")) << out;
    MakeRoles();
    out = Init();
    EXPECT_TRUE(Has(out, "granted modsetup_station")) << out;
    // Another user's grants would give nothing, with no more than a warning.
    EXPECT_EQ(Modsetup({"db", "init", "--db", Uri("station_a")}, &out), 0) << out;
    EXPECT_TRUE(Has(out, "given by the owner of the tables (line_owner)")) << out;

    Session other(*cluster_, "station_b"), station(*cluster_, "station_a");
    std::string error;
    ASSERT_TRUE(other.Run(Register("line 2", "B"), &error)) << error;
    ASSERT_TRUE(other.Run(Begin(Id(1), "line 2", "B", "00020001"), &error)) << error;
    ASSERT_TRUE(other.Run(Finish(Id(1), "pass"), &error)) << error;
    ASSERT_TRUE(other.Run(Begin(Id(2), "line 2", "B", "00020002"), &error)) << error;
    // A chain of more than ten links, walked in the order of their numbers.
    for (int n = 100; n < 111; ++n) {
        ASSERT_TRUE(other.Run(Begin(Id(n), "line 2", "B", "00020" + std::to_string(n)), &error));
        ASSERT_TRUE(other.Run(Finish(Id(n), "fail", "Not Response!!"), &error)) << error;
    }

    const struct {
        std::string sql;
        int changed;  // -1: a query, no row count
    } statements[] = {
        {"SET statement_timeout = 5000", -1},
        {"SET lock_timeout = 2000", -1},
        {"SELECT system_identifier FROM pg_control_system()", -1},
        {"SELECT current_database(), has_table_privilege('attempts', 'INSERT'), "
         "has_table_privilege('stations', 'UPDATE')",
         -1},
        {"SELECT pg_try_advisory_lock(434001, hashtext('line 1'))", -1},
        {Register("line 1", "A"), 1},
        {Register("line 1", "A"), 1},  // seen again
        {Register("line 2", "A"), 0},  // another user's name stays where it is
        {"SELECT station_id, db_user FROM stations WHERE station = 'line 1'", -1},
        {Begin(Id(10), "line 1", "A", "00010001"), 1},
        {Reconcile("A", "'" + Id(10) + "'"), 0},
        {Begin(Id(11), "line 1", "A", "00010002", "now() - interval '3 hours'", true), 1},
        {Begin(Id(11), "line 1", "A", "00010002", "now() - interval '3 hours'", true), 0},
        {Finish(Id(10), "pass"), 1},
        {Finish(Id(10), "pass"), 0},  // a replay changes nothing
        {Finish(Id(11), "fail", "Discrepancy!!"), 1},
        {"INSERT INTO attempts (attempt_id, station, station_id, socket, kind, serial, "
         "operation, ch0, ch1, ch2, ch3, result, started_at, corrects) VALUES ('" +
             Id(12) + "', 'line 1', 'A', 1, 'rx', '00010001', 'write', " + kPlan +
             ", 'not-recorded', now(), '" + Id(10) + "')",
         1},
        {Begin(Id(13), "line 1", "A", "00010003"), 1},
        {Reconcile("A", "'" + Id(10) + "'"), 1},  // a station taking over its own dead attempt
        {"SELECT station, socket FROM attempts a WHERE serial = '00010001' AND kind = 'rx' AND "
         "operation = 'write' AND result = 'pass' AND ch0 = '434.700' AND ch1 = '434.600' AND "
         "ch2 = '433.920' AND ch3 = '434.075' AND NOT EXISTS (SELECT 1 FROM attempts c WHERE "
         "c.corrects = a.attempt_id)",
         -1},
    };
    for (const auto& s : statements) {
        int changed = -2;
        EXPECT_TRUE(station.Run(s.sql, &error, &changed)) << s.sql << ": " << error;
        if (s.changed >= 0) {
            EXPECT_EQ(changed, s.changed) << s.sql;
        }
    }
    EXPECT_EQ(Modsetup({"report", "--db", Uri("station_a")}, &out), 0) << out;

    const struct {
        const char* what;
        std::string sql;
        const char* refusal;
    } forgeries[] = {
        {"a finished pass of a serial never seen, under another station's name, three days ago",
         "INSERT INTO attempts (attempt_id, station, station_id, socket, kind, serial, operation, "
         "result, started_at) VALUES ('" +
             Id(20) +
             "', 'line 2', 'B', 1, 'rx', '00099999', "
             "'write', 'pass', now() - interval '3 days')",
         "not registered to station_a"},
        {"the same under its own name",
         "INSERT INTO attempts (attempt_id, station, station_id, socket, kind, serial, operation, "
         "result, started_at) VALUES ('" +
             Id(20) +
             "', 'line 1', 'A', 1, 'rx', '00099999', "
             "'write', 'pass', now())",
         "inserts an attempt as running"},
        {"its own fail turned into a pass",
         "UPDATE attempts SET result = 'pass', failed_step = '', message = '' WHERE attempt_id = "
         "'" +
             Id(11) + "'",
         "is finished (fail)"},
        {"its station renamed and started_at a year back",
         "UPDATE attempts SET station = 'renamed', started_at = started_at - interval '1 year' "
         "WHERE station_id = 'A'",
         "is finished"},
        {"the same while finishing",
         Begin(Id(21), "line 1", "A", "00010005") + "; " +
             "UPDATE attempts SET result = 'pass', station = 'renamed', started_at = started_at - "
             "interval '1 year' WHERE attempt_id = '" +
             Id(21) + "'",
         "changes only its result"},
        {"a running row under another station's name", Begin(Id(22), "line 2", "B", "00010006"),
         "not registered to station_a"},
        {"a running row an hour old",
         Begin(Id(22), "line 1", "A", "00010006", "now() - interval '1 hour'"),
         "not within a minute"},
        {"a row from the spool that starts in the future",
         Begin(Id(22), "line 1", "A", "00010006", "now() + interval '1 hour'", true),
         "not within a minute"},
        {"a row as another database user",
         "INSERT INTO attempts (attempt_id, station, station_id, socket, operation, result, "
         "started_at, db_user) VALUES ('" +
             Id(22) +
             "', 'line 1', 'A', 1, 'write', 'running', "
             "now(), 'station_b')",
         "own database user"},
        {"a correction of another station's pass",
         "INSERT INTO attempts (attempt_id, station, station_id, socket, kind, serial, operation, "
         "ch0, ch1, ch2, ch3, result, started_at, corrects) VALUES ('" +
             Id(22) +
             "', 'line 1', "
             "'A', 1, 'rx', '00020001', 'write', " +
             kPlan + ", 'not-recorded', now(), '" + Id(1) + "')",
         "a correction takes back"},
        {"another station's running row finished",
         "UPDATE attempts SET result = 'pass' WHERE attempt_id = '" + Id(2) + "'", ""},
        {"a delete", "DELETE FROM attempts", "permission denied"},
        {"an entry of its own in the audit trail",
         "INSERT INTO attempt_audit (table_name, operation, session_user_name, current_user_name) "
         "VALUES ('attempts', 'INSERT', 'line_owner', 'line_owner')",
         "permission denied"},
        {"the audit trail cleared", "DELETE FROM attempt_audit", "permission denied"},
        {"another station's name taken over",
         "UPDATE stations SET station_id = 'A' WHERE station = 'line 2'",
         "registered to station_b"},
        {"a registration of its own standing in for the real one",
         "CREATE TEMP TABLE stations (station text, station_id text, db_user name); INSERT INTO "
         "pg_temp.stations VALUES ('line 2', 'B', current_user); " +
             Begin(Id(22), "line 2", "B", "00010006"),
         "not registered to station_a"},
    };
    const std::string before = Session(*cluster_, "line_owner")
                                   .Value(
                                       "SELECT string_agg(to_jsonb(a)::text, ',' ORDER BY "
                                       "attempt_id) FROM attempts a");
    for (const auto& f : forgeries) {
        int changed = -1;
        // Several statements in one go are one transaction.
        const bool ok = station.Run(f.sql, &error, &changed);
        if (*f.refusal) {
            EXPECT_FALSE(ok) << f.what;
            EXPECT_TRUE(Has(error, f.refusal)) << f.what << ": " << error;
        } else {
            EXPECT_EQ(changed, 0) << f.what;
        }
    }
    Session owner(*cluster_, "line_owner");
    EXPECT_EQ(owner.Value("SELECT string_agg(to_jsonb(a)::text, ',' ORDER BY attempt_id) FROM "
                          "attempts a"),
              before);
    EXPECT_EQ(owner.Value("SELECT string_agg(station || ':' || db_user, ',' ORDER BY station) "
                          "FROM stations"),
              "line 1:station_a,line 2:station_b");
    // What the station did is in the audit trail under its login, and the
    // record verifies.
    EXPECT_EQ(owner.Value("SELECT count(*) FROM attempt_audit WHERE table_name = 'attempts' AND "
                          "session_user_name = 'station_a' AND current_user_name = 'station_a'"),
              "7");
    EXPECT_EQ(Verify(&out), 0) << out;
    EXPECT_TRUE(Has(out, "chain \"A\": 4 links; link 4: ")) << out;
    EXPECT_TRUE(Has(out, "chain \"B\": 12 links; link 12: ")) << out;
    EXPECT_TRUE(Has(out, "all is well")) << out;
}

TEST_F(Rules, DbVerifyFindsEachKindOfTamper) {
    const char* kOff = "ALTER TABLE attempts DISABLE TRIGGER USER; ";  // till the case ends
    const struct {
        const char* what;
        const char* user;
        std::string sql;
        std::vector<std::string> findings;
    } cases[] = {
        {"an altered field, triggers off",
         "modsetup",
         std::string(kOff) + "UPDATE attempts SET result = 'pass' WHERE serial = '00010002'",
         {"(serial 00010002) at link 2 is altered",
          "(serial 00010002) differs from its last audit entry (#8) in result"}},
        {"an altered field by the owner",
         "line_owner",
         "UPDATE attempts SET message = '' WHERE serial = '00010002'",
         {"at link 2 is altered",
          "line_owner changed finished attempt " + Id(3) + " (fail): message"}},
        {"a sixth channel altered, triggers off",
         "modsetup",
         std::string(kOff) + "UPDATE attempts SET ch_more = '433.920|434.600' WHERE serial = '00010003'",
         {"(serial 00010003) at link 3 is altered",
          "(serial 00010003) differs from its last audit entry (#10) in ch_more"}},
        {"a deleted row by the owner",
         "line_owner",
         "DELETE FROM attempts WHERE serial = '00010002'",
         {"(serial 00010003) is link 3: link 2 missing", "line_owner deleted attempt " + Id(3)}},
        {"a deleted row, triggers off",
         "modsetup",
         std::string(kOff) + "DELETE FROM attempts WHERE serial = '00010002'",
         {"link 2 missing", "attempt " + Id(3) +
                                " is in the audit trail (last #8) but not in the "
                                "table, and no delete of it is recorded"}},
        {"a reordered chain, triggers off",
         "modsetup",
         std::string(kOff) +
             "UPDATE attempts SET chain_seq = -1 WHERE serial = '00010002'; UPDATE attempts SET "
             "chain_seq = 2 WHERE serial = '00010003'; UPDATE attempts SET chain_seq = 3 WHERE "
             "serial = '00010002'",
         {"(serial 00010003) at link 2 does not follow the link before it",
          "(serial 00010002) at link 3 finished before the link before it",
          "(serial 00010003) differs from its last audit entry (#10) in chain_seq"}},
        {"a pass made to fit the chain, triggers off",
         "modsetup",
         std::string(kOff) +
             "UPDATE attempts SET result = 'pass' WHERE serial = '00010002'; UPDATE attempts a "
             "SET chain_hash = attempt_chain_hash(a) WHERE serial = '00010002'; UPDATE attempts "
             "a SET chain_prev = p.chain_hash FROM attempts p WHERE a.serial = '00010003' AND "
             "p.serial = '00010002'; UPDATE attempts a SET chain_hash = attempt_chain_hash(a) "
             "WHERE serial = '00010003'",
         {"(serial 00010002) differs from its last audit entry (#8) in chain_hash, result"}},
        {"a finished pass inserted, triggers off",
         "modsetup",
         std::string(kOff) +
             "INSERT INTO attempts (attempt_id, station, station_id, socket, serial, operation, "
             "result, started_at) VALUES ('" +
             Id(9) +
             "', 'line 1', 'A', 1, '00099999', 'write', "
             "'pass', now() - interval '3 days')",
         {"attempt " + Id(9) + " (serial 00099999) is finished but in no chain",
          "attempt " + Id(9) + " (serial 00099999) is not in the audit trail"}},
        {"the table emptied by the owner",
         "line_owner",
         "TRUNCATE attempts",
         {"line_owner emptied the attempts table", "attempt " + Id(1) + " is in the audit trail"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        LineWithAttempts();
        std::string out;
        ASSERT_EQ(Verify(&out), 0) << out;
        std::string error;
        ASSERT_TRUE(Session(*cluster_, c.user).Run(c.sql, &error)) << error;
        EXPECT_EQ(Verify(&out), 1) << out;
        for (const std::string& finding : c.findings) EXPECT_TRUE(Has(out, finding)) << out;
    }
    // An SQLite file has no chains to walk.
    ScratchFolder scratch("rules_test");
    std::string out;
    EXPECT_EQ(Modsetup({"db", "verify", "--db", "sqlite:" + scratch.Path() + "/line.db"}, &out), 2);
    EXPECT_TRUE(Has(out, "SQLite file keeps none")) << out;
}

TEST_F(Rules, DbReleaseEndsASerialsRunningAttemptAndFreesAStationName) {
    LineWithAttempts();
    Session station(*cluster_, "station_a");
    ASSERT_EQ(station.Value("SELECT pg_try_advisory_lock(434001, hashtext('line 1'))"), "true");
    std::string out;
    EXPECT_EQ(Modsetup({"db", "release", "00010004", "--db", Uri("line_owner")}, &out), 0) << out;
    EXPECT_TRUE(Has(out, "released attempt " + Id(5) + " of station \"line 1\", socket 1")) << out;
    EXPECT_EQ(Modsetup({"db", "release", "00010004", "--db", Uri("line_owner")}, &out), 1) << out;
    EXPECT_TRUE(Has(out, "no running attempt of serial 00010004")) << out;

    // A station may not free a name, not even its own.
    EXPECT_EQ(Modsetup({"db", "release", "--station", "line 1", "--db", Uri("station_a")}, &out),
              2);
    EXPECT_TRUE(Has(out, "permission denied")) << out;
    EXPECT_EQ(Modsetup({"db", "release", "--station", "line 1", "--db", Uri("line_owner")}, &out),
              0);
    EXPECT_TRUE(Has(out, "released station \"line 1\" (station id A, database user station_a)"))
        << out;
    EXPECT_TRUE(Has(out, "a station is still connected under \"line 1\"")) << out;
    std::string error;
    EXPECT_TRUE(Session(*cluster_, "station_b").Run(Register("line 1", "B2"), &error)) << error;

    Session owner(*cluster_, "line_owner");
    EXPECT_EQ(owner.Value("SELECT result || ': ' || message FROM attempts WHERE attempt_id = '" +
                          Id(5) + "'"),
              "interrupted: never finished: released by line_owner with modsetup db release");
    EXPECT_EQ(owner.Value("SELECT string_agg(table_name || ' ' || operation || ' ' || "
                          "session_user_name, ', ' ORDER BY audit_id) FROM attempt_audit WHERE "
                          "session_user_name <> current_user_name OR session_user_name = "
                          "'line_owner' OR station = 'line 1' AND table_name = 'stations'"),
              "stations INSERT station_a, attempts UPDATE line_owner, stations DELETE line_owner, "
              "stations INSERT station_b");
    // Both are within the rules.
    EXPECT_EQ(Verify(&out), 0) << out;
}

TEST(SqliteRules, AFinishedAttemptStaysAsItIsAndEveryChangeIsAudited) {
    NeedApplication();
    ScratchFolder scratch("rules_test");
    const std::string path = scratch.Path() + "/line.db";
    std::string out;
    ASSERT_EQ(Modsetup({"db", "init", "--db", "sqlite:" + path}, &out), 0) << out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sqlite-rules");
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const char* sql :
             {"INSERT INTO attempts (attempt_id, station, socket, serial, operation, result, "
              "started_at) VALUES ('a1', 'line 1', 1, '00010001', 'write', 'running', "
              "'2026-12-09T06:00:00.000Z')",
              "UPDATE attempts SET result = 'fail' WHERE attempt_id = 'a1'",
              "INSERT INTO attempts (attempt_id, station, socket, serial, operation, result, "
              "started_at) VALUES ('a2', 'line 1', 2, '00010002', 'write', 'running', "
              "'2026-12-09T06:00:00.000Z')"}) {
            ASSERT_TRUE(q.exec(sql)) << sql << ": " << q.lastError().text().toStdString();
        }
        for (const char* sql :
             {"UPDATE attempts SET result = 'pass' WHERE attempt_id = 'a1'",
              "DELETE FROM attempts WHERE attempt_id = 'a1'", "DELETE FROM attempt_audit",
              "UPDATE attempt_audit SET station = ''"}) {
            EXPECT_FALSE(q.exec(sql)) << sql;
        }
        ASSERT_TRUE(
            q.exec("SELECT group_concat(operation || ' ' || json_extract(new_values, "
                   "'$.result'), ', ') FROM attempt_audit"));
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toString().toStdString(),
                  "INSERT running, UPDATE fail, INSERT running");
        db.close();
    }
    QSqlDatabase::removeDatabase("sqlite-rules");
    EXPECT_EQ(Modsetup({"db", "release", "00010002", "--db", "sqlite:" + path}, &out), 0) << out;
    EXPECT_TRUE(Has(out, "released attempt a2 of station \"line 1\", socket 2")) << out;
}

}  // namespace
