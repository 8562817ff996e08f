#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pass_rate.h"
#include "socket.h"

namespace station {

// Counts of attempts, per socket and for the station.
struct Counts {
    int written = 0;  // attempts that reached the module's flash
    int passed = 0;
    int failed = 0;  // failed or interrupted
    int skipped = 0;
    int notRecorded = 0;    // attempts whose row could not be kept
    int adapterLosses = 0;  // times the socket's adapter went away
};

class Station;

// The front end of a station: modsetup's terminal, modstation's window.
class StationObserver {
  public:
    virtual ~StationObserver() = default;
    virtual bool AcceptPlan(const Socket& socket, const module::Kind& kind) = 0;
    virtual void OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) {
        (void)socket;
        (void)attempt;
    }
    virtual void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                           const std::string& recordError) = 0;
    virtual void OnPhase(const Socket& socket) { (void)socket; }
    virtual void OnAdapter(const Socket& socket, bool present, const std::string& reason) {
        (void)socket;
        (void)present;
        (void)reason;
    }
    // Every socket's job has ended.
    virtual void OnStationEnded(const Station& station) = 0;
};

// Several sockets, each with its own port, its own engine and its own
// cycle, on one event loop and into one record. A socket whose port or
// module misbehaves never holds up the others.
class Station : private SocketObserver {
  public:
    // count: once this many modules are written or being written over all
    // sockets, no new one is begun (0: never).
    Station(record::Recorder& record, StationObserver& observer, int count = 0);
    ~Station() override;

    // The socket keeps references to port and timers.
    Socket& AddSocket(SocketConfig config, wire::SerialPort& port, module::TimerBackend& timers);
    void Start();
    // Every socket ends its running attempt with a whole "interrupted" row.
    void RequestStop();
    // No new module is begun; the attempts under way finish, then the
    // station ends.
    void FinishRunning();
    // Paused: the attempts under way finish, new modules wait.
    void Pause();
    void Resume();
    bool Paused() const { return paused_; }
    // Stopping or finishing: the station has been told to end.
    bool Ending() const { return stopping_ || finishing_; }
    // The start of socket n (1..N) from outside, for sockets that wait for one.
    void TriggerSocket(int number);
    bool Running() const;

    const std::vector<std::unique_ptr<Socket>>& Sockets() const { return sockets_; }
    const Counts& Total() const { return total_; }
    const Counts& OfSocket(int number) const;
    bool RecordFailed() const { return recordFailed_; }
    // Why no module could be recorded ("record: cannot write ...: No space
    // left on device"); empty while the record keeps every row.
    const std::string& RecordError() const { return recordError_; }
    // Modules passed per hour over the last 15 minutes (PassRate::kWindow),
    // or since Start() when that is shorter; passes only. Nothing in the
    // first minute.
    std::optional<double> PassedPerHour() const;
    // 0 when every module attempted passed (and --count was reached), 1
    // when any failed, was interrupted or the run only skipped, 2 when a
    // row could not be recorded, 3 when a port failed a command that was
    // not a station.
    int ExitStatus() const;

  private:
    bool AcceptPlan(const Socket& socket, const module::Kind& kind) override;
    Gate MayBegin(const Socket& socket) override;
    void OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) override;
    void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const Socket& socket) override;
    void OnAdapter(const Socket& socket, bool present, const std::string& reason) override;
    void OnJobEnded(const Socket& socket) override;

    record::Recorder& record_;
    StationObserver& observer_;
    int count_;
    std::vector<std::unique_ptr<Socket>> sockets_;
    std::vector<Counts> perSocket_;
    Counts total_;
    std::set<int> writing_;  // sockets whose write was let begin and is not yet counted
    bool recordFailed_ = false;
    std::string recordError_;
    bool stopping_ = false;
    bool finishing_ = false;
    bool paused_ = false;
    bool ended_ = false;
    PassRate passRate_;
};

}  // namespace station
