#pragma once

// The database records behind the plain sink interface: SQLite for one PC,
// PostgreSQL for a line (with a local SQLite spool while the server is out
// of reach), built from the station's --log and --db options. Plain C++ on
// the outside; Qt SQL inside.

#include <memory>
#include <string>
#include <vector>

#include "attempt.h"
#include "open_sinks.h"
#include "report.h"
#include "sink.h"

namespace record {

// OpenSinks with this library's database sinks (OpenSqlSink).
std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, std::string* error);

// The database sink alone. spoolPath is the spool's file (PostgreSQL only).
// retryMs: how long an unreachable server is left alone before the next try.
std::unique_ptr<Sink> OpenDatabaseSink(const std::string& uri, const std::string& spoolPath,
                                       std::string* error, int retryMs = 2000);

// The DatabaseSinkFactory for OpenSinks: OpenDatabaseSink with its spool in
// spoolFolder, which is made when missing.
std::unique_ptr<Sink> OpenSqlSink(const std::string& uri, const std::string& spoolFolder,
                                  std::string* error);

// The spool's file in a data folder.
std::string SpoolPath(const std::string& folder);

// The schema version this program writes.
int LatestSchemaVersion();

// `db init`: makes the schema or brings it up to upTo (0: the latest).
// *done says what was applied.
bool InitDatabase(const std::string& uri, int upTo, std::string* done, std::string* error);

// The attempts the report and the export read, in start order.
bool LoadAttempts(const std::string& uri, const ReportFilter& filter, std::vector<Attempt>* rows,
                  std::string* error);

}  // namespace record
