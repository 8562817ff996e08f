#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace store {

// One attempt at a module, as the production log keeps it.
struct ProductionRow {
    std::string time;  // ISO 8601 with the UTC offset
    std::string station;
    std::string port;
    std::string kind;  // "rx" / "tx"
    std::string serial;
    std::string version;
    std::array<std::string, 4> channels;  // ch0..ch3
    std::string operation;
    std::string result;  // "pass" / "fail"
    std::string message;
    long long durationMs = 0;
    std::string toolVersion;
    int socket = 1;  // the last column: older readers stop before it
};

// Where the log shows a verified pass.
struct LoggedPass {
    std::string station;
    int socket = 0;
    std::string time;
};

// The first line of a new log.
std::string ProductionLogHeader();

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break, so a message can never split a row.
std::string CsvField(std::string_view text);

// The row as one CSV line ended by CR LF.
std::string FormatProductionRow(const ProductionRow& row);

// Now in local time, "2026-12-09T01:02:03+01:00".
std::string IsoTimeNow();

// Appends one row, with the header first when the file is new or empty. The
// row goes out in a single write on a file opened for appending, so two
// stations logging into one file never interleave half lines; it is flushed
// to disk before this returns. False with the reason in *error.
bool AppendProductionRow(const std::string& path, const ProductionRow& row, std::string* error);

// The last verified write ("write", "pass") of this serial with this kind
// and these four channels, if the log has one.
std::optional<LoggedPass> FindVerifiedPass(const std::string& path, const std::string& kind,
                                           const std::string& serial,
                                           const std::array<std::string, 4>& channels);

}  // namespace store
