#include "hub.h"

#include <algorithm>

namespace doors {

const char* StateText(StationState state) {
    switch (state) {
        case StationState::Setup:
            return "setup";
        case StationState::Production:
            return "production";
        case StationState::Paused:
            return "paused";
        case StationState::Stopping:
            return "stopping";
    }
    return "setup";
}

bool SocketFlags::operator==(const SocketFlags& o) const {
    return busy == o.busy && passHeld == o.passHeld && failHeld == o.failHeld &&
           notRecorded == o.notRecorded && adapterMissing == o.adapterMissing &&
           skipped == o.skipped && modulePresent == o.modulePresent && paused == o.paused &&
           waitingForTrigger == o.waitingForTrigger;
}

std::string CommandText(CommandKind kind, int socket) {
    switch (kind) {
        case CommandKind::Pause:
            return "pause";
        case CommandKind::Resume:
            return "resume";
        case CommandKind::Stop:
            return "stop";
        case CommandKind::Start:
            return "start";
        case CommandKind::StartSocket:
            return "start socket " + std::to_string(socket);
    }
    return "?";
}

Event Event::Begun(record::Attempt attempt) {
    Event e;
    e.kind = EventKind::AttemptBegun;
    e.attempt = std::move(attempt);
    return e;
}

Event Event::Finished(record::Attempt attempt) {
    Event e;
    e.kind = EventKind::AttemptFinished;
    e.attempt = std::move(attempt);
    return e;
}

void AttemptTotals::Add(const record::Attempt& attempt) {
    AttemptTally& t = bySocket[{attempt.socket, record::ToText(attempt.result)}];
    const double seconds = static_cast<double>(attempt.durationMs) / 1000.0;
    ++t.count;
    t.seconds += seconds;
    for (std::size_t i = 0; i < kDurationBuckets.size(); ++i) {
        if (seconds <= kDurationBuckets[i]) ++t.buckets[i];
    }
}

Hub::Hub() : current_(std::make_shared<const Snapshot>()) {}

Hub::~Hub() = default;

void Hub::WakeLocked(Client& client) {
    if (client.woken_) return;
    client.woken_ = true;
    if (client.wake_) client.wake_();
}

void Hub::Publish(Snapshot snapshot) {
    auto next = std::make_shared<const Snapshot>(std::move(snapshot));
    std::vector<Event> changed;
    {
        // Compared outside the lock: only this thread writes current_.
        std::shared_ptr<const Snapshot> before;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            before = current_;
        }
        for (const SocketView& s : next->sockets) {
            const auto old =
                std::find_if(before->sockets.begin(), before->sockets.end(),
                             [&s](const SocketView& o) { return o.number == s.number; });
            if (old != before->sockets.end() && old->state == s.state && old->flags == s.flags &&
                old->serial == s.serial) {
                continue;
            }
            Event e;
            e.kind = EventKind::SocketChanged;
            e.socket = s;
            changed.push_back(std::move(e));
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(next);
    for (Client* c : clients_) {
        c->pending_.snapshotChanged = true;
        for (const Event& e : changed) {
            if (c->pending_.events.size() >= c->capacity_) {
                c->pending_.events.pop_front();
                ++c->pending_.dropped;
                ++dropped_;
            }
            c->pending_.events.push_back(e);
            c->pending_.events.back().seq = nextSeq_;
        }
        WakeLocked(*c);
    }
    nextSeq_ += changed.size();
}

void Hub::Push(Event event) {
    std::lock_guard<std::mutex> lock(mutex_);
    event.seq = nextSeq_++;
    if (event.kind == EventKind::AttemptFinished) totals_.Add(event.attempt);
    for (Client* c : clients_) {
        if (c->pending_.events.size() >= c->capacity_) {
            c->pending_.events.pop_front();
            ++c->pending_.dropped;
            ++dropped_;
        }
        c->pending_.events.push_back(event);
        WakeLocked(*c);
    }
}

void Hub::SetStationWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex_);
    stationWake_ = std::move(wake);
    stationWoken_ = false;
    if (stationWake_ && (!commands_.empty() || !notices_.empty())) {
        stationWoken_ = true;
        stationWake_();
    }
}

std::vector<Command> Hub::TakeCommands() {
    std::lock_guard<std::mutex> lock(mutex_);
    stationWoken_ = false;
    return std::exchange(commands_, {});
}

std::vector<std::string> Hub::TakeNotices() {
    std::lock_guard<std::mutex> lock(mutex_);
    stationWoken_ = false;
    return std::exchange(notices_, {});
}

void Hub::Answer(std::uint64_t commandId, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = asked_.find(commandId);
    if (it == asked_.end()) return;  // the door has gone
    Client* c = it->second;
    asked_.erase(it);
    c->pending_.replies.emplace_back(commandId, std::move(reply));
    WakeLocked(*c);
}

std::shared_ptr<const Snapshot> Hub::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

AttemptTotals Hub::Totals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totals_;
}

std::uint64_t Hub::DroppedTotal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

void Hub::Notice(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(std::move(text));
    if (stationWake_ && !stationWoken_) {
        stationWoken_ = true;
        stationWake_();
    }
}

Hub::Client::Client(Hub& hub, std::size_t capacity, std::function<void()> wake)
    : hub_(hub), capacity_(std::max<std::size_t>(capacity, 1)), wake_(std::move(wake)) {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    hub_.clients_.push_back(this);
}

Hub::Client::~Client() {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    hub_.clients_.erase(std::remove(hub_.clients_.begin(), hub_.clients_.end(), this),
                        hub_.clients_.end());
    for (auto it = hub_.asked_.begin(); it != hub_.asked_.end();) {
        it = it->second == this ? hub_.asked_.erase(it) : std::next(it);
    }
}

Delivery Hub::Client::Take() {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    woken_ = false;
    return std::exchange(pending_, {});
}

std::uint64_t Hub::Client::Send(Command command) {
    std::lock_guard<std::mutex> lock(hub_.mutex_);
    command.id = hub_.nextCommand_++;
    const std::uint64_t id = command.id;
    hub_.asked_[id] = this;
    hub_.commands_.push_back(std::move(command));
    if (hub_.stationWake_ && !hub_.stationWoken_) {
        hub_.stationWoken_ = true;
        hub_.stationWake_();
    }
    return id;
}

}  // namespace doors
