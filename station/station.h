#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "socket.h"

namespace station {

// Counts of attempts, per socket and for the station.
struct Counts {
    int written = 0;  // attempts that reached the module's flash
    int passed = 0;
    int failed = 0;   // failed or interrupted
    int skipped = 0;
};

class Station;

// The front end of a station: modsetup's terminal, modstation's window.
class StationObserver {
  public:
    virtual ~StationObserver() = default;
    virtual bool AcceptPlan(const Socket& socket, const module::Kind& kind) = 0;
    virtual void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                           const std::string& recordError) = 0;
    virtual void OnPhase(const Socket& socket) { (void)socket; }
    // Every socket's job has ended.
    virtual void OnStationEnded(const Station& station) = 0;
};

// Several sockets, each with its own port, its own engine and its own
// cycle, on one event loop and into one record. A socket whose port or
// module misbehaves never holds up the others.
class Station : private SocketObserver {
  public:
    // count: stop once this many modules were written over all sockets (0:
    // never).
    Station(record::Sink& sink, StationObserver& observer, int count = 0);
    ~Station() override;

    // The socket keeps references to port and timers.
    Socket& AddSocket(SocketConfig config, wire::SerialPort& port, module::TimerBackend& timers);
    void Start();
    // Every socket ends its running attempt with a whole "interrupted" row.
    void RequestStop();
    bool Running() const;

    const std::vector<std::unique_ptr<Socket>>& Sockets() const { return sockets_; }
    const Counts& Total() const { return total_; }
    const Counts& OfSocket(int number) const;
    bool RecordFailed() const { return recordFailed_; }
    // Modules passed per hour since Start().
    double PassedPerHour() const;
    // 0 when every module attempted passed (and --count was reached), 1
    // when any failed, was interrupted or the run only skipped, 2 when a
    // row could not be recorded, 3 when a port failed a command that was
    // not a station.
    int ExitStatus() const;

  private:
    bool AcceptPlan(const Socket& socket, const module::Kind& kind) override;
    void OnAttempt(const Socket& socket, const record::Attempt& attempt, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const Socket& socket) override;
    void OnJobEnded(const Socket& socket) override;

    record::Sink& sink_;
    StationObserver& observer_;
    int count_;
    std::vector<std::unique_ptr<Socket>> sockets_;
    std::vector<Counts> perSocket_;
    Counts total_;
    bool recordFailed_ = false;
    bool stopping_ = false;
    bool ended_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace station
