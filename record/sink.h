#pragma once

#include <array>
#include <optional>
#include <string>

#include "attempt.h"

namespace record {

// Where an earlier verified pass of a module was recorded.
struct PriorPass {
    std::string station;
    int socket = 0;
    std::string startedAt;
};

// What Begin found.
struct BeginResult {
    bool ok = false;
    // Set when another station is writing the same serial right now:
    // "in progress at station X, socket N". The attempt must not write; the
    // record already holds it as "skipped" with that message, so it is not
    // finished.
    std::string busyAt;
    std::string error;  // why the row could not be made
    // Set when the record could not be asked (a database out of reach) and
    // the attempt was decided from what this station knows; the same words
    // go into the row's message. The attempt may go on.
    std::string note;
};

// The production record of every attempt. A station opens its sinks before
// it touches a port, so that nothing is written that cannot be recorded.
class Sink {
  public:
    virtual ~Sink() = default;

    // Before the first command of the attempt goes to the module. When it
    // is not ok, nothing goes to the module and Finish is not called.
    virtual BeginResult Begin(const Attempt& attempt) = 0;
    // Once, when the attempt has ended: the same attempt id with its result.
    // False with the reason in *error when the row could not be kept.
    virtual bool Finish(const Attempt& attempt, std::string* error) = 0;

    // A finished "skipped" row: the module was left alone (it passed before,
    // or another station is writing it). By default begun and finished.
    virtual bool Skip(const Attempt& skipped, std::string* error) {
        Attempt running = skipped;
        running.result = Result::Running;
        BeginResult b = Begin(running);
        if (!b.ok) {
            if (error) *error = b.error.empty() ? b.busyAt : b.error;
            return false;
        }
        return Finish(skipped, error);
    }

    // A correction row (result NotRecorded, corrects set): this record kept
    // a result another could not, and takes it back. By default it is
    // written as any other attempt.
    virtual bool Correct(const Attempt& correction, std::string* error) {
        BeginResult b = Begin(correction);
        if (!b.ok) {
            if (error) *error = b.error;
            return false;
        }
        return Finish(correction, error);
    }

    // A verified write ("write", "pass") of this serial with the same kind
    // and the same four channel frequencies, if the record knows one.
    virtual std::optional<PriorPass> PassedBefore(const std::string& kind,
                                                  const std::string& serial,
                                                  const std::vector<std::string>& plan) = 0;

    // Rows kept but not yet where they belong (a database's local spool).
    virtual int Unsent() const { return 0; }
    // Tries to send what is not yet sent (a station calls it while a socket
    // is empty, and before it ends); what is still unsent afterwards.
    virtual int Flush() { return Unsent(); }
    // What the record is, for the operator: "CSV /path", "SQLite /path", ...
    virtual std::string Describe() const = 0;

    // After a Begin or Finish that failed: whether only a lock held by
    // another program stood in the way, so the same call may succeed shortly.
    virtual bool Retryable() const { return false; }
    // A database out of reach: rows go to the local spool.
    virtual bool Spooling() const { return false; }
    // An error the operator must see and mend (the server refused this
    // station's login, its schema changed): empty while all is well.
    virtual std::string Problem() const { return {}; }
    // Said once at start: rows left in the spool for another database.
    virtual std::string Warning() const { return {}; }
};

}  // namespace record
