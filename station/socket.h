#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "attempt.h"
#include "engine.h"
#include "plan.h"
#include "record_worker.h"

namespace station {

// What a socket is asked to do.
enum class Job { Info, Write, Check, Test, Station };

struct SocketConfig {
    int number = 1;         // 1..N
    std::string port;       // as given: "COM7" or a device path
    std::string device;     // what it opens
    std::string station;    // the station's name in the record
    std::string stationId;  // this installation's UUID, in every row
    std::string operatorName;
    std::string toolVersion;
    Job job = Job::Station;
    bool verify = true;  // read the channels back after a write
    int testChannel = 0;
    // The kind every module must be; nullptr: whichever kind answers, once
    // per identity read.
    const module::Kind* fixedKind = nullptr;
    bool again = false;  // write modules the record shows as passed
    PlanTexts plan;
    int pollMs = 1000;  // from one identity poll to the next
    // A new module waits for a start from outside (a PLC's coil) before its
    // attempt begins.
    bool trigger = false;
    // A station socket whose adapter went away tries to open it again this
    // often, and carries on with a new attempt when it is back.
    int reopenMs = 1000;
};

// How the socket stands, for a display.
enum class Phase {
    Empty,
    Reading,
    Waiting,    // a new module waits: the station is paused, or for its start
    Recording,  // the record is asked, before the first command or after the last
    Writing,
    Checking,
    Confirming,
    Testing,
    Passed,
    Failed,
    NotRecorded,  // the module's row could not be kept
    Skipped,      // passed before, or another station is writing it
    AdapterMissing,
    Done
};

// Whether a socket may begin an attempt at the module it found.
enum class Gate { Go, Wait, End };

class Socket;

// The front end: told of every attempt and of the end of the job.
class SocketObserver {
  public:
    virtual ~SocketObserver() = default;
    // The kind answering for the first time: false refuses the plan (the
    // job then ends, nothing written).
    virtual bool AcceptPlan(const Socket& socket, const module::Kind& kind) = 0;
    // A new module was found: may its attempt begin now? Wait keeps the
    // module waiting (asked again at the next poll); End ends the job.
    virtual Gate MayBegin(const Socket& socket) {
        (void)socket;
        return Gate::Go;
    }
    // The record took the attempt's running row: the first command follows.
    virtual void OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) {
        (void)socket;
        (void)attempt;
    }
    // An attempt ended and the record answered. logged: its row is kept;
    // false ends the job too.
    virtual void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                           const std::string& recordError) = 0;
    virtual void OnPhase(const Socket& socket) { (void)socket; }
    // A station socket's adapter went away (reason), or is back.
    virtual void OnAdapter(const Socket& socket, bool present, const std::string& reason) {
        (void)socket;
        (void)present;
        (void)reason;
    }
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
           record::Recorder& record, SocketObserver& observer);
    ~Socket() override;

    // The port is open: the job begins with an identity read.
    void Start();
    // Ends the running sequence at once; an attempt under way is recorded
    // as interrupted. The job ends once the record has answered.
    void RequestStop();
    // Ends the job once the attempt under way (if any) is recorded: no new
    // module is taken.
    void FinishJob();
    // The start of a module from outside (SocketConfig::trigger).
    void Trigger();
    bool Triggered() const { return triggered_; }
    // Between the module's identity and the record's last answer.
    bool InAttempt() const;
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
    // Channels echoed during the running write, 0 up to the kind's count.
    int Progress() const { return progress_; }
    // How long the last write itself took, from its first command to its
    // last answer (the line's timing, whatever the record did): -1 when the
    // last attempt wrote nothing.
    long long LastWriteMs() const { return lastWriteMs_; }
    // When the running attempt started, and the last one's result.
    const record::Attempt& LastAttempt() const { return last_; }
    bool AutoPort() const { return autoPort_; }
    void SetAutoPort(bool on) { autoPort_ = on; }

  private:
    enum class Step {
        Idle,
        Poll,
        Identify,
        OtherKind,
        Opening,  // the record is asked for the attempt's running row
        Write,
        Check,
        Confirm,
        Test,
        Closing,  // the record is given the attempt's result
        Reopen
    };

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
    // A new attempt: the record is asked for its running row first, then
    // go() runs (the first command, or a result decided at once).
    void BeginAttempt(record::Operation operation, std::function<void()> go,
                      bool checkPassed = false);
    void OnOpened(const record::OpenAnswer& answer);
    // The attempt's result goes to the record; next() runs once it is kept.
    void FinishAttempt(record::Result result, record::Step failedStep,
                       const std::string& message, std::function<void()> next = {});
    void OnClosed(const record::Attempt& attempt, const record::CloseAnswer& answer);
    void Write();
    void SchedulePoll();
    // After an attempt: a station polls for the next module, a single
    // command ends.
    void CarryOn();
    void TryReopen();
    // The record's name for what the job does to a module.
    record::Operation Operation() const;
    void EndJob(JobEnd end);
    void SetPhase(Phase phase);
    // A result shown until the module is taken out.
    bool Holding() const;
    // After the record's answer: what the attempt's end decided, or the
    // next poll.
    void AfterRecord();
    std::vector<std::string> Rows(int channel) const;

    SocketConfig config_;
    wire::SerialPort& port_;
    record::Recorder& record_;
    SocketObserver& observer_;
    module::Engine engine_;
    module::Timer pollTimer_{module::TimerId::PollTimer, 1000};

    Step step_ = Step::Idle;
    Phase phase_ = Phase::Empty;
    JobEnd end_ = JobEnd::Running;
    bool autoPort_ = false;
    bool stopping_ = false;
    bool finishing_ = false;  // end the job after the attempt under way
    bool triggered_ = false;
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
    bool portLost_ = false;  // the adapter went while the record was asked
    // What a wrong-kind module's row says it is, set before its attempt.
    struct {
        bool set = false;
        std::string kind, serial, version;
    } pending_;
    std::function<void()> go_;    // once the running row is kept
    std::function<void()> next_;  // once the result is kept
    // Answers of the record for a socket already gone are dropped.
    std::shared_ptr<Socket*> self_;
    record::Attempt attempt_;
    record::Attempt last_;
    int progress_ = 0;
    std::chrono::steady_clock::time_point writeStarted_;
    long long writeMs_ = -1;      // of the running attempt
    long long lastWriteMs_ = -1;  // of the last one the record answered for
    std::set<std::string> passedNow_;  // kind letter + serial
};

}  // namespace station
