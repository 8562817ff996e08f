#pragma once

// The one place where a running station meets the doors. It lives on the
// station's thread: it copies the station into a snapshot after every
// change, pushes each attempt as it begins and ends, and carries out the
// doors' commands when the hub wakes it. The wake only posts onto the
// station's thread (the program's `post`), so no door ever runs station
// code, and nothing here waits for a door.
//
// The front end (modsetup's terminal, modstation's window) forwards its
// StationObserver callbacks here, since the station has one observer.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hub.h"
#include "record_worker.h"
#include "station.h"

namespace doors {

// What the snapshot says that the station itself does not know.
struct StationFacts {
    std::string station;
    std::string stationId;
    std::string toolVersion;
};

// What the program does for a command the link cannot carry out alone.
struct LinkHooks {
    // Runs fn on the station's thread later, never at once: the hub calls it
    // with its lock held, from any thread.
    std::function<void(std::function<void()> fn)> post;
    // The end a termination signal makes; without it, Station::RequestStop.
    std::function<void()> stop;
    // modstation's Start button; without it every start is refused with
    // startRefusal.
    std::function<Reply()> start;
    std::string startRefusal = "the station was set up on its command line; it cannot be started";
    // A door's message, or a command carried out ("pause by http
    // 127.0.0.1"), for the program's log or message line.
    std::function<void(const std::string&)> notice;
};

// The serial a socket's tile and row show: the module under way, or the one
// whose result is held; empty while none is known.
std::string ShownSerial(const station::Socket& socket);

// A station observer as well, so a front end that tells one more observer
// (the station model) can hand it the link as it is.
class StationLink : public station::StationObserver {
  public:
    StationLink(Hub& hub, StationFacts facts, LinkHooks hooks);
    // No wake reaches the link after it has gone.
    ~StationLink() override;
    StationLink(const StationLink&) = delete;
    StationLink& operator=(const StationLink&) = delete;

    // The station made by the assembly, and its record; published at once
    // (state "setup" until Started). Detach before the station goes.
    void Attach(station::Station& line, const record::Recorder& record);
    // modstation's set-up may name another station between two productions.
    void SetFacts(StationFacts facts) { facts_ = std::move(facts); }
    void Detach();
    // After Station::Start: production from now on.
    void Started();

    // The station observer's calls, forwarded by the front end. The doors
    // never judge a plan: that stays the front end's.
    bool AcceptPlan(const station::Socket&, const module::Kind&) override { return true; }
    void OnAttemptBegun(const station::Socket& socket, const record::Attempt& attempt) override;
    void OnAttempt(const station::Socket& socket, const record::Attempt& attempt, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const station::Socket& socket) override;
    void OnAdapter(const station::Socket& socket, bool present,
                   const std::string& reason) override;
    void OnStationEnded(const station::Station& line) override;

    // For the program's slow timer: the record's figures (rows unsent,
    // errors) move without the station; published only when they did.
    void Refresh();
    // Carries out what the doors asked for and says their notices; what the
    // hub's wake posts.
    void Drain();

  private:
    void Publish();
    Snapshot MakeSnapshot();
    Reply Obey(const Command& command);

    Hub& hub_;
    StationFacts facts_;
    LinkHooks hooks_;
    station::Station* line_ = nullptr;
    const record::Recorder* record_ = nullptr;
    bool started_ = false;
    bool ended_ = false;
    long long unsent_ = 0;
    long long recordErrors_ = 0;
    // When each socket's state word or flags last changed.
    struct Seen {
        std::string state;
        SocketFlags flags;
        std::string since;
    };
    std::vector<Seen> seen_;
    // A post that runs after the link has gone finds this empty.
    std::shared_ptr<StationLink*> self_;
};

}  // namespace doors
