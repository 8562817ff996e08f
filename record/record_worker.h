#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "attempt.h"
#include "sink.h"

namespace record {

// What the record said before an attempt's first command.
struct OpenAnswer {
    enum class Outcome {
        Go,       // the running row is kept: the module may be written
        Skipped,  // the module passed before; its skip row is kept
        Busy,     // another station is writing this serial; its skip row is kept
        Failed,   // no row could be made: nothing may go to the module
    };
    Outcome outcome = Outcome::Failed;
    std::optional<PriorPass> prior;  // Skipped: where and when it passed
    std::string busyAt;              // Busy: "in progress at station X, socket N"
    std::string note;                // Go: decided without the line's record
    std::string error;               // Failed: why
};

// What the record said of an attempt's result.
struct CloseAnswer {
    bool kept = false;  // committed, or spooled and on the disk
    std::string error;  // why not
};

// How the record stands, for a display; a copy, safe to take from any thread.
struct RecordState {
    std::string describe;   // "CSV /path", "PostgreSQL postgresql://line/db", ...
    int unsent = 0;         // attempts kept locally, not yet where they belong
    bool spooling = false;  // a database out of reach: rows go to the spool
    int waiting = 0;        // requests not yet answered
    bool busy = false;      // a request waits for a locked record
    std::string problem;    // an error the operator must see (the record refused us)
    std::string warning;    // something to say once at start (rows left for another database)
    long long errors = 0;   // rows that could not be kept, since start
};

// "012345 passed before (station line-2, socket 3, 2026-12-09T05:02:03+01:00)".
std::string PassedBeforeMessage(const std::string& serial, const PriorPass& prior);

// The station's view of the record: every call returns at once and the
// answer comes later, on the station's own thread, through Deliver(). A
// socket waits for it as a state of its own; nothing waits in a loop.
class Recorder {
  public:
    virtual ~Recorder() = default;
    // Before the first command of an attempt (result "running"). checkPassed:
    // a station that leaves alone a module the record shows as passed with
    // the same kind and plan (the attempt's channels).
    virtual void Open(const Attempt& attempt, bool checkPassed,
                      std::function<void(const OpenAnswer&)> done) = 0;
    // Once, when the attempt has ended, with its result.
    virtual void Close(const Attempt& attempt, std::function<void(const CloseAnswer&)> done) = 0;
    virtual RecordState State() const = 0;
};

// The record on a thread of its own: the sinks are made, used and closed
// there, fed by a bounded queue. A locked file, a full disk or a server that
// hangs holds up only the requests behind it, never the thread that times the
// wire. With Mode::Inline nothing runs until RunQueued() is called (tests on
// virtual time, where the test decides when the record answers).
class RecordWorker : public Recorder {
  public:
    enum class Mode { Thread, Inline };
    using SinkFactory = std::function<std::unique_ptr<Sink>(std::string* error)>;

    // wake: called from the worker's thread when answers wait; the owner then
    // calls Deliver() on the station's thread (a queued call on Qt's loop).
    RecordWorker(SinkFactory factory, std::function<void()> wake, Mode mode = Mode::Thread,
                 int flushMs = 1000);
    // Answers what is queued (see Drain), then closes the sinks on their thread.
    ~RecordWorker() override;
    RecordWorker(const RecordWorker&) = delete;
    RecordWorker& operator=(const RecordWorker&) = delete;

    // Makes the sinks; done(error) comes through Deliver(), error empty when
    // the record can take rows.
    void Start(std::function<void(const std::string& error)> done);

    void Open(const Attempt& attempt, bool checkPassed,
              std::function<void(const OpenAnswer&)> done) override;
    void Close(const Attempt& attempt, std::function<void(const CloseAnswer&)> done) override;
    RecordState State() const override;

    // The answers that have arrived, run on the caller's thread.
    void Deliver();
    // Inline mode: runs every queued job now, on the caller's thread.
    void RunQueued();
    // Waits up to ms for the queue to empty and delivers the answers: the end
    // of a run. False when the record still had requests unanswered.
    bool Drain(int ms);

    // A request older than this while the record is busy (a file locked by
    // another program) is given up: the row could not be kept.
    void SetBusyLimitMs(int ms);
    static constexpr std::size_t kQueueLimit = 1024;

  private:
    struct Core;
    std::shared_ptr<Core> core_;  // shared with the thread, which may outlive a stuck record
    Mode mode_;
};

}  // namespace record
