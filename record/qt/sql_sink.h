#pragma once

#include <chrono>
#include <map>
#include <string>

#include "db_uri.h"
#include "sink.h"
#include "sql_connection.h"
#include "sql_spool.h"

namespace record {

// An SQLite file for one PC, or a PostgreSQL server for the line with a
// local spool for the times it cannot be reached.
class SqlSink : public Sink {
  public:
    SqlSink(DbTarget target, std::string spoolPath, int retryMs);

    // The SQLite file made and brought up to date; or the spool opened and
    // the server tried once (out of reach is no error, a schema this
    // program does not write is).
    bool Open(std::string* error);

    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::array<std::string, 4>& plan) override;
    int Unsent() const override { return spool_.Unsent(); }
    int Flush() override;
    std::string Describe() const override;

  private:
    using Clock = std::chrono::steady_clock;

    bool Connect(std::string* why, bool* wrongSchema = nullptr);
    bool Reachable();
    bool SentUp();
    bool Lost();
    BeginResult BeginOffline(const Attempt& attempt);
    void Send();

    DbTarget target_;
    bool postgres_;
    int retryMs_;
    Connection db_;
    Spool spool_;
    Clock::time_point nextTry_{};
    std::map<std::string, Attempt> running_;  // begun here and not yet finished
    std::map<std::string, std::string> offlineNotes_;
};

}  // namespace record
