#pragma once

// The local spool of a PostgreSQL record: an SQLite file that keeps, in
// order, the rows a station could not send to its server yet.

#include <QVariant>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "attempt.h"
#include "sink.h"
#include "sql_connection.h"

namespace record {

// A row as the spool keeps it.
struct SpooledRow {
    long long seq = 0;   // the order the rows were put
    bool begin = false;  // the running row; else the attempt's end
    Attempt attempt;
    bool offline = false;  // decided while the server was out of reach
};

// Rows the spool keeps for a database other than the one given now.
struct OtherTarget {
    std::string target;   // the database's identity
    std::string lastUri;  // how it was given when its rows were spooled
    int attempts = 0;
};

// The rows for one database (target: its identity, or until it is known the
// URI as written in a standard form) in a spool file, which several
// databases' rows may share. A row the server refused stays with the reason
// and is no longer read, until the spool is opened again.
class Spool {
  public:
    enum class Phase { Begin, Finish };

    Spool(std::string path, std::string target)
        : path_(std::move(path)), target_(std::move(target)) {}

    // Opens (making) the file, and gives the rows refused in an earlier run
    // another chance: the server may have been put right since. A target
    // whose identity an earlier run learnt is kept under that identity.
    bool Open(std::string* error);
    const std::string& Target() const { return target_; }

    // The database's identity is known now (the server answered): the rows
    // kept under its provisional key or its old URI text move to it, and it
    // is remembered for the next start. uri: how it is given now.
    void Identify(const std::string& identity, const std::string& uri,
                  const std::vector<std::string>& oldKeys);
    // The databases other than this one with rows still in the spool.
    std::vector<OtherTarget> OtherTargets() const;

    // Puts one row after the others. The start is kept as the station gave
    // it (PostgreSQL reads the offset).
    bool Put(Phase phase, const Attempt& attempt, bool offline, std::string* error);

    // Attempts in the spool, and rows still to be sent (not refused), as
    // counted by the last Recount and changed by Put since.
    int Unsent() const { return unsent_; }
    int Pending() const { return pending_; }
    void Recount();

    // Up to limit rows not refused, in the order they were put. False when
    // the spool cannot be read.
    bool ReadBatch(int limit, std::vector<SpooledRow>* rows);
    // Takes sent rows out, in one transaction.
    void Drop(const std::vector<long long>& seqs);
    // Keeps a row the server will not take, with its reason.
    void MarkRefused(long long seq, const std::string& why);

    // A verified write of this serial among the spooled rows.
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::vector<std::string>& plan);

  private:
    std::string path_;
    std::string target_;
    Connection db_;
    int unsent_ = 0;   // attempts in the spool
    int pending_ = 0;  // spooled rows still to be sent (not refused)
};

}  // namespace record
