#pragma once

// The database records behind the plain sink interface: SQLite for one PC,
// PostgreSQL for a line (with a local SQLite spool while the server is out
// of reach), built from the station's --log and --db options. Plain C++ on
// the outside; Qt SQL inside.

#include <functional>
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
// station: who writes (registered on the server, and the attempts a
// station that stopped left running closed); empty for the record's own
// commands.
struct StationIdentity {
    std::string name;
    std::string id;
};
std::unique_ptr<Sink> OpenDatabaseSink(const std::string& uri, const std::string& spoolPath,
                                       std::string* error, int retryMs = 2000,
                                       const StationIdentity& station = {});

// The DatabaseSinkFactory for OpenSinks: OpenDatabaseSink with its spool in
// spoolFolder, which is made when missing.
std::unique_ptr<Sink> OpenSqlSink(const SinkOptions& options, std::string* error);

// The spool's file in a data folder.
std::string SpoolPath(const std::string& folder);

// The schema version this program writes.
int LatestSchemaVersion();

// `db init`: makes the schema or brings it up to upTo (0: the latest).
// *done says what was applied. On PostgreSQL it then grants the station
// group (modsetup_station) what a station may do; *note (when given) says
// so, or that the group does not exist yet.
bool InitDatabase(const std::string& uri, int upTo, std::string* done, std::string* error,
                  std::string* note = nullptr);

// What `db verify` checked and found on a PostgreSQL record.
struct VerifyReport {
    struct Chain {
        std::string stationId;
        long long links = 0;
        long long headLink = 0;  // the last link's number and hash, to note
        std::string head;        // down and compare later
    };
    std::vector<Chain> chains;
    long long attempts = 0;  // finished attempts in a chain
    long long auditEntries = 0;
    std::vector<std::string> findings;  // one line each; none when all is well
};

// `db verify`: walks each station id's hash chain and the audit trail. False
// with *error when the record cannot be read (or is SQLite's).
bool VerifyRecord(const std::string& uri, VerifyReport* report, std::string* error);

// `db release SERIAL`: that serial's running attempts end as interrupted,
// saying who released them; *released gets a line for each.
bool ReleaseSerial(const std::string& uri, const std::string& serial,
                   std::vector<std::string>* released, std::string* error);

// `db release --station NAME` (PostgreSQL): the name's registration freed;
// *released says what it was, *note that a station still holds the name.
bool ReleaseStation(const std::string& uri, const std::string& name,
                    std::vector<std::string>* released, std::string* note, std::string* error);

// The attempts the report and the export read, in start order.
bool LoadAttempts(const std::string& uri, const ReportFilter& filter, std::vector<Attempt>* rows,
                  std::string* error);
// The same, one at a time, none held; each returns false to stop (the call
// then returns false with *error untouched).
// forReport: only the columns a report counts by are read, the others are
// left empty, and the rows come in no particular order.
bool ForEachAttempt(const std::string& uri, const ReportFilter& filter,
                    const std::function<bool(const Attempt&)>& each, std::string* error,
                    bool forReport = false);

}  // namespace record
