#include "attempt_columns.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cstdlib>

#include "attempt_id.h"
#include "sql_connection.h"

namespace record {

std::string NowUtc() {
    return FormatUtcIso(QDateTime::currentMSecsSinceEpoch());
}

std::vector<QVariant> AttemptValues(const Attempt& a, bool postgres, bool offline) {
    const std::string started = a.startedAt.empty() ? NowUtc()
                                : postgres          ? a.startedAt
                                                    : ToUtcIso(a.startedAt);
    std::vector<QVariant> v = {Q(a.attemptId), Q(a.station), a.socket,    Q(a.port),
                               Q(a.device),    Q(a.kind),    Q(a.serial), Q(a.version)};
    for (std::size_t i = 0; i < kChannelColumns; ++i) v.emplace_back(Q(ChannelAt(a.channels, i)));
    for (std::size_t i = 0; i < kChannelColumns; ++i) v.emplace_back(Q(ChannelAt(a.readBack, i)));
    for (const char* text : {ToText(a.operation), ToText(a.result), ToText(a.failedStep)}) {
        v.emplace_back(QString::fromLatin1(text));
    }
    v.emplace_back(Q(a.message));
    v.emplace_back(Q(started));
    v.emplace_back(static_cast<qlonglong>(a.durationMs));
    v.emplace_back(Q(a.toolVersion));
    v.emplace_back(Q(a.operatorName));
    v.emplace_back(Q(a.stationId));
    // A uuid column takes no empty text: no correction is NULL.
    v.emplace_back(a.corrects.empty() ? QVariant(QMetaType(QMetaType::QString)) : Q(a.corrects));
    v.emplace_back(Q(MoreChannels(a.channels)));
    v.emplace_back(Q(MoreChannels(a.readBack)));
    v.emplace_back(postgres ? QVariant(offline) : QVariant(offline ? 1 : 0));
    return v;
}

QString AttemptColumnList() {
    QStringList names;
    for (const char* c : kAttemptColumns) names << QLatin1String(c);
    return names.join(QLatin1String(", "));
}

QString AttemptPlaceholders() {
    QStringList marks;
    for (std::size_t i = 0; i < std::size(kAttemptColumns); ++i) marks << QStringLiteral("?");
    return marks.join(QLatin1String(", "));
}

QString InsertAttempt(bool serverTime, bool ignoreRepeat) {
    QStringList marks;
    for (int i = 0; i < kAttemptColumnCount; ++i) {
        marks << (serverTime && i == kStartedAtColumn ? QStringLiteral("now()")
                                                      : QStringLiteral("?"));
    }
    return QStringLiteral("INSERT INTO attempts (%1) VALUES (%2)%3")
        .arg(AttemptColumnList(), marks.join(QLatin1String(", ")),
             ignoreRepeat ? QStringLiteral(" ON CONFLICT (attempt_id) DO NOTHING") : QString());
}

std::vector<QVariant> InsertValues(const Attempt& a, bool postgres, bool offline, bool serverTime) {
    std::vector<QVariant> v = AttemptValues(a, postgres, offline);
    if (serverTime) v.erase(v.begin() + kStartedAtColumn);
    return v;
}

QString FinishAttempt(bool postgres) {
    // The server stamps finished_at itself (with its rules); SQLite is given it.
    return QStringLiteral(
               "UPDATE attempts SET result = ?, failed_step = ?, message = ?, duration_ms = ?, "
               "rb0 = ?, rb1 = ?, rb2 = ?, rb3 = ?, rb_more = ?, version = ?%1 WHERE attempt_id = ? AND "
               "result = 'running'")
        .arg(postgres ? QString()
                      : QStringLiteral(", finished_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now')"));
}

std::vector<QVariant> FinishValues(const Attempt& a) {
    std::vector<QVariant> v = {QString::fromLatin1(ToText(a.result)),
                               QString::fromLatin1(ToText(a.failedStep)), Q(a.message),
                               static_cast<qlonglong>(a.durationMs)};
    for (std::size_t i = 0; i < kChannelColumns; ++i) v.emplace_back(Q(ChannelAt(a.readBack, i)));
    v.emplace_back(Q(MoreChannels(a.readBack)));
    v.emplace_back(Q(a.version));
    v.emplace_back(Q(a.attemptId));
    return v;
}

QString StartedText(bool postgres) {
    return postgres ? QStringLiteral(
                          "to_char(started_at AT TIME ZONE 'UTC', "
                          "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")
                    : QStringLiteral("started_at");
}

namespace {

QStringList SelectedColumnList(bool postgres) {
    QStringList columns;
    for (const char* col : kAttemptColumns) {
        columns << (QLatin1String(col) == QLatin1String("started_at") ? StartedText(postgres)
                                                                      : QLatin1String(col));
    }
    columns.removeLast();  // recorded_offline
    if (postgres) {
        columns[0] = QStringLiteral("attempt_id::text");
        columns[kCorrectsColumn] = QStringLiteral("corrects::text");
    }
    return columns;
}

}  // namespace

QString SelectedAttemptColumns(bool postgres) {
    return SelectedColumnList(postgres).join(QLatin1String(", "));
}

namespace {

// What a report counts by, in the order ReportAttemptFromQuery reads it.
constexpr const char* kReportColumns[] = {"attempt_id", "station", "socket",     "serial",
                                          "operation",  "result",  "failed_step", "message",
                                          "started_at", "corrects"};

}  // namespace

QString ReportAttemptColumns(bool postgres) {
    const QStringList all = SelectedColumnList(postgres);
    QStringList columns;
    for (const char* name : kReportColumns) columns << all[AttemptColumn(name)];
    const auto at = [&columns](std::string_view name) -> QString& {
        return columns[static_cast<int>(std::find(std::begin(kReportColumns),
                                                  std::end(kReportColumns), name) -
                                        std::begin(kReportColumns))];
    };
    // An attempt's id matters only when a correction names it, and a
    // message only when it says why a module failed: PostgreSQL leaves the
    // rest empty, which spares it and this program most of their text.
    // (SQLite hands over its text as it is stored: choosing costs it more.)
    if (postgres) {
        at("attempt_id") = QStringLiteral(
                               "CASE WHEN attempt_id IN (SELECT corrects FROM attempts WHERE "
                               "corrects IS NOT NULL) THEN %1 ELSE '' END")
                               .arg(at("attempt_id"));
        for (const char* name : {"failed_step", "message"}) {
            at(name) =
                QStringLiteral("CASE WHEN result IN ('fail', 'interrupted') THEN %1 ELSE '' END")
                    .arg(at(name));
        }
    }
    return columns.join(QLatin1String(", "));
}

namespace {

template <typename Text>
Attempt ReportAttemptFrom(const Text& text) {
    Attempt a;
    a.attemptId = text(0);
    a.station = text(1);
    a.socket = std::atoi(text(2).c_str());
    a.serial = text(3);
    a.operation = OperationFromText(text(4)).value_or(Operation::Check);
    a.result = ResultFromText(text(5)).value_or(Result::Fail);
    a.failedStep = StepFromText(text(6)).value_or(Step::None);
    a.message = text(7);
    a.startedAt = text(8);
    a.corrects = text(9);
    return a;
}

}  // namespace

Attempt ReportAttemptFromQuery(const QSqlQuery& q) {
    return ReportAttemptFrom([&q](int i) { return S(q.value(i).toString()); });
}

Attempt ReportAttemptFromFields(const std::vector<std::string>& fields) {
    static const std::string kNone;
    return ReportAttemptFrom([&fields](int i) -> const std::string& {
        return static_cast<std::size_t>(i) < fields.size() ? fields[static_cast<std::size_t>(i)]
                                                           : kNone;
    });
}

Attempt AttemptFromQuery(const QSqlQuery& q, int first) {
    Attempt a;
    int i = first;
    a.attemptId = S(q.value(i++).toString());
    a.station = S(q.value(i++).toString());
    a.socket = q.value(i++).toInt();
    a.port = S(q.value(i++).toString());
    a.device = S(q.value(i++).toString());
    a.kind = S(q.value(i++).toString());
    a.serial = S(q.value(i++).toString());
    a.version = S(q.value(i++).toString());
    for (std::size_t c = 0; c < kChannelColumns; ++c) a.channels.push_back(S(q.value(i++).toString()));
    for (std::size_t c = 0; c < kChannelColumns; ++c) a.readBack.push_back(S(q.value(i++).toString()));
    // A text this program never writes: no write, no pass, no step.
    a.operation = OperationFromText(S(q.value(i++).toString())).value_or(Operation::Check);
    a.result = ResultFromText(S(q.value(i++).toString())).value_or(Result::Fail);
    a.failedStep = StepFromText(S(q.value(i++).toString())).value_or(Step::None);
    a.message = S(q.value(i++).toString());
    a.startedAt = S(q.value(i++).toString());
    a.durationMs = q.value(i++).toLongLong();
    a.toolVersion = S(q.value(i++).toString());
    a.operatorName = S(q.value(i++).toString());
    a.stationId = S(q.value(i++).toString());
    a.corrects = S(q.value(i++).toString());
    a.channels = JoinChannels(std::move(a.channels), S(q.value(i++).toString()));
    a.readBack = JoinChannels(std::move(a.readBack), S(q.value(i++).toString()));
    return a;
}

}  // namespace record
