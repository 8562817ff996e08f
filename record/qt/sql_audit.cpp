// `db verify` and `db release`: what the owner of a line's record does to
// check it and to free what a dead station left behind.
#include <QCryptographicHash>
#include <QSqlQuery>
#include <QStringList>
#include <optional>
#include <vector>

#include "attempt_columns.h"
#include "sql_connection.h"
#include "sql_migrations.h"
#include "sql_record.h"

namespace record {

namespace {

// The first schema with the rules, the audit trail and the chains.
constexpr int kRulesVersion = 4;

constexpr const char kChainTag[] = "modsetup-chain-1";
const std::string kNoLink(64, '0');

QString Micros(const char* column) {
    return QStringLiteral("(extract(epoch FROM %1) * 1000000)::bigint::text")
        .arg(QLatin1String(column));
}

// A finished attempt's fields in the order they are hashed (after the tag),
// each as the server writes it as text: chain_seq .. finished_at. Then the
// stored hash.
QString ChainColumns() {
    QStringList c = {QStringLiteral("chain_seq::text"),  QStringLiteral("chain_prev"),
                     QStringLiteral("attempt_id::text"), QStringLiteral("station_id"),
                     QStringLiteral("station"),          QStringLiteral("db_user::text"),
                     QStringLiteral("socket::text")};
    for (const char* text :
         {"port", "device", "kind", "serial", "version", "ch0", "ch1", "ch2", "ch3", "rb0", "rb1",
          "rb2", "rb3", "operation", "result", "failed_step", "message"}) {
        c << QLatin1String(text);
    }
    c << Micros("started_at") << QStringLiteral("duration_ms::text")
      << QStringLiteral("tool_version") << QStringLiteral("operator")
      << QStringLiteral("CASE WHEN recorded_offline THEN 't' ELSE 'f' END")
      << QStringLiteral("corrects::text") << Micros("received_at") << Micros("finished_at")
      << QStringLiteral("chain_hash") << QStringLiteral("ch_more") << QStringLiteral("rb_more");
    return c.join(QLatin1String(", "));
}
constexpr int kHashedFields = 32;  // chain_seq .. finished_at
enum ChainColumn {
    kSeq = 0,
    kPrev = 1,
    kId = 2,
    kStationId = 3,
    kSerial = 10,
    kResult = 21,
    kFinished = 31,
    kStoredHash = 32,
    kChMore = 33,  // hashed after the rest, and only when either is not empty
    kRbMore = 34
};

// The text that is hashed: the fields joined by "|", each with "\" written
// "\\" and "|" written "\|", and a missing value (NULL) as "\N". This is the
// server's attempt_chain_text() (and what attempt_chain_hash() adds to it),
// made again here so that verify trusts no function in the database it
// checks.
std::string ChainText(const QSqlQuery& q) {
    std::vector<int> fields;
    for (int i = 0; i < kHashedFields; ++i) fields.push_back(i);
    if (!q.value(kChMore).toString().isEmpty() || !q.value(kRbMore).toString().isEmpty())
        fields.insert(fields.end(), {kChMore, kRbMore});
    std::string text = kChainTag;
    for (const int i : fields) {
        text += '|';
        const QVariant v = q.value(i);
        if (v.isNull()) {
            text += "\\N";
            continue;
        }
        for (const char ch : v.toString().toStdString()) {
            if (ch == '\\' || ch == '|') text += '\\';
            text += ch;
        }
    }
    return text;
}

std::string Sha256Hex(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// Each station id's chain, link by link: numbered from 1 without a gap,
// each naming the hash of the one before, each hash made of its own values,
// each finished no earlier than the one before.
bool WalkChains(QSqlDatabase db, VerifyReport* report, std::string* error) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(
            QStringLiteral("SELECT %1 FROM attempts WHERE result <> 'running' OR chain_seq "
                           "IS NOT NULL OR chain_hash IS NOT NULL ORDER BY attempts.station_id, "
                           "attempts.chain_seq NULLS LAST, attempts.attempt_id")
                .arg(ChainColumns()))) {
        *error = "cannot read the attempts: " + Why(q.lastError());
        return false;
    }
    VerifyReport::Chain* chain = nullptr;
    long long expected = 1;
    std::string lastHash;
    long long lastFinished = -1;
    while (q.next()) {
        const std::string stationId = S(q.value(kStationId).toString());
        if (!chain || chain->stationId != stationId) {
            report->chains.push_back({stationId, 0, 0, ""});
            chain = &report->chains.back();
            expected = 1;
            lastHash = kNoLink;
            lastFinished = -1;
        }
        const std::string where = "chain " + Quoted(stationId) + ": attempt " +
                                  S(q.value(kId).toString()) + " (serial " +
                                  S(q.value(kSerial).toString()) + ")";
        if (q.value(kSeq).isNull()) {
            report->findings.push_back(where +
                                       " is finished but in no chain: written past the "
                                       "rules");
            continue;
        }
        ++report->attempts;
        ++chain->links;
        if (S(q.value(kResult).toString()) == "running")
            report->findings.push_back(where + " is running but holds a link of the chain");
        const long long seq = q.value(kSeq).toLongLong();
        const std::string hash = S(q.value(kStoredHash).toString());
        if (seq > expected) {
            report->findings.push_back(
                where + " is link " + std::to_string(seq) + ": " +
                (seq == expected + 1
                     ? "link " + std::to_string(expected)
                     : "links " + std::to_string(expected) + " to " + std::to_string(seq - 1)) +
                " missing, attempts removed");
        } else if (seq < expected) {
            report->findings.push_back(where + " repeats link " + std::to_string(seq));
        } else if (S(q.value(kPrev).toString()) != lastHash) {
            report->findings.push_back(where + " at link " + std::to_string(seq) +
                                       " does not follow the link before it: chain reordered "
                                       "or rewritten");
        }
        if (Sha256Hex(ChainText(q)) != hash) {
            report->findings.push_back(where + " at link " + std::to_string(seq) +
                                       " is altered: its values do not give its hash");
        }
        if (!q.value(kFinished).isNull()) {
            const long long finished = q.value(kFinished).toLongLong();
            if (finished < lastFinished) {
                report->findings.push_back(where + " at link " + std::to_string(seq) +
                                           " finished before the link before it: chain "
                                           "reordered");
            }
            lastFinished = finished;
        }
        chain->headLink = seq;
        chain->head = hash;
        lastHash = hash;
        expected = seq + 1;
    }
    return true;
}

// Every row as its last audit entry left it, and every audit entry a step
// the rules allow: a running row inserted (or a correction), finished once.
bool CheckAudit(QSqlDatabase db, VerifyReport* report, std::string* error) {
    const auto read = [error](QSqlQuery& q, const QString& sql) {
        q.setForwardOnly(true);
        if (q.exec(sql)) return true;
        *error = "cannot read the audit trail: " + Why(q.lastError());
        return false;
    };
    QSqlQuery count(db);
    if (!read(count, QStringLiteral("SELECT count(*) FROM attempt_audit")) || !count.next())
        return false;
    report->auditEntries = count.value(0).toLongLong();

    // Only the columns the entry has: a column added by a later schema is
    // not a change.
    QSqlQuery rows(db);
    if (!read(rows, QStringLiteral(
                        "SELECT a.attempt_id::text, a.serial, l.audit_id, l.new_values IS NULL, "
                        "(SELECT string_agg(e.key, ', ' ORDER BY e.key) FROM "
                        "jsonb_each(l.new_values) e WHERE to_jsonb(a) -> e.key IS DISTINCT "
                        "FROM e.value) FROM attempts a LEFT JOIN LATERAL (SELECT u.audit_id, "
                        "u.new_values FROM attempt_audit u WHERE u.table_name = 'attempts' "
                        "AND u.attempt_id = a.attempt_id ORDER BY u.audit_id DESC LIMIT 1) l "
                        "ON true WHERE l.audit_id IS NULL OR l.new_values IS NULL OR NOT "
                        "(to_jsonb(a) @> l.new_values) ORDER BY a.started_at, a.attempt_id"))) {
        return false;
    }
    while (rows.next()) {
        const std::string what = "attempt " + S(rows.value(0).toString()) + " (serial " +
                                 S(rows.value(1).toString()) + ")";
        const std::string entry = "#" + S(rows.value(2).toString());
        if (rows.value(2).isNull()) {
            report->findings.push_back(what +
                                       " is not in the audit trail: written past the "
                                       "rules");
        } else if (rows.value(3).toBool()) {
            report->findings.push_back(what + " is back after its delete (audit " + entry +
                                       ") without a trace in the audit trail");
        } else {
            report->findings.push_back(what + " differs from its last audit entry (" + entry +
                                       ") in " + S(rows.value(4).toString()) +
                                       ": changed past the rules");
        }
    }

    // An update within the rules changes nothing but what a finish changes.
    QSqlQuery steps(db);
    const QString finishing = QStringLiteral(
        "ARRAY['result', 'failed_step', 'message', 'duration_ms', 'rb0', 'rb1', 'rb2', 'rb3', "
        "'rb_more', 'version', 'finished_at', 'chain_seq', 'chain_prev', 'chain_hash']");
    if (!read(steps,
              QStringLiteral(
                  "SELECT audit_id, to_char(at AT TIME ZONE 'UTC', "
                  "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), operation, coalesce(attempt_id::text, ''), "
                  "current_user_name, session_user_name, coalesce(old_values ->> 'result', ''), "
                  "coalesce(new_values ->> 'result', ''), coalesce((SELECT string_agg(k, ', ' "
                  "ORDER BY k) FROM jsonb_object_keys(new_values) k WHERE old_values -> k IS "
                  "DISTINCT FROM new_values -> k), '') FROM attempt_audit WHERE table_name = "
                  "'attempts' AND (operation IN ('DELETE', 'TRUNCATE') OR (operation = 'INSERT' "
                  "AND new_values ->> 'result' <> 'running' AND NOT (new_values ->> 'result' = "
                  "'not-recorded' AND new_values ->> 'corrects' IS NOT NULL)) OR (operation = "
                  "'UPDATE' AND (old_values ->> 'result' <> 'running' OR old_values - %1 <> "
                  "new_values - %1))) ORDER BY audit_id")
                  .arg(finishing))) {
        return false;
    }
    while (steps.next()) {
        const std::string who =
            "audit #" + S(steps.value(0).toString()) + ", " + S(steps.value(1).toString()) + ": " +
            S(steps.value(4).toString()) +
            (steps.value(4) == steps.value(5) ? ""
                                              : " (login " + S(steps.value(5).toString()) + ")");
        const std::string op = S(steps.value(2).toString());
        const std::string id = S(steps.value(3).toString());
        const std::string oldResult = S(steps.value(6).toString());
        if (op == "TRUNCATE") {
            report->findings.push_back(who + " emptied the attempts table");
        } else if (op == "DELETE") {
            report->findings.push_back(who + " deleted attempt " + id + " (" + oldResult + ")");
        } else if (op == "INSERT") {
            report->findings.push_back(who + " inserted attempt " + id + " already finished (" +
                                       S(steps.value(7).toString()) + ")");
        } else {
            report->findings.push_back(
                who + " changed " + (oldResult == "running" ? "" : "finished ") + "attempt " + id +
                (oldResult == "running" ? " beyond its finish" : " (" + oldResult + ")") + ": " +
                S(steps.value(8).toString()));
        }
    }

    QSqlQuery gone(db);
    if (!read(gone, QStringLiteral(
                        "SELECT u.attempt_id::text, max(u.audit_id) FROM attempt_audit u WHERE "
                        "u.table_name = 'attempts' AND u.attempt_id IS NOT NULL AND NOT EXISTS "
                        "(SELECT 1 FROM attempts a WHERE a.attempt_id = u.attempt_id) GROUP BY "
                        "u.attempt_id HAVING (array_agg(u.operation ORDER BY u.audit_id "
                        "DESC))[1] <> 'DELETE' ORDER BY 2"))) {
        return false;
    }
    while (gone.next()) {
        report->findings.push_back("attempt " + S(gone.value(0).toString()) +
                                   " is in the audit trail (last #" + S(gone.value(1).toString()) +
                                   ") but not in the table, and no delete of it is recorded");
    }
    return true;
}

std::optional<DbTarget> Postgres(const std::string& uri, const char* otherwise,
                                 std::string* error) {
    auto target = ParseDbUri(uri, error);
    if (target && target->kind != DbTarget::Kind::Postgres) {
        *error = otherwise;
        return std::nullopt;
    }
    return target;
}

bool OpenWithRules(Connection& c, const DbTarget& target, std::string* error) {
    if (!c.Open(target, error)) return false;
    const int version = SchemaVersionOf(c.Db(), target.kind == DbTarget::Kind::Postgres);
    if (version >= kRulesVersion) return true;
    *error = target.text + " has schema version " + std::to_string(version) +
             ": run modsetup db init --db URI as the owner of the tables";
    return false;
}

}  // namespace

bool VerifyRecord(const std::string& uri, VerifyReport* report, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = Postgres(uri,
                                 "db verify walks the hash chains of a PostgreSQL record; an "
                                 "SQLite file keeps none (its triggers keep finished rows as "
                                 "they are and log each change in attempt_audit)",
                                 error);
    Connection c;
    if (!target || !OpenWithRules(c, *target, error)) return false;
    QSqlDatabase db = c.Db();
    // One view of the record for every check; times in the values as UTC,
    // the way the audit trigger writes them.
    QSqlQuery setUp(db);
    if (!setUp.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) ||
        !setUp.exec(QStringLiteral("SET LOCAL TimeZone = 'UTC'"))) {
        *error = Why(setUp.lastError());
        return false;
    }
    const bool ok = WalkChains(db, report, error) && CheckAudit(db, report, error);
    setUp.exec(QStringLiteral("ROLLBACK"));
    return ok;
}

bool ReleaseSerial(const std::string& uri, const std::string& serial,
                   std::vector<std::string>* released, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    Connection c;
    if (!target || !OpenWithRules(c, *target, error)) return false;
    const bool postgres = target->kind == DbTarget::Kind::Postgres;
    // Who released it stays in the row; the audit trail has the login too.
    const QString why = postgres
                            ? QStringLiteral(
                                  "'never finished: released by ' || session_user || ' "
                                  "with modsetup db release'")
                            : QStringLiteral("'never finished: released with modsetup db release'");
    QSqlQuery q(c.Db());
    if (!Exec(q,
              QStringLiteral("UPDATE attempts SET result = 'interrupted', message = CASE WHEN "
                             "message = '' THEN %1 ELSE message || '; ' || %1 END, finished_at = "
                             "%2 WHERE serial = ? AND result = 'running' RETURNING %3, station, "
                             "socket, %4")
                  .arg(why,
                       postgres ? QStringLiteral("now()")
                                : QStringLiteral("strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"),
                       postgres ? QStringLiteral("attempt_id::text") : QStringLiteral("attempt_id"),
                       StartedText(postgres)),
              {Q(serial)})) {
        *error = "cannot release " + serial + ": " + Why(q.lastError());
        return false;
    }
    while (q.next()) {
        released->push_back("attempt " + S(q.value(0).toString()) + " of station " +
                            Quoted(S(q.value(1).toString())) + ", socket " +
                            S(q.value(2).toString()) + ", started " + S(q.value(3).toString()));
    }
    return true;
}

bool ReleaseStation(const std::string& uri, const std::string& name,
                    std::vector<std::string>* released, std::string* note, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target =
        Postgres(uri, "station names are registered in a PostgreSQL record only", error);
    Connection c;
    if (!target || !OpenWithRules(c, *target, error)) return false;
    QSqlQuery q(c.Db());
    if (!Exec(q,
              QStringLiteral("DELETE FROM stations WHERE station = ? RETURNING station_id, "
                             "db_user::text"),
              {Q(name)})) {
        *error = "cannot release station " + Quoted(name) + ": " + Why(q.lastError());
        return false;
    }
    while (q.next()) {
        released->push_back("station " + Quoted(name) + " (station id " + S(q.value(0).toString()) +
                            ", database user " + S(q.value(1).toString()) + ")");
    }
    // A station still running under the name holds its lock, and registers
    // the name again at its next connection.
    QSqlQuery held(c.Db());
    if (note && !released->empty() &&
        Exec(held,
             QStringLiteral("SELECT l.pid, coalesce(s.usename::text, '') FROM pg_locks l LEFT "
                            "JOIN pg_stat_activity s ON s.pid = l.pid WHERE l.locktype = "
                            "'advisory' AND l.classid = 434001 AND l.objid = hashtext(?)::oid "
                            "AND l.objsubid = 2 AND l.granted"),
             {Q(name)}) &&
        held.next()) {
        *note = "a station is still connected under " + Quoted(name) + " (server process " +
                S(held.value(0).toString()) +
                (held.value(1).toString().isEmpty() ? "" : ", " + S(held.value(1).toString())) +
                "): it registers the name again when it reconnects";
    }
    return true;
}

}  // namespace record
