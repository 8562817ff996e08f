#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "attempt.h"
#include "engine.h"
#include "plan.h"
#include "sink.h"

namespace station {

// What a socket is asked to do.
enum class Job { Info, Write, Check, Test, Station };

struct SocketConfig {
    int number = 1;       // 1..N
    std::string port;     // as given: "COM7" or a device path
    std::string device;   // what it opens
    std::string station;  // the station's name in the record
    std::string operatorName;
    std::string toolVersion;
    Job job = Job::Station;
    bool verify = true;   // read the channels back after a write
    int testChannel = 0;
    // The kind every module must be; nullptr: whichever kind answers, once
    // per identity read.
    const module::Kind* fixedKind = nullptr;
    bool again = false;   // write modules the record shows as passed
    PlanTexts plan;
    int pollMs = 1000;    // from one identity poll to the next
    // A station socket whose adapter went away tries to open it again this
    // often, and carries on with a new attempt when it is back.
    int reopenMs = 1000;
};

// How the socket stands, for a display.
enum class Phase {
    Empty,
    Reading,
    Writing,
    Checking,
    Confirming,
    Testing,
    Passed,
    Failed,
    AdapterMissing,
    Done
};

class Socket;

// The front end: told of every attempt and of the end of the job.
class SocketObserver {
  public:
    virtual ~SocketObserver() = default;
    // The kind answering for the first time: false refuses the plan (the
    // job then ends, nothing written).
    virtual bool AcceptPlan(const Socket& socket, const module::Kind& kind) = 0;
    // An attempt ended. logged: its row is kept; false ends the job too.
    virtual void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                           const std::string& recordError) = 0;
    virtual void OnPhase(const Socket& socket) { (void)socket; }
    // The job has ended (done, stopped, port failed, plan refused...).
    virtual void OnJobEnded(const Socket& socket) = 0;
};

// Why the job ended.
enum class JobEnd { Running, Done, Stopped, PortFailed, PlanRefused, RecordFailed, NoModule };

// One socket of a station: one module engine on one port, and the station
// cycle around it: identity polls, a new module written, read back and its
// serial read again, PASS or FAIL, then waiting until it is taken out. It
// passes a module only on typed results: every channel echoed and read back
// as planned, and the same valid serial before the write and after the check.
class Socket : private module::Listener {
  public:
    Socket(SocketConfig config, wire::SerialPort& port, module::TimerBackend& timers,
           record::Sink& sink, SocketObserver& observer);
    ~Socket() override;

    // The port is open: the job begins with an identity read.
    void Start();
    // Ends the running sequence at once; an attempt under way is recorded
    // as interrupted. The job then ends.
    void RequestStop();
    // Ticks of the engine's timers and of the poll timer.
    void OnTimer(module::TimerId id);
    void OnPortEvent(wire::CommEvent event) { engine_.OnPortEvent(event); }

    const SocketConfig& Config() const { return config_; }
    const module::Engine& Engine() const { return engine_; }
    Phase CurrentPhase() const { return phase_; }
    // "empty", "reading", "writing Ch2", "checking", "PASS", "FAIL: reason".
    std::string PhaseText() const;
    JobEnd Ended() const { return end_; }
    const std::string& PortError() const { return portError_; }
    const std::string& Serial() const { return serial_; }
    // Channels echoed during the running write, 0..4.
    int Progress() const { return progress_; }
    // When the running attempt started, and the last one's result.
    const record::Attempt& LastAttempt() const { return last_; }
    bool AutoPort() const { return autoPort_; }
    void SetAutoPort(bool on) { autoPort_ = on; }

  private:
    enum class Step { Idle, Poll, Identify, OtherKind, Write, Check, Confirm, Test, Reopen };

    // module::Listener
    void OnVersion(const std::string& version, bool kindMatches) override;
    void OnIdentity(const module::Identity& identity) override;
    void OnChannelEchoed(int channel, bool matches) override;
    void OnChannelReadBack(int channel, bool matches,
                           const std::vector<std::string>& values) override;
    void OnPortFailed(const std::string& reason) override;
    void OnFinished(const module::Result& result) override;

    void Identify(Step step);
    void OnIdentityRead(const module::Result& r);
    void OnModule();
    void OnWrongKind();
    void BeginAttempt(record::Operation operation);
    void FinishAttempt(record::Result result, record::Step failedStep, const std::string& message);
    void Skip(const std::string& message);
    void SchedulePoll();
    // After an attempt: a station polls for the next module, a single
    // command ends.
    void CarryOn();
    void TryReopen();
    // The record's name for what the job does to a module.
    record::Operation Operation() const;
    void EndJob(JobEnd end);
    void SetPhase(Phase phase);
    std::vector<std::string> Rows(int channel) const;

    SocketConfig config_;
    wire::SerialPort& port_;
    record::Sink& sink_;
    SocketObserver& observer_;
    module::Engine engine_;
    module::Timer pollTimer_{module::TimerId::PollTimer, 1000};

    Step step_ = Step::Idle;
    Phase phase_ = Phase::Empty;
    JobEnd end_ = JobEnd::Running;
    bool autoPort_ = false;
    bool stopping_ = false;
    bool switchedKind_ = false;  // in this identity read
    std::set<char> acceptedKinds_;
    const module::Kind* ownKind_;  // the kind modules are written as

    std::chrono::steady_clock::time_point pollStarted_;
    std::chrono::steady_clock::time_point attemptStarted_;
    std::string present_;  // what is in the socket: a serial, or a mark
    std::string serial_;   // the running attempt's serial before the write
    std::string otherVersion_;
    std::string portError_;
    std::string note_;  // what the record said when the attempt began
    bool attemptOpen_ = false;
    record::Attempt attempt_;
    record::Attempt last_;
    int progress_ = 0;
    std::set<std::string> passedNow_;  // kind letter + serial
};

}  // namespace station
