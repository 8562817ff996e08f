#pragma once

#include <chrono>
#include <map>
#include <set>
#include <string>

#include "db_uri.h"
#include "sink.h"
#include "sql_connection.h"
#include "sql_record.h"
#include "sql_spool.h"

namespace record {

// An SQLite file for one PC, or a PostgreSQL server for the line with a
// local spool for the times it cannot be reached. Only a server out of
// reach is spooled for; one that refuses this station (a wrong password, no
// such database, a missing grant, a schema of another version, a second
// station under this name) is an error, at start and at every reconnection.
class SqlSink : public Sink {
  public:
    SqlSink(DbTarget target, std::string spoolPath, int retryMs, StationIdentity station = {});
    ~SqlSink() override;

    // The SQLite file made and brought up to date, or the spool opened and
    // the server tried once. False with the reason for an error; a server
    // out of reach is none.
    bool Open(std::string* error);

    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    bool Skip(const Attempt& skipped, std::string* error) override;
    bool Correct(const Attempt& correction, std::string* error) override;
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::vector<std::string>& plan) override;
    int Unsent() const override { return spool_.Unsent(); }
    int Flush() override;
    std::string Describe() const override;
    bool Retryable() const override { return busy_; }
    bool Spooling() const override { return postgres_ && !db_.IsOpen(); }
    std::string Problem() const override { return problem_; }
    std::string Warning() const override { return warning_; }

  private:
    using Clock = std::chrono::steady_clock;

    // Opens the connection and sets the session up; false with *why, and
    // *failure says whether the server is only out of reach.
    bool Connect(std::string* why, Failure* failure);
    bool CheckSchema(std::string* why);
    bool Register(std::string* why);
    void Reconcile();
    bool Reachable();
    bool SentUp();
    // After a failed statement: whether it was the server (gone, or too
    // slow) rather than the statement; the connection is then closed.
    bool Lost(const QSqlError& e);
    void Closed();
    BeginResult BeginOffline(const Attempt& attempt);
    BeginResult Busy(const Attempt& attempt, std::string holderStation, int holderSocket);
    // The finish of a running row; *replayed when the row already ended
    // with this very result (sent twice from the spool).
    bool FinishRow(const Attempt& a, std::string* error, bool* replayed = nullptr);
    bool InsertFinished(const Attempt& a, std::string* error);
    void Send();
    void LockStationFile();

    DbTarget target_;
    bool postgres_;
    int retryMs_;
    StationIdentity station_;
    Connection db_;
    Spool spool_;
    Clock::time_point nextTry_{};
    bool busy_ = false;        // the last call met a lock another program holds
    bool lockHolder_ = false;  // this program is the running station of its name
    int lockFd_ = -1;          // SQLite: the station name's lock file
    bool registered_ = false;
    std::string problem_;
    std::string warning_;
    QSqlError lastError_;                     // of the last statement FinishRow or Send ran
    std::map<std::string, Attempt> running_;  // begun here and not yet finished
    std::set<std::string> offline_;           // of those, decided offline
};

}  // namespace record
