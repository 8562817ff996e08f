#include "station_link.h"

#include "csv_log.h"

namespace doors {

namespace {

using station::Phase;

// The phases of a module's attempt, from its running row to its result.
bool AttemptPhase(Phase phase) {
    return phase == Phase::Recording || phase == Phase::Writing || phase == Phase::Checking ||
           phase == Phase::Confirming || phase == Phase::Testing;
}

// An attempt under way, to the record's last answer. The idle identity polls
// of an empty socket are not: the PLC's busy input would blink once a second.
bool Busy(const station::Socket& s) {
    return AttemptPhase(s.CurrentPhase()) || s.InAttempt();
}

SocketFlags FlagsOf(const station::Socket& s, const station::Station& line) {
    SocketFlags f;
    const Phase phase = s.CurrentPhase();
    f.busy = Busy(s);
    f.passHeld = phase == Phase::Passed;
    f.failHeld = phase == Phase::Failed;
    f.notRecorded = phase == Phase::NotRecorded;
    f.skipped = phase == Phase::Skipped;
    f.adapterMissing = phase == Phase::AdapterMissing || s.Ended() == station::JobEnd::PortFailed;
    f.modulePresent =
        f.busy || f.passHeld || f.failHeld || f.notRecorded || f.skipped || phase == Phase::Waiting;
    f.paused = line.Paused();
    f.waitingForTrigger = s.Config().trigger && !s.Triggered() && !f.busy &&
                          s.Ended() == station::JobEnd::Running && !line.Ending();
    return f;
}

}  // namespace

std::string ShownSerial(const station::Socket& s) {
    const Phase phase = s.CurrentPhase();
    // The module being written, not the one before it.
    if (AttemptPhase(phase)) return s.Serial();
    if (phase == Phase::Passed || phase == Phase::Failed || phase == Phase::NotRecorded ||
        phase == Phase::Skipped) {
        return s.LastAttempt().serial;
    }
    return {};  // no module known in the socket
}

StationLink::StationLink(Hub& hub, StationFacts facts, LinkHooks hooks)
    : hub_(hub),
      facts_(std::move(facts)),
      hooks_(std::move(hooks)),
      self_(std::make_shared<StationLink*>(this)) {
    // The MQTT door names its topics after the station: the first snapshot
    // is there before any door opens.
    Publish();
    const std::weak_ptr<StationLink*> self = self_;
    const auto post = hooks_.post;
    hub_.SetStationWake([post, self] {
        if (!post) return;
        post([self] {
            if (const auto link = self.lock(); link && *link) (*link)->Drain();
        });
    });
}

StationLink::~StationLink() {
    // Taken under the hub's lock: once it returns, no door can wake us.
    hub_.SetStationWake({});
    *self_ = nullptr;
}

void StationLink::Attach(station::Station& line, const record::Recorder& record) {
    line_ = &line;
    record_ = &record;
    started_ = false;
    ended_ = false;
    seen_.clear();
    Publish();
}

void StationLink::Detach() {
    line_ = nullptr;
    record_ = nullptr;
    seen_.clear();
    Publish();
}

void StationLink::Started() {
    started_ = true;
    Publish();
}

void StationLink::OnAttemptBegun(const station::Socket&, const record::Attempt& attempt) {
    hub_.Push(Event::Begun(attempt));
    Publish();
}

void StationLink::OnAttempt(const station::Socket&, const record::Attempt& attempt, bool logged,
                            const std::string& recordError) {
    record::Attempt a = attempt;
    if (!logged) {
        // What the record did not keep is no pass to the line's systems
        // either.
        a.result = record::Result::NotRecorded;
        a.message = "record: " + recordError + (a.message.empty() ? "" : "; " + a.message);
    }
    hub_.Push(Event::Finished(std::move(a)));
    Publish();
}

void StationLink::OnPhase(const station::Socket&) {
    Publish();
}

void StationLink::OnAdapter(const station::Socket&, bool, const std::string&) {
    Publish();
}

void StationLink::OnStationEnded(const station::Station&) {
    ended_ = true;
    Publish();
}

void StationLink::Refresh() {
    if (!record_) return;
    const record::RecordState r = record_->State();
    if (r.unsent != unsent_ || r.errors != recordErrors_) Publish();
}

void StationLink::Drain() {
    for (const std::string& text : hub_.TakeNotices()) {
        if (hooks_.notice) hooks_.notice(text);
    }
    for (const Command& c : hub_.TakeCommands()) {
        const Reply reply = Obey(c);
        // A PLC starts every module: its starts would drown the log.
        if (hooks_.notice && (c.kind != CommandKind::StartSocket || !reply.ok)) {
            hooks_.notice(CommandText(c.kind, c.socket) +
                          (c.origin.empty() ? "" : " by " + c.origin) +
                          (reply.ok ? "" : " refused: " + reply.error));
        }
        // The door answers after the snapshot shows what the command did, so
        // a client that reads the status next sees it.
        Publish();
        hub_.Answer(c.id, reply);
    }
}

Reply StationLink::Obey(const Command& c) {
    if (c.kind == CommandKind::Start) {
        return hooks_.start ? hooks_.start() : Reply::Refused(hooks_.startRefusal);
    }
    // modstation ends as SIGTERM ends it, in its set-up as well.
    if (c.kind == CommandKind::Stop && !line_ && hooks_.stop) {
        hooks_.stop();
        return Reply::Ok();
    }
    if (!line_) return Reply::Refused("the station is not running");
    const bool ending = ended_ || line_->Ending();
    if (c.kind == CommandKind::Stop) {
        if (!ending) {
            if (hooks_.stop) {
                hooks_.stop();
            } else {
                line_->RequestStop();
            }
        }
        return Reply::Ok();
    }
    if (ending) return Reply::Refused("the station is stopping");
    switch (c.kind) {
        case CommandKind::Pause:
            line_->Pause();
            return Reply::Ok();
        case CommandKind::Resume:
            line_->Resume();
            return Reply::Ok();
        case CommandKind::StartSocket:
            break;
        default:
            return Reply::Refused("unknown command");
    }
    const auto& sockets = line_->Sockets();
    const std::string name = "socket " + std::to_string(c.socket);
    if (c.socket < 1 || c.socket > static_cast<int>(sockets.size())) {
        return Reply::Refused("there is no " + name + " (the station has " +
                              std::to_string(sockets.size()) + ")");
    }
    const station::Socket& s = *sockets[static_cast<std::size_t>(c.socket - 1)];
    if (!s.Config().trigger) {
        return Reply::Refused(name + " starts by itself: the station runs without --trigger plc");
    }
    if (s.Ended() != station::JobEnd::Running) return Reply::Refused(name + " has ended");
    // A start remembered through a pause would begin a module the moment
    // the station resumes, when nobody at the fixture expects it.
    if (line_->Paused()) return Reply::Refused("the station is paused");
    // Nor may a start given during an attempt arm the next module.
    if (Busy(s)) return Reply::Refused(name + " is busy with a module");
    line_->TriggerSocket(c.socket);
    return Reply::Ok();
}

void StationLink::Publish() {
    hub_.Publish(MakeSnapshot());
}

Snapshot StationLink::MakeSnapshot() {
    Snapshot s;
    s.station = facts_.station;
    s.stationId = facts_.stationId;
    s.toolVersion = facts_.toolVersion;
    if (record_) {
        const record::RecordState r = record_->State();
        unsent_ = r.unsent;
        recordErrors_ = r.errors;
    }
    s.unsent = unsent_;
    s.recordErrors = recordErrors_;
    if (!line_) return s;
    const station::Station& line = *line_;
    s.state = !started_                 ? StationState::Setup
              : ended_ || line.Ending() ? StationState::Stopping
              : line.Paused()           ? StationState::Paused
                                        : StationState::Production;
    const station::Counts& t = line.Total();
    s.counts.passed = t.passed;
    s.counts.failed = t.failed;
    s.counts.skipped = t.skipped;
    s.counts.written = t.written;
    s.counts.notRecorded = t.notRecorded;
    const auto& sockets = line.Sockets();
    if (!sockets.empty()) {
        const station::SocketConfig& c = sockets.front()->Config();
        s.plan.kind = c.fixedKind ? c.fixedKind->name : "any";
        s.plan.channels.assign(c.plan.begin(), c.plan.end());
    }
    seen_.resize(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const station::Socket& sock = *sockets[i];
        const station::SocketConfig& c = sock.Config();
        const record::Attempt& last = sock.LastAttempt();
        SocketView v;
        v.number = c.number;
        v.port = c.port;
        v.device = c.device;
        v.state = sock.PhaseText();
        v.flags = FlagsOf(sock, line);
        v.serial = ShownSerial(sock);
        if (!last.attemptId.empty()) {
            v.lastResult = record::ToText(last.result);
            v.lastAttemptId = last.attemptId;
            v.lastDurationMs = last.durationMs;
        }
        Seen& seen = seen_[i];
        if (seen.since.empty() || seen.state != v.state || seen.flags != v.flags) {
            seen.state = v.state;
            seen.flags = v.flags;
            seen.since = record::IsoTimeNow();
        }
        v.since = seen.since;
        s.sockets.push_back(std::move(v));
    }
    return s;
}

}  // namespace doors
