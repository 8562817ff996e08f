#include "sql_queries.h"

#include <QSqlQuery>
#include <vector>

#include "attempt_columns.h"
#include "attempt_id.h"
#include "pg_copy.h"
#include "sql_connection.h"
#include "sql_record.h"

namespace record {

namespace {

constexpr const char kPassedBefore[] =
    "SELECT station, socket, %1 FROM attempts WHERE serial = ? AND kind = ? AND ch0 = ? AND "
    "ch1 = ? AND ch2 = ? AND ch3 = ? AND ch_more = ? AND operation = 'write' AND result = 'pass' "
    "ORDER BY started_at LIMIT 1";
// A pass another record could not keep was taken back by a correction.
constexpr const char kNotTakenBack[] =
    " AND NOT EXISTS (SELECT 1 FROM attempts c WHERE c.corrects = attempts.attempt_id)";

std::vector<QVariant> PassedArgs(const std::string& kind, const std::string& serial,
                                 const std::vector<std::string>& plan) {
    std::vector<QVariant> args = {Q(serial), Q(kind)};
    for (std::size_t i = 0; i < kChannelColumns; ++i) args.emplace_back(Q(ChannelAt(plan, i)));
    args.emplace_back(Q(MoreChannels(plan)));
    return args;
}

PriorPass PassOf(const QSqlQuery& q) {
    return PriorPass{S(q.value(0).toString()), q.value(1).toInt(), S(q.value(2).toString())};
}

}  // namespace

std::optional<PriorPass> PassedWriteIn(QSqlDatabase db, bool postgres, const std::string& kind,
                                       const std::string& serial,
                                       const std::vector<std::string>& plan, QSqlError* failed) {
    QSqlQuery q(db);
    if (Exec(q,
             QString::fromLatin1(kPassedBefore)
                 .arg(StartedText(postgres))
                 .replace(QLatin1String(" ORDER BY"),
                          QLatin1String(kNotTakenBack) + QLatin1String(" ORDER BY")),
             PassedArgs(kind, serial, plan)) &&
        q.next()) {
        return PassOf(q);
    }
    if (failed) *failed = q.lastError();
    return std::nullopt;
}

std::optional<PriorPass> SpooledPassedWrite(QSqlDatabase spool, const std::string& target,
                                            const std::string& kind, const std::string& serial,
                                            const std::vector<std::string>& plan) {
    QSqlQuery q(spool);
    std::vector<QVariant> args = PassedArgs(kind, serial, plan);
    args.emplace_back(Q(target));
    if (Exec(q,
             QString::fromLatin1(kPassedBefore)
                 .arg(QStringLiteral("started_at"))
                 .replace(QLatin1String("FROM attempts WHERE"), QLatin1String("FROM spool WHERE"))
                 .replace(QLatin1String("ORDER BY"), QLatin1String("AND target = ? ORDER BY")),
             args) &&
        q.next()) {
        return PassOf(q);
    }
    return std::nullopt;
}

bool LoadAttempts(const std::string& uri, const ReportFilter& filter, std::vector<Attempt>* rows,
                  std::string* error) {
    return ForEachAttempt(
        uri, filter,
        [rows](const Attempt& a) {
            rows->push_back(a);
            return true;
        },
        error);
}

bool ForEachAttempt(const std::string& uri, const ReportFilter& filter,
                    const std::function<bool(const Attempt&)>& each, std::string* error,
                    bool forReport) {
    std::string ignored;
    if (!error) error = &ignored;
    const auto target = ParseDbUri(uri, error);
    if (!target) return false;
    const bool postgres = target->kind == DbTarget::Kind::Postgres;
    QString sql =
        QStringLiteral("SELECT %1 FROM attempts WHERE true")
            .arg(forReport ? ReportAttemptColumns(postgres) : SelectedAttemptColumns(postgres));
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
    // A report puts each module's attempts in order itself; sorting a
    // million rows first would take the server longer than the report.
    if (!forReport) sql += QStringLiteral(" ORDER BY started_at, attempt_id");
    if (postgres && forReport) {
        std::vector<std::string> texts;
        for (const QVariant& a : args) texts.push_back(S(a.toString()));
        return CopyRows(
            *target, S(sql), texts,
            [&each](const std::vector<std::string>& fields) {
                return each(ReportAttemptFromFields(fields));
            },
            error);
    }
    Connection c;
    if (!c.Open(*target, error)) return false;
    QSqlQuery q(c.Db());
    q.setForwardOnly(true);
    if (!Exec(q, sql, args)) {
        *error = "cannot read " + target->text + ": " + Why(q.lastError());
        return false;
    }
    // Forward only: the driver hands over rows as they come, none is kept.
    while (q.next()) {
        if (!each(forReport ? ReportAttemptFromQuery(q) : AttemptFromQuery(q))) return false;
    }
    if (q.lastError().isValid()) {
        *error = "cannot read " + target->text + ": " + Why(q.lastError());
        return false;
    }
    return true;
}

}  // namespace record
