#include "sql_spool.h"

#include <QSqlQuery>
#include <set>

#include "attempt_columns.h"
#include "sql_queries.h"
#include "sql_record.h"

namespace record {

std::string SpoolPath(const std::string& folder) {
    return folder + "/modsetup_spool.sqlite";
}

bool Spool::Open(std::string* error) {
    if (!db_.Open(DbTarget{DbTarget::Kind::Sqlite, path_, "", -1, "", "", {}, "sqlite:" + path_},
                  error)) {
        *error = "cannot keep the spool: " + *error;
        return false;
    }
    QSqlQuery q(db_.Db());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool (seq INTEGER PRIMARY KEY "
                               "AUTOINCREMENT, target TEXT NOT NULL, phase TEXT NOT NULL, "
                               "refused TEXT, %1)")
                    .arg(AttemptColumnList())) ||
        !q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS targets (target TEXT PRIMARY KEY, "
                               "identity TEXT NOT NULL, uri TEXT NOT NULL)"))) {
        *error = "cannot keep the spool " + path_ + ": " + Why(q.lastError());
        return false;
    }
    // A spool of an earlier version lacks the newer columns.
    std::set<QString> have;
    q.exec(QStringLiteral("PRAGMA table_info(spool)"));
    while (q.next()) have.insert(q.value(1).toString());
    for (const char* column : kAttemptColumns) {
        if (!have.count(QLatin1String(column))) {
            q.exec(QStringLiteral("ALTER TABLE spool ADD COLUMN %1").arg(QLatin1String(column)));
        }
    }
    q.exec(
        QStringLiteral("CREATE INDEX IF NOT EXISTS spool_attempt ON spool (target, attempt_id)"));
    q.exec(QStringLiteral("UPDATE spool SET refused = NULL WHERE refused IS NOT NULL"));
    // Rows kept for this database under another spelling of its URI, in an
    // earlier run that learnt what it is, go on under its identity.
    if (Exec(q, QStringLiteral("SELECT identity FROM targets WHERE target = ?"), {Q(target_)}) &&
        q.next()) {
        target_ = S(q.value(0).toString());
    }
    Recount();
    return true;
}

void Spool::Identify(const std::string& identity, const std::string& uri,
                     const std::vector<std::string>& oldKeys) {
    QSqlDatabase db = db_.Db();
    db.transaction();
    QSqlQuery q(db);
    for (const std::string& key : oldKeys) {
        if (key == identity) continue;
        Exec(q, QStringLiteral("UPDATE spool SET target = ? WHERE target = ?"),
             {Q(identity), Q(key)});
        Exec(q,
             QStringLiteral("INSERT INTO targets (target, identity, uri) VALUES (?, ?, ?) "
                            "ON CONFLICT (target) DO UPDATE SET identity = excluded.identity, "
                            "uri = excluded.uri"),
             {Q(key), Q(identity), Q(uri)});
    }
    Exec(q,
         QStringLiteral("INSERT INTO targets (target, identity, uri) VALUES (?, ?, ?) ON "
                        "CONFLICT (target) DO UPDATE SET uri = excluded.uri"),
         {Q(identity), Q(identity), Q(uri)});
    db.commit();
    target_ = identity;
    Recount();
}

std::vector<OtherTarget> Spool::OtherTargets() const {
    std::vector<OtherTarget> others;
    QSqlQuery q(db_.Db());
    if (!Exec(q,
              QStringLiteral("SELECT s.target, COUNT(DISTINCT s.attempt_id), "
                             "(SELECT uri FROM targets t WHERE t.target = s.target) FROM spool s "
                             "WHERE s.target <> ? GROUP BY s.target ORDER BY s.target"),
              {Q(target_)})) {
        return others;
    }
    while (q.next()) {
        OtherTarget o;
        o.target = S(q.value(0).toString());
        o.attempts = q.value(1).toInt();
        o.lastUri = S(q.value(2).toString());
        if (o.lastUri.empty()) o.lastUri = o.target;
        others.push_back(std::move(o));
    }
    return others;
}

bool Spool::Put(Phase phase, const Attempt& a, bool offline, std::string* error) {
    QSqlQuery q(db_.Db());
    // The count is of attempts: a result whose running row still waits
    // adds none.
    const bool known = Exec(q,
                            QStringLiteral("SELECT 1 FROM spool WHERE target = ? AND "
                                           "attempt_id = ? LIMIT 1"),
                            {Q(target_), Q(a.attemptId)}) &&
                       q.next();
    q.finish();
    std::vector<QVariant> row = AttemptValues(a, false, offline);
    row[kStartedAtColumn] = Q(a.startedAt.empty() ? NowUtc() : a.startedAt);
    std::vector<QVariant> values = {Q(target_),
                                    QLatin1String(phase == Phase::Begin ? "begin" : "finish")};
    for (QVariant& v : row) values.push_back(std::move(v));
    if (!Exec(q,
              QStringLiteral("INSERT INTO spool (target, phase, %1) VALUES (?, ?, %2)")
                  .arg(AttemptColumnList(), AttemptPlaceholders()),
              values)) {
        if (error) *error = "cannot spool the row in " + path_ + ": " + Why(q.lastError());
        return false;
    }
    if (!known) ++unsent_;
    ++pending_;
    return true;
}

void Spool::Recount() {
    QSqlQuery q(db_.Db());
    if (Exec(q,
             QStringLiteral("SELECT COUNT(DISTINCT attempt_id), COUNT(*) - COUNT(refused) "
                            "FROM spool WHERE target = ?"),
             {Q(target_)}) &&
        q.next()) {
        unsent_ = q.value(0).toInt();
        pending_ = q.value(1).toInt();
    }
}

bool Spool::ReadBatch(int limit, std::vector<SpooledRow>* rows) {
    QSqlQuery read(db_.Db());
    read.setForwardOnly(true);
    if (!Exec(read,
              QStringLiteral("SELECT seq, phase, recorded_offline, %1 FROM spool WHERE target = ? "
                             "AND refused IS NULL ORDER BY seq LIMIT %2")
                  .arg(SelectedAttemptColumns(false))
                  .arg(limit),
              {Q(target_)})) {
        return false;
    }
    while (read.next()) {
        SpooledRow row;
        row.seq = read.value(0).toLongLong();
        row.begin = read.value(1).toString() == QLatin1String("begin");
        row.offline = read.value(2).toInt() != 0;
        row.attempt = AttemptFromQuery(read, 3);
        rows->push_back(std::move(row));
    }
    return true;
}

void Spool::Drop(const std::vector<long long>& seqs) {
    QSqlDatabase spool = db_.Db();
    spool.transaction();
    QSqlQuery drop(spool);
    drop.prepare(QStringLiteral("DELETE FROM spool WHERE seq = ?"));
    for (const long long seq : seqs) {
        drop.bindValue(0, static_cast<qlonglong>(seq));
        drop.exec();
    }
    spool.commit();
}

void Spool::MarkRefused(long long seq, const std::string& why) {
    QSqlQuery mark(db_.Db());
    Exec(mark, QStringLiteral("UPDATE spool SET refused = ? WHERE seq = ?"),
         {Q(why), static_cast<qlonglong>(seq)});
}

std::optional<PriorPass> Spool::PassedBefore(const std::string& kind, const std::string& serial,
                                             const std::vector<std::string>& plan) {
    return SpooledPassedWrite(db_.Db(), target_, kind, serial, plan);
}

}  // namespace record
