#include "sql_sink.h"

#include <QDateTime>
#include <QSqlQuery>

#include "attempt_columns.h"
#include "attempt_id.h"
#include "file_system.h"
#include "open_sinks.h"
#include "sql_migrations.h"
#include "sql_queries.h"
#include "sql_record.h"

namespace record {

namespace {

// A running write older than this was left by a station that stopped: an
// attempt takes seconds.
constexpr long long kAbandonedMs = 10 * 60 * 1000;

bool SendRow(QSqlQuery& begin, QSqlQuery& finish, const SpooledRow& row) {
    QSqlQuery& q = row.begin ? begin : finish;
    for (std::size_t i = 0; i < row.values.size(); ++i)
        q.bindValue(static_cast<int>(i), row.values[i]);
    return q.exec();
}

}  // namespace

SqlSink::SqlSink(DbTarget target, std::string spoolPath, int retryMs)
    : target_(std::move(target)),
      postgres_(target_.kind == DbTarget::Kind::Postgres),
      retryMs_(retryMs),
      spool_(std::move(spoolPath), target_.text) {}

bool SqlSink::Open(std::string* error) {
    if (postgres_) {
        if (!spool_.Open(error)) return false;
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

BeginResult SqlSink::Begin(const Attempt& attempt) {
    BeginResult b;
    if (postgres_ && !SentUp()) return BeginOffline(attempt);
    for (int round = 0; round < 2; ++round) {
        QSqlQuery q(db_.Db());
        if (Exec(q, InsertRunning(false), AttemptValues(attempt, postgres_, false))) {
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
                      .arg(StartedText(postgres_), postgres_
                                                       ? QStringLiteral("NOT recorded_offline")
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
        skipped.result = Result::Skipped;
        skipped.message = b.busyAt;
        QSqlQuery row(db_.Db());
        Exec(row, UpsertFinished(), AttemptValues(skipped, postgres_, false));
        return b;
    }
    b.error = "cannot record the attempt in " + target_.text;
    return b;
}

bool SqlSink::Finish(const Attempt& attempt, std::string* error) {
    Attempt a = attempt;
    running_.erase(a.attemptId);
    const auto offline = offlineNotes_.find(a.attemptId);
    if (offline != offlineNotes_.end()) {
        a.message += (a.message.empty() ? "" : "; ") + offline->second;
        offlineNotes_.erase(offline);
    }
    // Never ahead of the rows still waiting: they may hold this very
    // attempt's running row.
    if (postgres_ && !SentUp()) return spool_.Put(Spool::Phase::Finish, a, true, error);
    QSqlQuery q(db_.Db());
    if (Exec(q, UpsertFinished(), AttemptValues(a, postgres_, false))) return true;
    if (postgres_ && Lost()) return spool_.Put(Spool::Phase::Finish, a, true, error);
    if (error) *error = "cannot record the result in " + target_.text + ": " + Why(q.lastError());
    return false;
}

std::optional<PriorPass> SqlSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::array<std::string, 4>& plan) {
    if (postgres_) {
        // Passes this station made while the server was away count too.
        if (auto prior = spool_.PassedBefore(kind, serial, plan)) return prior;
        if (!Reachable()) return std::nullopt;
    }
    bool failed = false;
    if (auto prior = PassedWriteIn(db_.Db(), postgres_, kind, serial, plan, &failed)) return prior;
    if (postgres_ && failed) Lost();
    return std::nullopt;
}

int SqlSink::Flush() {
    if (postgres_ && spool_.Pending() > 0) {
        nextTry_ = {};
        SentUp();
    }
    return spool_.Unsent();
}

std::string SqlSink::Describe() const {
    return (postgres_ ? "PostgreSQL " : "SQLite ") + (postgres_ ? target_.text : target_.path);
}

// A server with a schema this program does not write (db init not run
// yet, or run by a newer modsetup) takes no rows: they wait in the
// spool rather than being refused one by one.
bool SqlSink::Connect(std::string* why, bool* wrongSchema) {
    if (db_.Open(target_, why)) {
        const int version = SchemaVersionOf(db_.Db(), true);
        if (version == LatestSchemaVersion()) return true;
        *why = target_.text + " has schema version " + std::to_string(version) +
               ", this modsetup needs " + std::to_string(LatestSchemaVersion()) +
               ": run modsetup db init --db URI";
        if (wrongSchema) *wrongSchema = true;
    }
    db_.Close();
    nextTry_ = Clock::now() + std::chrono::milliseconds(retryMs_);
    return false;
}

// Whether the server can be used now; tries again once the retry time
// is up, and sends the spool first when it is back.
bool SqlSink::Reachable() {
    if (db_.IsOpen()) return true;
    if (Clock::now() < nextTry_) return false;
    std::string why;
    if (!Connect(&why)) return false;
    Send();
    return db_.IsOpen();
}

// Whether the server is there with nothing left to send before a new row.
bool SqlSink::SentUp() {
    if (!Reachable()) return false;
    if (spool_.Pending() > 0) Send();
    return db_.IsOpen() && spool_.Pending() == 0;
}

// After a failed statement: whether the connection went (the server
// stopped or the network failed), rather than the statement.
bool SqlSink::Lost() {
    if (db_.IsOpen()) {
        QSqlQuery ping(db_.Db());
        if (ping.exec(QStringLiteral("SELECT 1"))) return false;
    }
    db_.Close();
    nextTry_ = Clock::now() + std::chrono::milliseconds(retryMs_);
    return true;
}

BeginResult SqlSink::BeginOffline(const Attempt& attempt) {
    BeginResult b;
    // Only this station's own sockets can be asked now.
    for (const auto& [id, other] : running_) {
        if (other.serial == attempt.serial && !attempt.serial.empty() &&
            (attempt.operation == Operation::Write ||
             attempt.operation == Operation::WriteUnverified)) {
            b.busyAt = "in progress at station " + other.station + ", socket " +
                       std::to_string(other.socket);
            return b;
        }
    }
    b.note = "decided offline: " + target_.text + " out of reach, other stations not asked";
    if (!spool_.Put(Spool::Phase::Begin, attempt, true, &b.error)) return b;
    running_[attempt.attemptId] = attempt;
    offlineNotes_[attempt.attemptId] = b.note;
    b.ok = true;
    return b;
}

// Sends the spool in order, a batch per transaction; a batch is taken
// out of the spool only once the server has committed it, so a crash in
// between sends it again, which changes nothing. A row the server itself
// refuses (not the connection) stays in the spool with the reason and no
// longer holds up the rows after it.
void SqlSink::Send() {
    while (spool_.Pending() > 0 && db_.IsOpen()) {
        std::vector<SpooledRow> rows;
        if (!spool_.ReadBatch(500, &rows)) return;
        if (rows.empty()) break;
        QSqlDatabase db = db_.Db();
        QSqlQuery begin(db), finish(db);
        bool ok = db.transaction() && begin.prepare(InsertRunning(true)) &&
                  finish.prepare(UpsertFinished());
        for (std::size_t i = 0; ok && i < rows.size(); ++i) ok = SendRow(begin, finish, rows[i]);
        if (ok && db.commit()) {
            std::vector<long long> sent;
            for (const SpooledRow& r : rows) sent.push_back(r.seq);
            spool_.Drop(sent);
            spool_.Recount();
            continue;
        }
        db.rollback();
        if (Lost()) break;
        // One at a time, to find the row the server will not take.
        for (const SpooledRow& r : rows) {
            if (SendRow(begin, finish, r)) {
                spool_.Drop({r.seq});
                continue;
            }
            const std::string why = Why((r.begin ? begin : finish).lastError());
            if (Lost()) break;
            spool_.MarkRefused(r.seq, why);
        }
        spool_.Recount();
    }
    spool_.Recount();
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

std::unique_ptr<Sink> OpenSqlSink(const std::string& uri, const std::string& spoolFolder,
                                  std::string* error) {
    if (!spoolFolder.empty()) store::fsys::MakeFolders(spoolFolder);
    return OpenDatabaseSink(uri, SpoolPath(spoolFolder), error);
}

std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, std::string* error) {
    return OpenSinks(options, OpenSqlSink, error);
}

}  // namespace record
