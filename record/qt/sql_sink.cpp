#include "sql_sink.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "attempt_columns.h"
#include "attempt_id.h"
#include "file_system.h"
#include "open_sinks.h"
#include "sql_migrations.h"
#include "sql_queries.h"
#include "sql_record.h"
#include "text_file.h"

namespace record {

namespace {

namespace fsys = store::fsys;

// The advisory lock a running station holds on its name (the key space is
// this program's own; the database's rules use the neighbouring ones).
constexpr int kStationLockSpace = 434001;

constexpr const char kNeverFinished[] = "never finished: the station stopped during the attempt";

// The database as a spool key before the server has said what it is: the
// URI's parts that name a database, in one form whatever the spelling
// (postgres:// or postgresql://, an added connect_timeout or sslmode).
std::string ProvisionalKey(const DbTarget& t) {
    if (t.kind == DbTarget::Kind::Sqlite) {
        const QString canonical = QFileInfo(Q(t.path)).canonicalFilePath();
        return "sqlite:" + (canonical.isEmpty() ? t.path : S(canonical));
    }
    std::string key = "postgresql://" + t.user + "@" + t.host + ":" +
                      (t.port > 0 ? std::to_string(t.port) : std::string()) + "/" + t.database;
    std::vector<std::string> named;
    for (const auto& [k, v] : t.options) {
        if (k == "service" || k == "host" || k == "hostaddr" || k == "port" || k == "dbname" ||
            k == "user") {
            named.push_back(k + "=" + v);
        }
    }
    std::sort(named.begin(), named.end());
    for (const std::string& n : named) key += (key.find('?') == std::string::npos ? "?" : "&") + n;
    return key;
}

std::string Hex(std::uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

std::uint64_t Fnv(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

bool Writes(const Attempt& a) {
    return a.operation == Operation::Write || a.operation == Operation::WriteUnverified;
}

}  // namespace

SqlSink::SqlSink(DbTarget target, std::string spoolPath, int retryMs, StationIdentity station)
    : target_(std::move(target)),
      postgres_(target_.kind == DbTarget::Kind::Postgres),
      retryMs_(retryMs),
      station_(std::move(station)),
      spool_(std::move(spoolPath), ProvisionalKey(target_)) {}

SqlSink::~SqlSink() {
    if (lockFd_ >= 0) fsys::Close(lockFd_);
}

bool SqlSink::Open(std::string* error) {
    if (postgres_) {
        if (!spool_.Open(error)) return false;
        Failure failure = Failure::OutOfReach;
        if (Connect(error, &failure)) {
            Send();
            Reconcile();
        } else if (failure == Failure::Error) {
            return false;
        }
        error->clear();
        // Rows kept for another database are named, never left silently.
        for (const OtherTarget& o : spool_.OtherTargets()) {
            warning_ += std::string(warning_.empty() ? "" : "; ") + "the spool keeps " +
                        std::to_string(o.attempts) + " attempt" + (o.attempts == 1 ? "" : "s") +
                        " for another database (" + o.lastUri +
                        "); they are sent when a station is given that database";
        }
        return true;
    }
    // A lock held by another program is waited for briefly: the record
    // worker asks again, holding up nobody else.
    if (!db_.Open(target_, error, 250)) return false;
    if (!Migrate(db_.Db(), false, 0, nullptr, error)) return false;
    LockStationFile();
    if (!problem_.empty()) {
        *error = problem_;
        return false;
    }
    Reconcile();
    return true;
}

void SqlSink::LockStationFile() {
    if (station_.name.empty() || lockFd_ >= 0) return;
    const std::string path = target_.path + ".station-" + Hex(Fnv(station_.name)) + ".lock";
    int err = 0;
    lockFd_ = fsys::OpenFile(path, fsys::Open::CreateKeep, &err);
    if (lockFd_ < 0) return;
    if (fsys::TryLockExclusive(lockFd_)) {
        lockHolder_ = true;
        fsys::Truncate(lockFd_, 0);
        fsys::Rewind(lockFd_);
        fsys::WriteAll(lockFd_, station_.id + "\n");
        return;
    }
    fsys::Close(lockFd_);
    lockFd_ = -1;
    std::string holder = store::ReadTextFile(path, 256).value_or("");
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
    if (holder != station_.id) {
        problem_ = "another station named " + station_.name + " (station id " + holder +
                   ") is running on " + target_.path + " now: give this one another --station";
    }
}

bool SqlSink::Connect(std::string* why, Failure* failure) {
    registered_ = false;
    lockHolder_ = false;
    if (!db_.Open(target_, why)) {
        *failure = OpenFailure(*why);
        Closed();
        return false;
    }
    QSqlQuery q(db_.Db());
    // A statement that waits longer than this on a hung or locked server
    // ends, and the row goes to the spool instead.
    q.exec(QStringLiteral("SET statement_timeout = '5s'"));
    q.exec(QStringLiteral("SET lock_timeout = '2s'"));
    q.exec(QStringLiteral("SET idle_in_transaction_session_timeout = '30s'"));
    *failure = Failure::Error;
    if (!CheckSchema(why)) {
        Closed();
        return false;
    }
    // What the server is, whatever the URI's spelling: the spool keys its
    // rows by it.
    if (q.exec(QStringLiteral("SELECT system_identifier::text, current_database() FROM "
                              "pg_control_system()")) &&
        q.next()) {
        const std::string identity =
            "postgresql:" + S(q.value(0).toString()) + "/" + S(q.value(1).toString());
        spool_.Identify(identity, target_.text, {ProvisionalKey(target_), target_.text});
    }
    if (!station_.name.empty() && !Register(why)) {
        Closed();
        return false;
    }
    problem_.clear();
    return true;
}

bool SqlSink::CheckSchema(std::string* why) {
    QSqlQuery q(db_.Db());
    if (!q.exec(QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL, current_user")) ||
        !q.next()) {
        *why = target_.text + ": " + Why(q.lastError());
        return false;
    }
    const std::string user = S(q.value(1).toString());
    if (!q.value(0).toBool()) {
        *why = target_.text + " holds no production record yet: run modsetup db init --db URI";
        return false;
    }
    // A missing grant is said as such, not taken for a missing schema.
    const struct {
        const char* table;
        const char* right;
        const char* what;
    } needs[] = {{"schema_version", "SELECT", "read schema_version"},
                 {"attempts", "SELECT", "read attempts"},
                 {"attempts", "INSERT", "add attempts"},
                 {"attempts", "UPDATE", "finish attempts"},
                 {"stations", "INSERT", "register its station"}};
    for (const auto& n : needs) {
        if (!Exec(q, QStringLiteral("SELECT to_regclass(?) IS NULL OR has_table_privilege(?, ?)"),
                  {QLatin1String(n.table), QLatin1String(n.table), QLatin1String(n.right)}) ||
            !q.next() || !q.value(0).toBool()) {
            *why = "permission denied: the database user " + user + " may not " + n.what + " in " +
                   target_.text +
                   " (the owner grants it with modsetup db init once the user is in "
                   "modsetup_station)";
            return false;
        }
    }
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next()) {
        *why = target_.text + ": " + Why(q.lastError());
        return false;
    }
    const int version = q.value(0).toInt();
    if (version < LatestSchemaVersion()) {
        *why = target_.text + " has schema version " + std::to_string(version) +
               ", this modsetup needs " + std::to_string(LatestSchemaVersion()) +
               ": run modsetup db init --db URI";
        return false;
    }
    if (version > LatestSchemaVersion()) {
        *why = target_.text + " has schema version " + std::to_string(version) +
               ", newer than this modsetup knows (" + std::to_string(LatestSchemaVersion()) +
               "): install the newer modsetup";
        return false;
    }
    return true;
}

bool SqlSink::Register(std::string* why) {
    QSqlQuery q(db_.Db());
    // The running station of a name holds its lock for as long as it is
    // connected; a second station under the name finds it taken.
    lockHolder_ = Exec(q, QStringLiteral("SELECT pg_try_advisory_lock(?, hashtext(?))"),
                       {kStationLockSpace, Q(station_.name)}) &&
                  q.next() && q.value(0).toBool();
    if (lockHolder_ &&
        !Exec(q,
              QStringLiteral("INSERT INTO stations (station, station_id) VALUES (?, ?) ON "
                             "CONFLICT (station) DO UPDATE SET station_id = excluded.station_id, "
                             "seen_at = now() WHERE stations.db_user = current_user"),
              {Q(station_.name), Q(station_.id)})) {
        *why = "cannot register station " + station_.name + " in " + target_.text + ": " +
               Why(q.lastError());
        return false;
    }
    if (!Exec(q,
              QStringLiteral("SELECT station_id, db_user::text, current_user::text FROM stations "
                             "WHERE station = ?"),
              {Q(station_.name)}) ||
        !q.next()) {
        *why = lockHolder_ ? "cannot register station " + station_.name + " in " + target_.text
                           : "another program holds station " + station_.name + " in " +
                                 target_.text + " and has not registered it";
        return false;
    }
    const std::string id = S(q.value(0).toString());
    const std::string owner = S(q.value(1).toString());
    const std::string user = S(q.value(2).toString());
    if (owner != user) {
        *why = "station name " + station_.name + " belongs to the database user " + owner + " in " +
               target_.text +
               ": give this station another --station, or the owner "
               "frees the name with modsetup db release --station " +
               station_.name;
        return false;
    }
    if (id != station_.id) {
        *why = "another station named " + station_.name + " (station id " + id +
               ") is running now: give this one another --station";
        return false;
    }
    registered_ = true;
    return true;
}

void SqlSink::Reconcile() {
    // Only the running station of its name knows that no other program
    // has these attempts under way.
    if (!lockHolder_ || station_.id.empty() || !db_.IsOpen()) return;
    QString sql = QStringLiteral(
                      "UPDATE attempts SET result = 'interrupted', message = ?%1 WHERE "
                      "station_id = ? AND result = 'running'")
                      .arg(postgres_ ? QString()
                                     : QStringLiteral(", finished_at = strftime('%Y-%m-%dT%H:%M:"
                                                      "%fZ', 'now')"));
    std::vector<QVariant> values = {QLatin1String(kNeverFinished), Q(station_.id)};
    if (!running_.empty()) {
        QStringList marks;
        for (const auto& [id, a] : running_) {
            marks << QStringLiteral("?");
            values.emplace_back(Q(id));
        }
        sql +=
            QStringLiteral(" AND %1 NOT IN (%2)")
                .arg(postgres_ ? QStringLiteral("attempt_id::text") : QStringLiteral("attempt_id"),
                     marks.join(QLatin1String(", ")));
    }
    QSqlQuery q(db_.Db());
    if (!Exec(q, sql, values) && postgres_) Lost(q.lastError());
}

bool SqlSink::Reachable() {
    if (db_.IsOpen()) return true;
    if (Clock::now() < nextTry_) return false;
    std::string why;
    Failure failure = Failure::OutOfReach;
    if (!Connect(&why, &failure)) {
        // Refused rather than away: rows go on into the spool, but the
        // station must hear why and take no new modules.
        if (failure == Failure::Error) problem_ = why;
        return false;
    }
    Send();
    Reconcile();
    return db_.IsOpen();
}

bool SqlSink::SentUp() {
    if (!Reachable()) return false;
    if (spool_.Pending() > 0) Send();
    return db_.IsOpen() && spool_.Pending() == 0;
}

bool SqlSink::Lost(const QSqlError& e) {
    bool gone = StatementFailure(e, postgres_) == Failure::OutOfReach;
    if (!gone && db_.IsOpen()) {
        QSqlQuery ping(db_.Db());
        gone = !ping.exec(QStringLiteral("SELECT 1"));
    }
    if (gone) Closed();
    return gone;
}

void SqlSink::Closed() {
    db_.Close();
    registered_ = false;
    lockHolder_ = false;
    nextTry_ = Clock::now() + std::chrono::milliseconds(retryMs_);
}

BeginResult SqlSink::Begin(const Attempt& attempt) {
    BeginResult b;
    busy_ = false;
    if (station_.name.empty() && !attempt.station.empty()) {
        station_ = {attempt.station, attempt.stationId};
        if (!postgres_) {
            LockStationFile();
            Reconcile();
        }
    }
    if (postgres_ && !SentUp() && problem_.empty()) return BeginOffline(attempt);
    if (!problem_.empty()) {
        b.error = problem_;
        return b;
    }
    if (postgres_ && !registered_ && !station_.name.empty()) {
        if (!Register(&b.error)) {
            problem_ = b.error;
            return b;
        }
        Reconcile();
    }
    for (int round = 0; round < 2; ++round) {
        QSqlQuery q(db_.Db());
        // Online, the start is the server's own time: every station's rows
        // are on one clock, whatever the PCs' clocks say.
        if (Exec(q, InsertAttempt(postgres_, false),
                 InsertValues(attempt, postgres_, false, postgres_))) {
            running_[attempt.attemptId] = attempt;
            b.ok = true;
            return b;
        }
        const QSqlError e = q.lastError();
        if (!IsUniqueViolation(e)) {
            if (StatementFailure(e, postgres_) == Failure::Busy) {
                busy_ = true;
                b.error = "cannot record the attempt in " + Describe() + ": " + Why(e) +
                          " (the record is busy)";
                return b;
            }
            if (postgres_ && Lost(e)) return BeginOffline(attempt);
            b.error = "cannot record the attempt in " + target_.text + ": " + Why(e);
            return b;
        }
        // Someone is writing this serial: another station, or this
        // installation in a run that never ended.
        QSqlQuery holder(db_.Db());
        if (!Exec(holder,
                  QStringLiteral("SELECT %1, station, socket, station_id FROM attempts WHERE "
                                 "serial = ? AND result = 'running' AND operation IN ('write', "
                                 "'write-unverified') AND %2")
                      .arg(postgres_ ? QStringLiteral("attempt_id::text")
                                     : QStringLiteral("attempt_id"),
                           postgres_ ? QStringLiteral("NOT recorded_offline")
                                     : QStringLiteral("recorded_offline = 0")),
                  {Q(attempt.serial)}) ||
            !holder.next()) {
            continue;  // it ended in between: try again
        }
        const std::string holderId = S(holder.value(0).toString());
        // Only this installation's own attempt, and only while this program
        // is the running station of its name, is known to be dead: it is
        // closed as interrupted, never passed. Another station's is left.
        if (round == 0 && lockHolder_ && !attempt.stationId.empty() &&
            S(holder.value(3).toString()) == attempt.stationId && !running_.count(holderId)) {
            QSqlQuery close(db_.Db());
            if (Exec(close,
                     QStringLiteral("UPDATE attempts SET result = 'interrupted', message = ?%1 "
                                    "WHERE %2 = ? AND result = 'running'")
                         .arg(postgres_ ? QString()
                                        : QStringLiteral(", finished_at = strftime('%Y-%m-%dT%H:"
                                                         "%M:%fZ', 'now')"),
                              postgres_ ? QStringLiteral("attempt_id::text")
                                        : QStringLiteral("attempt_id")),
                     {QLatin1String(kNeverFinished), Q(holderId)}) &&
                close.numRowsAffected() > 0) {
                continue;
            }
        }
        return Busy(attempt, S(holder.value(1).toString()), holder.value(2).toInt());
    }
    b.error = "cannot record the attempt in " + target_.text;
    return b;
}

BeginResult SqlSink::Busy(const Attempt& attempt, std::string holderStation, int holderSocket) {
    BeginResult b;
    b.busyAt =
        "in progress at station " + holderStation + ", socket " + std::to_string(holderSocket);
    // The attempt that did not write is a row of its own.
    Attempt skipped = attempt;
    skipped.result = Result::Skipped;
    skipped.message = b.busyAt;
    std::string ignored;
    InsertFinished(skipped, &ignored);
    return b;
}

bool SqlSink::InsertFinished(const Attempt& a, std::string* error) {
    busy_ = false;
    if (postgres_ && !SentUp()) return spool_.Put(Spool::Phase::Begin, a, true, error);
    QSqlQuery q(db_.Db());
    if (Exec(q, InsertAttempt(postgres_, false), InsertValues(a, postgres_, false, postgres_))) {
        return true;
    }
    const QSqlError e = q.lastError();
    if (StatementFailure(e, postgres_) == Failure::Busy) busy_ = true;
    if (postgres_ && Lost(e)) return spool_.Put(Spool::Phase::Begin, a, true, error);
    if (error) *error = "cannot record the row in " + Describe() + ": " + Why(e);
    return false;
}

bool SqlSink::Skip(const Attempt& skipped, std::string* error) {
    return InsertFinished(skipped, error);
}

bool SqlSink::Correct(const Attempt& correction, std::string* error) {
    return InsertFinished(correction, error);
}

bool SqlSink::FinishRow(const Attempt& a, std::string* error, bool* replayed) {
    QSqlQuery q(db_.Db());
    if (!Exec(q, FinishAttempt(postgres_), FinishValues(a))) {
        *error = Why(q.lastError());
        lastError_ = q.lastError();
        return false;
    }
    lastError_ = QSqlError();
    if (q.numRowsAffected() == 1) return true;
    // Nothing changed: the row ended already, or was never there.
    QSqlQuery row(db_.Db());
    if (Exec(
            row,
            QStringLiteral("SELECT result FROM attempts WHERE %1 = ?")
                .arg(postgres_ ? QStringLiteral("attempt_id::text") : QStringLiteral("attempt_id")),
            {Q(a.attemptId)}) &&
        row.next()) {
        const std::string held = S(row.value(0).toString());
        if (held == ToText(a.result)) {
            if (replayed) *replayed = true;
            return true;  // the same result sent again (from the spool)
        }
        *error = "the record already holds attempt " + a.attemptId + " as \"" + held +
                 "\"; its result \"" + ToText(a.result) + "\" was not kept";
        return false;
    }
    if (row.lastError().isValid()) {
        *error = Why(row.lastError());
        lastError_ = row.lastError();
        return false;
    }
    *error =
        "the record has no running row for attempt " + a.attemptId + "; its result was not kept";
    return false;
}

bool SqlSink::Finish(const Attempt& attempt, std::string* error) {
    busy_ = false;
    const bool offline = offline_.count(attempt.attemptId) > 0;
    // Never ahead of the rows still waiting: they may hold this very
    // attempt's running row.
    if (postgres_ && !SentUp()) {
        // Not spooled either (a full disk): the attempt is no longer under
        // way here, and its running row is closed once the server is back.
        const bool kept = spool_.Put(Spool::Phase::Finish, attempt, offline, error);
        running_.erase(attempt.attemptId);
        offline_.erase(attempt.attemptId);
        return kept;
    }
    std::string why;
    if (FinishRow(attempt, &why)) {
        running_.erase(attempt.attemptId);
        offline_.erase(attempt.attemptId);
        return true;
    }
    if (lastError_.isValid()) {
        if (StatementFailure(lastError_, postgres_) == Failure::Busy) {
            busy_ = true;  // asked again by the worker; the attempt stays open
            if (error)
                *error = "cannot record the result in " + Describe() + ": " + why +
                         " (the record is busy)";
            return false;
        }
        if (postgres_ && Lost(lastError_)) {
            const bool kept = spool_.Put(Spool::Phase::Finish, attempt, offline, error);
            running_.erase(attempt.attemptId);
            offline_.erase(attempt.attemptId);
            return kept;
        }
    }
    running_.erase(attempt.attemptId);
    offline_.erase(attempt.attemptId);
    if (error) *error = "cannot record the result in " + Describe() + ": " + why;
    return false;
}

std::optional<PriorPass> SqlSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::vector<std::string>& plan) {
    busy_ = false;
    if (postgres_) {
        // Passes this station made while the server was away count too.
        if (auto prior = spool_.PassedBefore(kind, serial, plan)) return prior;
        if (!Reachable()) return std::nullopt;
    }
    QSqlError failed;
    if (auto prior = PassedWriteIn(db_.Db(), postgres_, kind, serial, plan, &failed)) return prior;
    if (failed.isValid()) {
        if (StatementFailure(failed, postgres_) == Failure::Busy) busy_ = true;
        if (postgres_) Lost(failed);
    }
    return std::nullopt;
}

int SqlSink::Flush() {
    if (postgres_ && (spool_.Pending() > 0 || !problem_.empty() || !db_.IsOpen())) {
        nextTry_ = {};
        if (!db_.IsOpen()) Reachable();
        if (spool_.Pending() > 0) SentUp();
    }
    return spool_.Unsent();
}

std::string SqlSink::Describe() const {
    return (postgres_ ? "PostgreSQL " : "SQLite ") + (postgres_ ? target_.text : target_.path);
}

BeginResult SqlSink::BeginOffline(const Attempt& attempt) {
    BeginResult b;
    // Only this station's own sockets can be asked now.
    for (const auto& [id, other] : running_) {
        if (other.serial == attempt.serial && !attempt.serial.empty() && Writes(attempt)) {
            b.busyAt = "in progress at station " + other.station + ", socket " +
                       std::to_string(other.socket);
            return b;
        }
    }
    b.note = "decided offline: " + target_.text + " out of reach, other stations not asked";
    if (!spool_.Put(Spool::Phase::Begin, attempt, true, &b.error)) return b;
    running_[attempt.attemptId] = attempt;
    offline_.insert(attempt.attemptId);
    b.ok = true;
    return b;
}

// Sends the spool in order, a batch per transaction; a batch is taken
// out of the spool only once the server has committed it, so a crash in
// between sends it again, which changes nothing. A row the server itself
// refuses (not the connection) stays in the spool with the reason and no
// longer holds up the rows after it.
void SqlSink::Send() {
    const auto send = [this](const SpooledRow& r, std::string* why) {
        if (!r.begin) return FinishRow(r.attempt, why);
        QSqlQuery q(db_.Db());
        if (Exec(q, InsertAttempt(false, true), InsertValues(r.attempt, true, r.offline, false))) {
            return true;
        }
        *why = Why(q.lastError());
        lastError_ = q.lastError();
        return false;
    };
    while (spool_.Pending() > 0 && db_.IsOpen()) {
        std::vector<SpooledRow> rows;
        if (!spool_.ReadBatch(500, &rows)) return;
        if (rows.empty()) break;
        QSqlDatabase db = db_.Db();
        bool ok = db.transaction();
        std::string why;
        for (std::size_t i = 0; ok && i < rows.size(); ++i) ok = send(rows[i], &why);
        if (ok && db.commit()) {
            std::vector<long long> sent;
            for (const SpooledRow& r : rows) sent.push_back(r.seq);
            spool_.Drop(sent);
            spool_.Recount();
            continue;
        }
        db.rollback();
        if (lastError_.isValid() && Lost(lastError_)) break;
        // One at a time, to find the row the server will not take.
        for (const SpooledRow& r : rows) {
            lastError_ = QSqlError();
            if (send(r, &why)) {
                spool_.Drop({r.seq});
                continue;
            }
            if (lastError_.isValid() && Lost(lastError_)) break;
            spool_.MarkRefused(r.seq, why);
        }
        spool_.Recount();
    }
    spool_.Recount();
}

std::unique_ptr<Sink> OpenDatabaseSink(const std::string& uri, const std::string& spoolPath,
                                       std::string* error, int retryMs,
                                       const StationIdentity& station) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return nullptr;
    auto sink = std::make_unique<SqlSink>(*target, spoolPath, retryMs, station);
    if (!sink->Open(error)) return nullptr;
    return sink;
}

std::unique_ptr<Sink> OpenSqlSink(const SinkOptions& options, std::string* error) {
    if (!options.spoolFolder.empty()) fsys::MakeFolders(options.spoolFolder);
    return OpenDatabaseSink(options.dbUri, SpoolPath(options.spoolFolder), error, 2000,
                            {options.station, options.stationId});
}

std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, std::string* error) {
    return OpenSinks(options, OpenSqlSink, error);
}

}  // namespace record
