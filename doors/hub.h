#pragma once

// Where the station's thread and the doors' threads meet. The station's
// thread publishes a snapshot after every change and pushes each attempt as
// it begins and ends; neither ever waits for a server: a door that does not
// keep up loses its oldest events, never the station's time. The doors send
// commands; the station is woken to drain them and answers each in its own
// time.
//
// Every call is thread-safe. The wake functions run with the hub's lock
// held, so they must only post (a queued event, an eventfd write) and never
// call back into the hub.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "attempt_totals.h"
#include "command.h"
#include "event.h"
#include "snapshot.h"

namespace doors {

// What a door takes from the hub at once.
struct Delivery {
    std::deque<Event> events;
    std::vector<std::pair<std::uint64_t, Reply>> replies;  // command id, answer
    bool snapshotChanged = false;
    std::uint64_t dropped = 0;  // events lost since the last take: too slow
};

class Hub {
  public:
    Hub();
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    // --- The station's thread.
    // A socket whose state word or flags differ from the last snapshot gets
    // a SocketChanged event, so publish after every change.
    void Publish(Snapshot snapshot);
    // AttemptBegun or AttemptFinished.
    void Push(Event event);
    // Called on a door's thread when a command or a notice waits.
    void SetStationWake(std::function<void()> wake);
    std::vector<Command> TakeCommands();
    // A door's messages for the station's own log or message line ("the
    // MQTT broker is not reachable ..."), since the doors have no output of
    // their own.
    std::vector<std::string> TakeNotices();
    void Answer(std::uint64_t commandId, Reply reply);

    // --- The doors' threads.
    std::shared_ptr<const Snapshot> Current() const;
    AttemptTotals Totals() const;
    std::uint64_t DroppedTotal() const;
    void Notice(std::string text);

    // One per door. Its wake runs (on the station's thread or another
    // door's) when something arrives while the door has nothing waiting.
    class Client {
      public:
        Client(Hub& hub, std::size_t capacity, std::function<void()> wake);
        ~Client();
        Client(const Client&) = delete;
        Client& operator=(const Client&) = delete;

        Delivery Take();
        // The command with the id the answer will carry.
        std::uint64_t Send(Command command);

      private:
        friend class Hub;
        Hub& hub_;
        std::size_t capacity_;
        std::function<void()> wake_;
        bool woken_ = false;  // a wake was sent and nothing taken since
        Delivery pending_;
    };

  private:
    void WakeLocked(Client& client);

    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> current_;
    AttemptTotals totals_;
    std::vector<Client*> clients_;
    std::function<void()> stationWake_;
    bool stationWoken_ = false;
    std::vector<Command> commands_;
    std::vector<std::string> notices_;
    std::unordered_map<std::uint64_t, Client*> asked_;  // command id -> door
    std::uint64_t nextSeq_ = 1;
    std::uint64_t nextCommand_ = 1;
    std::uint64_t dropped_ = 0;
};

}  // namespace doors
