#pragma once

// An attempt as a row of the attempts table (and of the spool, which keeps
// the same columns): the column list, the values bound to it, the two
// statements that write it, and reading a row back.

#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "attempt.h"

namespace record {

// The columns an attempt row is written with, in binding order.
inline constexpr const char* kAttemptColumns[] = {
    "attempt_id",  "station",      "socket",
    "port",        "device",       "kind",
    "serial",      "version",      "ch0",
    "ch1",         "ch2",          "ch3",
    "rb0",         "rb1",          "rb2",
    "rb3",         "operation",    "result",
    "failed_step", "message",      "started_at",
    "duration_ms", "tool_version", "operator",
    "station_id",  "corrects",     "ch_more",
    "rb_more",     "recorded_offline"};
inline constexpr int kAttemptColumnCount = static_cast<int>(std::size(kAttemptColumns));

// Where a column is in kAttemptColumns (and in AttemptValues); -1 when it is
// none of them.
constexpr int AttemptColumn(std::string_view name) {
    for (int i = 0; i < kAttemptColumnCount; ++i) {
        if (name == kAttemptColumns[i]) return i;
    }
    return -1;
}
inline constexpr int kStartedAtColumn = AttemptColumn("started_at");
inline constexpr int kCorrectsColumn = AttemptColumn("corrects");
inline constexpr int kRecordedOfflineColumn = AttemptColumn("recorded_offline");
static_assert(kStartedAtColumn >= 0 && kRecordedOfflineColumn == kAttemptColumnCount - 1);

// Now as UTC text, for an attempt that came without its start.
std::string NowUtc();

// The values of kAttemptColumns for an attempt. The start goes to
// PostgreSQL as given (it reads the offset) and to SQLite as UTC text, which
// sorts and compares as time.
std::vector<QVariant> AttemptValues(const Attempt& a, bool postgres, bool offline);

// "attempt_id, station, ..." and as many "?".
QString AttemptColumnList();
QString AttemptPlaceholders();

// A new row. serverTime: started_at is the server's now() (a station that
// is online), and its value is not bound; ignoreRepeat: a row sent again
// from a spool is nothing new.
QString InsertAttempt(bool serverTime, bool ignoreRepeat);
// The values InsertAttempt binds.
std::vector<QVariant> InsertValues(const Attempt& a, bool postgres, bool offline, bool serverTime);

// The end of a running attempt: only what its end decides (result, failed
// step, message, duration, read-back, version) changes, and only while it
// is running. Bound with FinishValues; the caller checks that one row changed.
QString FinishAttempt(bool postgres);
std::vector<QVariant> FinishValues(const Attempt& a);

// started_at as ISO text in UTC, the way both databases give it back.
QString StartedText(bool postgres);

// What a SELECT reads to get an attempt back with AttemptFromQuery: every
// column but recorded_offline, in the order of kAttemptColumns.
QString SelectedAttemptColumns(bool postgres);
// Only what a report counts by (a third of the columns, so a third of the
// reading), and the attempt such a row holds; the rest of it is empty.
QString ReportAttemptColumns(bool postgres);
Attempt ReportAttemptFromQuery(const QSqlQuery& q);
// The same from the fields of a COPY row, in ReportAttemptColumns' order.
Attempt ReportAttemptFromFields(const std::vector<std::string>& fields);

// The attempt in the row q is on, selected with SelectedAttemptColumns
// from column first on.
Attempt AttemptFromQuery(const QSqlQuery& q, int first = 0);

}  // namespace record
