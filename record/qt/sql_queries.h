#pragma once

// What the record is asked, besides the rows a sink writes: the earlier pass
// of a module (in the attempts table and in a spool) and, in sql_record.h,
// the attempts a report reads (LoadAttempts).

#include <QSqlDatabase>
#include <QSqlError>
#include <array>
#include <optional>
#include <string>

#include "sink.h"

namespace record {

// The first verified write ("write", "pass") of this serial with this kind
// and plan in the attempts table that no correction took back. *failed is
// the statement's error when it could not run (no row is no failure).
std::optional<PriorPass> PassedWriteIn(QSqlDatabase db, bool postgres, const std::string& kind,
                                       const std::string& serial,
                                       const std::vector<std::string>& plan, QSqlError* failed);

// The same among the rows a spool keeps for target, times as the station
// gave them.
std::optional<PriorPass> SpooledPassedWrite(QSqlDatabase spool, const std::string& target,
                                            const std::string& kind, const std::string& serial,
                                            const std::vector<std::string>& plan);

}  // namespace record
