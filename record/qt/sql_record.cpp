#include "sql_record.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <map>

#include "attempt_id.h"
#include "csv_sink.h"
#include "db_uri.h"
#include "fan_out_sink.h"
#include "file_system.h"

namespace record {

namespace {

// The schema files, applied in this order; a file's number is the version
// the schema has once it ran.
constexpr const char* kSchemaFiles[] = {"001_init.sql", "002_line.sql"};
constexpr int kLatest = static_cast<int>(std::size(kSchemaFiles));
// A running write older than this was left by a station that stopped: an
// attempt takes seconds.
constexpr long long kAbandonedMs = 10 * 60 * 1000;

// The columns an attempt row is written with, in binding order.
constexpr const char* kColumns[] = {
    "attempt_id", "station",     "socket",       "port",        "device",
    "kind",       "serial",      "version",      "ch0",         "ch1",
    "ch2",        "ch3",         "rb0",          "rb1",         "rb2",
    "rb3",        "operation",   "result",       "failed_step", "message",
    "started_at", "duration_ms", "tool_version", "operator",    "recorded_offline"};
// What a row's end may change: not who made it, where or when it started.
constexpr const char* kFinishColumns[] = {
    "port",   "device",      "kind",    "serial",      "version",      "ch0",     "ch1",
    "ch2",    "ch3",         "rb0",     "rb1",         "rb2",          "rb3",     "operation",
    "result", "failed_step", "message", "duration_ms", "tool_version", "operator"};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("record-%1").arg(next++);
}

// Qt looks for its SQL drivers through the application object.
void NeedApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "modsetup";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

bool IsUniqueViolation(const QSqlError& e) {
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("23505") || code == QLatin1String("2067") ||
           code == QLatin1String("1555") ||
           e.databaseText().contains(QLatin1String("UNIQUE constraint failed"));
}

std::string Why(const QSqlError& e) {
    std::string text = S(e.databaseText().trimmed());
    if (text.empty()) text = S(e.driverText().trimmed());
    return text.empty() ? "unknown database error" : text;
}

// A connection, open or with the reason it is not.
class Connection {
  public:
    Connection() : name_(NewConnectionName()) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Open(const DbTarget& t, std::string* error) {
        NeedApplication();
        Close();
        const bool sqlite = t.kind == DbTarget::Kind::Sqlite;
        const char* driver = sqlite ? "QSQLITE" : "QPSQL";
        if (!QSqlDatabase::isDriverAvailable(QLatin1String(driver))) {
            *error = std::string("Qt SQL has no ") + driver +
                     " driver here (Debian: " + (sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql") +
                     ")";
            return false;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QLatin1String(driver), name_);
        added_ = true;
        if (sqlite) {
            const std::size_t sep = store::fsys::LastSeparator(t.path);
            if (sep != std::string::npos && sep > 0)
                store::fsys::MakeFolders(t.path.substr(0, sep));
            db.setDatabaseName(Q(t.path));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        } else {
            if (!t.host.empty()) db.setHostName(Q(t.host));
            if (t.port > 0) db.setPort(t.port);
            if (!t.database.empty()) db.setDatabaseName(Q(t.database));
            if (!t.user.empty()) db.setUserName(Q(t.user));
            // No password is ever set here: libpq reads ~/.pgpass, PGPASSFILE
            // and the service file itself.
            QStringList options;
            bool timeout = false;
            for (const auto& [key, value] : t.options) {
                options << Q(key + "=" + value);
                timeout = timeout || key == "connect_timeout";
            }
            // A server that does not answer must not hold the station for
            // minutes; its rows go to the spool instead.
            if (!timeout) options << QStringLiteral("connect_timeout=3");
            db.setConnectOptions(options.join(QLatin1Char(';')));
        }
        if (!db.open()) {
            *error = "cannot open " + t.text + ": " + Why(db.lastError());
            return false;
        }
        if (sqlite) {
            // WAL lets the report read while a station writes; FULL puts every
            // commit on the disk before the next module starts.
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
                !q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
                *error = "cannot set up " + t.path + ": " + Why(q.lastError());
                return false;
            }
        }
        return true;
    }
    void Close() {
        if (!added_) return;
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
        added_ = false;
    }
    bool IsOpen() const { return added_ && QSqlDatabase::database(name_, false).isOpen(); }
    QSqlDatabase Db() const { return QSqlDatabase::database(name_, false); }

  private:
    QString name_;
    bool added_ = false;
};

bool ExecScript(QSqlDatabase db, const QString& text, std::string* error) {
    QStringList kept;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--"))) kept << line;
    }
    for (const QString& statement : kept.join(QLatin1Char('\n')).split(QLatin1Char(';'))) {
        if (statement.trimmed().isEmpty()) continue;
        QSqlQuery q(db);
        if (!q.exec(statement)) {
            *error = Why(q.lastError()) + " in: " + S(statement.trimmed().left(80));
            return false;
        }
    }
    return true;
}

// The version the schema has now: 0 when there is none yet.
int SchemaVersionOf(QSqlDatabase db, bool postgres) {
    QSqlQuery q(db);
    // Asked without an error for a missing table, which would end a
    // PostgreSQL transaction.
    if (!q.exec(postgres ? QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")
                         : QStringLiteral("SELECT count(*) > 0 FROM sqlite_master WHERE "
                                          "name = 'schema_version'")) ||
        !q.next() || !q.value(0).toBool()) {
        return 0;
    }
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next()) return 0;
    return q.value(0).toInt();
}

bool Migrate(QSqlDatabase db, bool postgres, int upTo, std::string* done, std::string* error) {
    const char* dialect = postgres ? "postgresql" : "sqlite";
    if (upTo <= 0 || upTo > kLatest) upTo = kLatest;
    for (int version = 1; version <= upTo; ++version) {
        if (!db.transaction()) {
            *error = "cannot start a transaction: " + Why(db.lastError());
            return false;
        }
        QSqlQuery q(db);
        // Two stations running db init at once: the second waits, then sees
        // the version the first made.
        if (postgres) q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(434000434)"));
        if (SchemaVersionOf(db, postgres) >= version) {
            db.rollback();
            continue;
        }
        QFile file(QStringLiteral(":/record/sql/%1/%2")
                       .arg(QLatin1String(dialect), QLatin1String(kSchemaFiles[version - 1])));
        if (!file.open(QIODevice::ReadOnly)) {
            db.rollback();
            *error = std::string("schema file missing: ") + kSchemaFiles[version - 1];
            return false;
        }
        std::string why;
        const bool applied =
            ExecScript(db, QString::fromUtf8(file.readAll()), &why) &&
            q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(version));
        if (!applied || !db.commit()) {
            if (why.empty()) why = Why(q.lastError().isValid() ? q.lastError() : db.lastError());
            db.rollback();
            *error = std::string(kSchemaFiles[version - 1]) + ": " + why;
            return false;
        }
        if (done) *done += std::string(done->empty() ? "" : ", ") + kSchemaFiles[version - 1];
    }
    return true;
}

std::string NowUtc() {
    return FormatUtcIso(QDateTime::currentMSecsSinceEpoch());
}

// The values of kColumns for an attempt.
std::vector<QVariant> Values(const Attempt& a, bool postgres, bool offline) {
    const std::string started = a.startedAt.empty() ? NowUtc()
                                : postgres          ? a.startedAt
                                                    : ToUtcIso(a.startedAt);
    std::vector<QVariant> v = {Q(a.attemptId), Q(a.station), a.socket,    Q(a.port),
                               Q(a.device),    Q(a.kind),    Q(a.serial), Q(a.version)};
    for (const auto& c : a.channels) v.emplace_back(Q(c));
    for (const auto& r : a.readBack) v.emplace_back(Q(r));
    for (const std::string* s : {&a.operation, &a.result, &a.failedStep, &a.message}) {
        v.emplace_back(Q(*s));
    }
    v.emplace_back(Q(started));
    v.emplace_back(static_cast<qlonglong>(a.durationMs));
    v.emplace_back(Q(a.toolVersion));
    v.emplace_back(Q(a.operatorName));
    v.emplace_back(postgres ? QVariant(offline) : QVariant(offline ? 1 : 0));
    return v;
}

QString ColumnList() {
    QStringList names;
    for (const char* c : kColumns) names << QLatin1String(c);
    return names.join(QLatin1String(", "));
}

QString Placeholders() {
    QStringList marks;
    for (std::size_t i = 0; i < std::size(kColumns); ++i) marks << QStringLiteral("?");
    return marks.join(QLatin1String(", "));
}

// The running row; a spooled one again is nothing new.
QString InsertRunning(bool ignoreRepeat) {
    return QStringLiteral("INSERT INTO attempts (%1) VALUES (%2)%3")
        .arg(ColumnList(), Placeholders(),
             ignoreRepeat ? QStringLiteral(" ON CONFLICT (attempt_id) DO NOTHING") : QString());
}

// The end of an attempt, also when its running row never arrived; an
// attempt already ended stays as it was, so sending it twice changes nothing.
QString UpsertFinished() {
    QStringList sets;
    for (const char* c : kFinishColumns)
        sets << QStringLiteral("%1 = excluded.%1").arg(QLatin1String(c));
    return QStringLiteral(
               "INSERT INTO attempts (%1) VALUES (%2) ON CONFLICT (attempt_id) DO UPDATE SET %3 "
               "WHERE attempts.result = 'running'")
        .arg(ColumnList(), Placeholders(), sets.join(QLatin1String(", ")));
}

bool Exec(QSqlQuery& q, const QString& sql, const std::vector<QVariant>& values) {
    if (!q.prepare(sql)) return false;
    for (const QVariant& v : values) q.addBindValue(v);
    return q.exec();
}

Attempt FromQuery(const QSqlQuery& q) {
    Attempt a;
    int i = 0;
    a.attemptId = S(q.value(i++).toString());
    a.station = S(q.value(i++).toString());
    a.socket = q.value(i++).toInt();
    a.port = S(q.value(i++).toString());
    a.device = S(q.value(i++).toString());
    a.kind = S(q.value(i++).toString());
    a.serial = S(q.value(i++).toString());
    a.version = S(q.value(i++).toString());
    for (auto& c : a.channels) c = S(q.value(i++).toString());
    for (auto& r : a.readBack) r = S(q.value(i++).toString());
    a.operation = S(q.value(i++).toString());
    a.result = S(q.value(i++).toString());
    a.failedStep = S(q.value(i++).toString());
    a.message = S(q.value(i++).toString());
    a.startedAt = S(q.value(i++).toString());
    a.durationMs = q.value(i++).toLongLong();
    a.toolVersion = S(q.value(i++).toString());
    a.operatorName = S(q.value(i++).toString());
    return a;
}

constexpr const char kPassedBefore[] =
    "SELECT station, socket, %1 FROM attempts WHERE serial = ? AND kind = ? AND ch0 = ? AND "
    "ch1 = ? AND ch2 = ? AND ch3 = ? AND operation = 'write' AND result = 'pass' "
    "ORDER BY started_at LIMIT 1";

QString StartedText(bool postgres) {
    return postgres ? QStringLiteral(
                          "to_char(started_at AT TIME ZONE 'UTC', "
                          "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")
                    : QStringLiteral("started_at");
}

// An SQLite file for one PC, or a PostgreSQL server for the line with a
// local spool for the times it cannot be reached.
class SqlSink : public Sink {
  public:
    SqlSink(DbTarget target, std::string spoolPath, int retryMs)
        : target_(std::move(target)),
          postgres_(target_.kind == DbTarget::Kind::Postgres),
          spoolPath_(std::move(spoolPath)),
          retryMs_(retryMs) {}

    bool Open(std::string* error) {
        if (postgres_) {
            if (!spool_.Open(DbTarget{DbTarget::Kind::Sqlite,
                                      spoolPath_,
                                      "",
                                      -1,
                                      "",
                                      "",
                                      {},
                                      "sqlite:" + spoolPath_},
                             error)) {
                *error = "cannot keep the spool: " + *error;
                return false;
            }
            QSqlQuery q(spool_.Db());
            if (!q.exec(
                    QStringLiteral(
                        "CREATE TABLE IF NOT EXISTS spool (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
                        "target TEXT NOT NULL, phase TEXT NOT NULL, refused TEXT, %1)")
                        .arg(ColumnList()))) {
                *error = "cannot keep the spool " + spoolPath_ + ": " + Why(q.lastError());
                return false;
            }
            q.exec(QStringLiteral(
                "CREATE INDEX IF NOT EXISTS spool_attempt ON spool (target, attempt_id)"));
            // Rows the server refused in an earlier run get another chance:
            // the server may have been put right since.
            q.exec(QStringLiteral("UPDATE spool SET refused = NULL WHERE refused IS NOT NULL"));
            CountUnsent();
            // Out of reach now is no reason to stop the line; a schema that is
            // not there or too old is.
            bool wrongSchema = false;
            if (Connect(error, &wrongSchema)) {
                Send();
            } else if (wrongSchema) {
                return false;
            }
            error->clear();
            return true;
        }
        if (!db_.Open(target_, error)) return false;
        // One PC's own file is made and brought up to date on first use.
        return Migrate(db_.Db(), false, 0, nullptr, error);
    }

    BeginResult Begin(const Attempt& attempt) override {
        BeginResult b;
        if (postgres_ && !SentUp()) return BeginOffline(attempt);
        for (int round = 0; round < 2; ++round) {
            QSqlQuery q(db_.Db());
            if (Exec(q, InsertRunning(false), Values(attempt, postgres_, false))) {
                running_[attempt.attemptId] = attempt;
                b.ok = true;
                return b;
            }
            const QSqlError e = q.lastError();
            if (!IsUniqueViolation(e)) {
                if (postgres_ && Lost()) return BeginOffline(attempt);
                b.error = "cannot record the attempt in " + target_.text + ": " + Why(e);
                return b;
            }
            // Someone is writing this serial: another station, or this
            // station's own socket in a run that never ended (killed).
            QSqlQuery holder(db_.Db());
            if (!Exec(holder,
                      QStringLiteral("SELECT attempt_id, station, socket, %1 FROM attempts WHERE "
                                     "serial = ? AND result = 'running' AND operation IN "
                                     "('write', 'write-unverified') AND %2")
                          .arg(StartedText(postgres_),
                               postgres_ ? QStringLiteral("NOT recorded_offline")
                                         : QStringLiteral("recorded_offline = 0")),
                      {Q(attempt.serial)}) ||
                !holder.next()) {
                continue;  // it ended in between: try again
            }
            const std::string station = S(holder.value(1).toString());
            const int socket = holder.value(2).toInt();
            long long startedMs = 0;
            const bool old = ParseIsoTime(S(holder.value(3).toString()), &startedMs) &&
                             QDateTime::currentMSecsSinceEpoch() - startedMs > kAbandonedMs;
            // The same socket of the same station cannot hold two modules, and
            // no attempt takes minutes: that row's run is gone. It is closed
            // as interrupted, never passed.
            if ((old || (station == attempt.station && socket == attempt.socket)) && round == 0) {
                QSqlQuery close(db_.Db());
                if (Exec(close,
                         QStringLiteral("UPDATE attempts SET result = 'interrupted', message = "
                                        "'never finished: the station stopped during the "
                                        "attempt' WHERE attempt_id = ? AND result = 'running'"),
                         {holder.value(0)}) &&
                    close.numRowsAffected() > 0) {
                    continue;
                }
            }
            b.busyAt = "in progress at station " + station + ", socket " + std::to_string(socket);
            // The attempt that did not write is a result of its own.
            Attempt skipped = attempt;
            skipped.result = "skipped";
            skipped.message = b.busyAt;
            QSqlQuery row(db_.Db());
            Exec(row, UpsertFinished(), Values(skipped, postgres_, false));
            return b;
        }
        b.error = "cannot record the attempt in " + target_.text;
        return b;
    }

    bool Finish(const Attempt& attempt, std::string* error) override {
        Attempt a = attempt;
        running_.erase(a.attemptId);
        const auto offline = offlineNotes_.find(a.attemptId);
        if (offline != offlineNotes_.end()) {
            a.message += (a.message.empty() ? "" : "; ") + offline->second;
            offlineNotes_.erase(offline);
        }
        // Never ahead of the rows still waiting: they may hold this very
        // attempt's running row.
        if (postgres_ && !SentUp()) return SpoolRow("finish", a, true, error);
        QSqlQuery q(db_.Db());
        if (Exec(q, UpsertFinished(), Values(a, postgres_, false))) return true;
        if (postgres_ && Lost()) return SpoolRow("finish", a, true, error);
        if (error)
            *error = "cannot record the result in " + target_.text + ": " + Why(q.lastError());
        return false;
    }

    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::array<std::string, 4>& plan) override {
        std::vector<QVariant> args = {Q(serial), Q(kind)};
        for (const auto& c : plan) args.emplace_back(Q(c));
        if (postgres_) {
            // Passes this station made while the server was away count too.
            QSqlQuery q(spool_.Db());
            std::vector<QVariant> spooled = args;
            spooled.emplace_back(Q(target_.text));
            if (Exec(q,
                     QString::fromLatin1(kPassedBefore)
                         .arg(QStringLiteral("started_at"))
                         .replace(QLatin1String("FROM attempts WHERE"),
                                  QLatin1String("FROM spool WHERE"))
                         .replace(QLatin1String("ORDER BY"),
                                  QLatin1String("AND target = ? ORDER BY")),
                     spooled) &&
                q.next()) {
                return PriorPass{S(q.value(0).toString()), q.value(1).toInt(),
                                 S(q.value(2).toString())};
            }
            if (!Reachable()) return std::nullopt;
        }
        QSqlQuery q(db_.Db());
        if (Exec(q, QString::fromLatin1(kPassedBefore).arg(StartedText(postgres_)), args) &&
            q.next()) {
            return PriorPass{S(q.value(0).toString()), q.value(1).toInt(),
                             S(q.value(2).toString())};
        }
        if (postgres_ && q.lastError().isValid()) Lost();
        return std::nullopt;
    }

    int Unsent() const override { return unsent_; }

    int Flush() override {
        if (postgres_ && pending_ > 0) {
            nextTry_ = {};
            SentUp();
        }
        return unsent_;
    }

    std::string Describe() const override {
        return (postgres_ ? "PostgreSQL " : "SQLite ") + (postgres_ ? target_.text : target_.path);
    }

  private:
    using Clock = std::chrono::steady_clock;

    // A server with a schema this program does not write (db init not run
    // yet, or run by a newer modsetup) takes no rows: they wait in the
    // spool rather than being refused one by one.
    bool Connect(std::string* why, bool* wrongSchema = nullptr) {
        if (db_.Open(target_, why)) {
            const int version = SchemaVersionOf(db_.Db(), true);
            if (version == kLatest) return true;
            *why = target_.text + " has schema version " + std::to_string(version) +
                   ", this modsetup needs " + std::to_string(kLatest) +
                   ": run modsetup db init --db URI";
            if (wrongSchema) *wrongSchema = true;
        }
        db_.Close();
        nextTry_ = Clock::now() + std::chrono::milliseconds(retryMs_);
        return false;
    }

    // Whether the server can be used now; tries again once the retry time
    // is up, and sends the spool first when it is back.
    bool Reachable() {
        if (db_.IsOpen()) return true;
        if (Clock::now() < nextTry_) return false;
        std::string why;
        if (!Connect(&why)) return false;
        Send();
        return db_.IsOpen();
    }

    // Whether the server is there with nothing left to send before a new row.
    bool SentUp() {
        if (!Reachable()) return false;
        if (pending_ > 0) Send();
        return db_.IsOpen() && pending_ == 0;
    }

    // After a failed statement: whether the connection went (the server
    // stopped or the network failed), rather than the statement.
    bool Lost() {
        if (db_.IsOpen()) {
            QSqlQuery ping(db_.Db());
            if (ping.exec(QStringLiteral("SELECT 1"))) return false;
        }
        db_.Close();
        nextTry_ = Clock::now() + std::chrono::milliseconds(retryMs_);
        return true;
    }

    BeginResult BeginOffline(const Attempt& attempt) {
        BeginResult b;
        // Only this station's own sockets can be asked now.
        for (const auto& [id, other] : running_) {
            if (other.serial == attempt.serial && !attempt.serial.empty() &&
                (attempt.operation == "write" || attempt.operation == "write-unverified")) {
                b.busyAt = "in progress at station " + other.station + ", socket " +
                           std::to_string(other.socket);
                return b;
            }
        }
        b.note = "decided offline: " + target_.text + " out of reach, other stations not asked";
        if (!SpoolRow("begin", attempt, true, &b.error)) return b;
        running_[attempt.attemptId] = attempt;
        offlineNotes_[attempt.attemptId] = b.note;
        b.ok = true;
        return b;
    }

    bool SpoolRow(const char* phase, const Attempt& a, bool offline, std::string* error) {
        QSqlQuery q(spool_.Db());
        // The count is of attempts: a result whose running row still waits
        // adds none.
        const bool known = Exec(q,
                                QStringLiteral("SELECT 1 FROM spool WHERE target = ? AND "
                                               "attempt_id = ? LIMIT 1"),
                                {Q(target_.text), Q(a.attemptId)}) &&
                           q.next();
        q.finish();
        std::vector<QVariant> values = {Q(target_.text), QLatin1String(phase)};
        for (QVariant& v : Values(a, false, offline)) values.push_back(std::move(v));
        // The spool keeps the time as given; PostgreSQL reads the offset.
        values[2 + 20] = Q(a.startedAt.empty() ? NowUtc() : a.startedAt);
        if (!Exec(q,
                  QStringLiteral("INSERT INTO spool (target, phase, %1) VALUES (?, ?, %2)")
                      .arg(ColumnList(), Placeholders()),
                  values)) {
            if (error) *error = "cannot spool the row in " + spoolPath_ + ": " + Why(q.lastError());
            return false;
        }
        if (!known) ++unsent_;
        ++pending_;
        return true;
    }

    void CountUnsent() {
        QSqlQuery q(spool_.Db());
        if (Exec(q,
                 QStringLiteral("SELECT COUNT(DISTINCT attempt_id), COUNT(*) - COUNT(refused) "
                                "FROM spool WHERE target = ?"),
                 {Q(target_.text)}) &&
            q.next()) {
            unsent_ = q.value(0).toInt();
            pending_ = q.value(1).toInt();
        }
    }

    struct Spooled {
        qlonglong seq = 0;
        bool begin = false;
        std::vector<QVariant> values;
    };

    bool SendRow(QSqlQuery& begin, QSqlQuery& finish, const Spooled& row) {
        QSqlQuery& q = row.begin ? begin : finish;
        for (std::size_t i = 0; i < row.values.size(); ++i)
            q.bindValue(static_cast<int>(i), row.values[i]);
        return q.exec();
    }

    void Drop(const std::vector<qlonglong>& seqs) {
        QSqlDatabase spool = spool_.Db();
        spool.transaction();
        QSqlQuery drop(spool);
        drop.prepare(QStringLiteral("DELETE FROM spool WHERE seq = ?"));
        for (const qlonglong seq : seqs) {
            drop.bindValue(0, seq);
            drop.exec();
        }
        spool.commit();
    }

    // Sends the spool in order, a batch per transaction; a batch is taken
    // out of the spool only once the server has committed it, so a crash in
    // between sends it again, which changes nothing. A row the server itself
    // refuses (not the connection) stays in the spool with the reason and no
    // longer holds up the rows after it.
    void Send() {
        while (pending_ > 0 && db_.IsOpen()) {
            std::vector<Spooled> rows;
            {
                QSqlQuery read(spool_.Db());
                read.setForwardOnly(true);
                if (!Exec(read,
                          QStringLiteral("SELECT seq, phase, %1 FROM spool WHERE target = ? AND "
                                         "refused IS NULL ORDER BY seq LIMIT 500")
                              .arg(ColumnList()),
                          {Q(target_.text)})) {
                    return;
                }
                while (read.next()) {
                    Spooled row;
                    row.seq = read.value(0).toLongLong();
                    row.begin = read.value(1).toString() == QLatin1String("begin");
                    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
                        row.values.push_back(read.value(2 + i));
                    }
                    row.values.back() = row.values.back().toInt() != 0;
                    rows.push_back(std::move(row));
                }
            }
            if (rows.empty()) break;
            QSqlDatabase db = db_.Db();
            QSqlQuery begin(db), finish(db);
            bool ok = db.transaction() && begin.prepare(InsertRunning(true)) &&
                      finish.prepare(UpsertFinished());
            for (std::size_t i = 0; ok && i < rows.size(); ++i)
                ok = SendRow(begin, finish, rows[i]);
            if (ok && db.commit()) {
                std::vector<qlonglong> sent;
                for (const Spooled& r : rows) sent.push_back(r.seq);
                Drop(sent);
                CountUnsent();
                continue;
            }
            db.rollback();
            if (Lost()) break;
            // One at a time, to find the row the server will not take.
            for (const Spooled& r : rows) {
                if (SendRow(begin, finish, r)) {
                    Drop({r.seq});
                    continue;
                }
                const std::string why = Why((r.begin ? begin : finish).lastError());
                if (Lost()) break;
                QSqlQuery mark(spool_.Db());
                Exec(mark, QStringLiteral("UPDATE spool SET refused = ? WHERE seq = ?"),
                     {Q(why), r.seq});
            }
            CountUnsent();
        }
        CountUnsent();
    }

    DbTarget target_;
    bool postgres_;
    std::string spoolPath_;
    int retryMs_;
    Connection db_;
    Connection spool_;
    int unsent_ = 0;   // attempts in the spool
    int pending_ = 0;  // spooled rows still to be sent (not refused)
    Clock::time_point nextTry_{};
    std::map<std::string, Attempt> running_;  // begun here and not yet finished
    std::map<std::string, std::string> offlineNotes_;
};

}  // namespace

std::string SpoolPath(const std::string& folder) {
    return folder + "/modsetup_spool.sqlite";
}

int LatestSchemaVersion() {
    return kLatest;
}

std::unique_ptr<Sink> OpenDatabaseSink(const std::string& uri, const std::string& spoolPath,
                                       std::string* error, int retryMs) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return nullptr;
    auto sink = std::make_unique<SqlSink>(*target, spoolPath, retryMs);
    if (!sink->Open(error)) return nullptr;
    return sink;
}

std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    std::vector<std::unique_ptr<Sink>> sinks;
    if (!options.dbUri.empty()) {
        if (!options.spoolFolder.empty()) store::fsys::MakeFolders(options.spoolFolder);
        auto db = OpenDatabaseSink(options.dbUri, SpoolPath(options.spoolFolder), error);
        if (!db) return nullptr;
        sinks.push_back(std::move(db));
    }
    if (!options.logPath.empty()) {
        auto csv = std::make_unique<CsvSink>(options.logPath);
        if (!csv->Open(error)) return nullptr;
        sinks.push_back(std::move(csv));
    }
    if (sinks.empty()) {
        *error = "no record: give --log FILE or --db URI";
        return nullptr;
    }
    if (sinks.size() == 1) return std::move(sinks.front());
    return std::make_unique<FanOutSink>(std::move(sinks));
}

bool InitDatabase(const std::string& uri, int upTo, std::string* done, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return false;
    Connection c;
    if (!c.Open(*target, error)) return false;
    return Migrate(c.Db(), target->kind == DbTarget::Kind::Postgres, upTo, done, error);
}

bool LoadAttempts(const std::string& uri, const ReportFilter& filter, std::vector<Attempt>* rows,
                  std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return false;
    const bool postgres = target->kind == DbTarget::Kind::Postgres;
    Connection c;
    if (!c.Open(*target, error)) return false;
    QStringList columns;
    for (const char* col : kColumns) {
        columns << (QLatin1String(col) == QLatin1String("started_at") ? StartedText(postgres)
                                                                      : QLatin1String(col));
    }
    columns.removeLast();  // recorded_offline
    if (postgres) columns[0] = QStringLiteral("attempt_id::text");
    QString sql =
        QStringLiteral("SELECT %1 FROM attempts WHERE true").arg(columns.join(QLatin1String(", ")));
    std::vector<QVariant> args;
    // The times go to the server as UTC; SQLite keeps them as UTC text, which
    // sorts and compares as time.
    if (filter.sinceMs) {
        sql += postgres ? QStringLiteral(" AND started_at >= ?::timestamptz")
                        : QStringLiteral(" AND started_at >= ?");
        args.emplace_back(Q(FormatUtcIso(*filter.sinceMs)));
    }
    if (filter.untilMs) {
        sql += postgres ? QStringLiteral(" AND started_at < ?::timestamptz")
                        : QStringLiteral(" AND started_at < ?");
        args.emplace_back(Q(FormatUtcIso(*filter.untilMs)));
    }
    if (!filter.station.empty()) {
        sql += QStringLiteral(" AND station = ?");
        args.emplace_back(Q(filter.station));
    }
    sql += QStringLiteral(" ORDER BY started_at, attempt_id");
    QSqlQuery q(c.Db());
    q.setForwardOnly(true);
    if (!Exec(q, sql, args)) {
        *error = "cannot read " + target->text + ": " + Why(q.lastError());
        return false;
    }
    while (q.next()) rows->push_back(FromQuery(q));
    return true;
}

}  // namespace record
