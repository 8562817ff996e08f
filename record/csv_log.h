#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "attempt.h"
#include "sink.h"

namespace record {

// The CSV production log: one line per attempt, the columns
// time,station,port,kind,serial,version,ch0..ch3,operation,result,message,
// duration_ms,tool_version,socket. The log keeps no attempt id, device,
// read-back, failed step nor operator. The socket column comes last, so
// readers of the older fifteen columns keep working; it is empty for an
// attempt whose socket is 0.

// The first line of a new log.
std::string ProductionLogHeader();

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break, so a message can never split a row.
std::string CsvField(std::string_view text);

// A field as the log writes it: a text a spreadsheet would take as a formula
// (=, +, -, @, tab or CR first) gets a leading ', control bytes are written
// as \n, \r, \t or \xNN so a row is always one line, then CsvField.
std::string SafeCsvField(std::string_view text);

// The attempt as one CSV line ended by CR LF.
std::string FormatProductionRow(const Attempt& attempt);

// Now in local time, "2026-12-09T01:02:03+01:00".
std::string IsoTimeNow();

// Appends one row, with the header first when the file is new or empty. The
// row goes out in a single write on a file opened for appending, so two
// stations logging into one file never interleave half lines; it is flushed
// to disk before this returns. A row is written whole or not at all: when the
// write falls short (a full disk), the file is cut back to its length before.
// False with the reason in *error.
bool AppendProductionRow(const std::string& path, const Attempt& attempt, std::string* error);

// Whether a row can be appended to the log: opens it for appending (making
// it when missing) without writing anything.
bool CanAppendProductionLog(const std::string& path, std::string* error);

// Every row of a log, columns found by the names in its header line; the
// marks SafeCsvField added are taken off again. A row without a socket (the
// older fifteen columns) is socket 1, a station's only one. Nothing when it
// cannot be read.
std::vector<Attempt> ReadProductionRows(const std::string& path);

// The first verified write ("write" / "pass") of this serial with the same
// kind and the same four frequencies, if the log holds one; its socket is 0
// when the row names none.
std::optional<PriorPass> FindPassedWrite(const std::string& path, const std::string& kind,
                                         const std::string& serial,
                                         const std::array<std::string, 4>& channels);

// Serial numbers of modules the log shows with a passed write.
std::set<std::string> PassedSerials(const std::string& path);

}  // namespace record
