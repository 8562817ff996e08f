#pragma once

#include <string>

namespace record {

// A random (version 4) UUID in its usual text form. The station makes one
// per attempt, so a row sent twice from a spool is known for the same row.
std::string NewAttemptId();

// Milliseconds since 1970 (UTC) of an ISO 8601 time
// ("2026-12-09T05:02:03+01:00", "...03.250Z", "2026-12-09 05:02:03", or a date
// alone); a time without an offset is taken as local time. Nothing when the
// text is not such a time.
bool ParseIsoTime(const std::string& text, long long* msSinceEpoch);

// "2026-12-09T04:02:03.000Z": the form a database keeps, which sorts as text.
std::string FormatUtcIso(long long msSinceEpoch);

// ParseIsoTime, then FormatUtcIso; the text itself when it is not a time.
std::string ToUtcIso(const std::string& text);

}  // namespace record
