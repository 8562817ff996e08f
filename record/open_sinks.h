#pragma once

#include <functional>
#include <memory>
#include <string>

#include "sink.h"

namespace record {

struct SinkOptions {
    std::string logPath;  // --log (or the default log); empty: no CSV
    std::string dbUri;    // --db; empty: no database
    // Where the PostgreSQL spool lives: the data folder.
    std::string spoolFolder;
    // Who writes: the station's name and this installation's station id
    // (the database registers the name; the CSV log's journal of running
    // attempts is kept per station id). Empty for the record's commands.
    std::string station;
    std::string stationId;
};

// Opens the database sink of a --db URI, its spool (if it has one) in
// spoolFolder; nothing, with the reason in *error, when it cannot take rows.
// record/qt's OpenSqlSink is the one the programs use.
using DatabaseSinkFactory =
    std::function<std::unique_ptr<Sink>(const SinkOptions& options, std::string* error)>;

// The sinks a station writes through: the CSV log, the database, or both
// fanned out. Checks each can take rows before any port is touched: nothing,
// with the reason in *error, when one cannot (exit status 2). A PostgreSQL
// server out of reach is no error: its rows are spooled.
std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, const DatabaseSinkFactory& openDatabase,
                                std::string* error);

}  // namespace record
