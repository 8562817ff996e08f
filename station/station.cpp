#include "station.h"

namespace station {

Station::Station(record::Recorder& record, StationObserver& observer, int count)
    : record_(record), observer_(observer), count_(count) {}

Station::~Station() = default;

Socket& Station::AddSocket(SocketConfig config, wire::SerialPort& port,
                           module::TimerBackend& timers) {
    config.number = static_cast<int>(sockets_.size()) + 1;
    SocketObserver& self = *this;
    sockets_.push_back(std::make_unique<Socket>(std::move(config), port, timers, record_, self));
    perSocket_.emplace_back();
    return *sockets_.back();
}

void Station::Start() {
    passRate_.Start(PassRate::Clock::now());
    ended_ = false;
    for (auto& s : sockets_) s->Start();
}

void Station::RequestStop() {
    stopping_ = true;
    for (auto& s : sockets_) s->RequestStop();
}

void Station::FinishRunning() {
    finishing_ = true;
    for (auto& s : sockets_) s->FinishJob();
}

void Station::Pause() {
    paused_ = true;
}

void Station::Resume() {
    paused_ = false;
}

void Station::TriggerSocket(int number) {
    if (number < 1 || number > static_cast<int>(sockets_.size())) return;
    sockets_[static_cast<std::size_t>(number - 1)]->Trigger();
}

bool Station::Running() const {
    for (const auto& s : sockets_) {
        if (s->Ended() == JobEnd::Running) return true;
    }
    return false;
}

const Counts& Station::OfSocket(int number) const {
    return perSocket_.at(static_cast<std::size_t>(number - 1));
}

std::optional<double> Station::PassedPerHour() const {
    return passRate_.PerHour(PassRate::Clock::now());
}

int Station::ExitStatus() const {
    if (recordFailed_) return 2;
    bool portFailed = false;
    bool planRefused = false;
    bool noModule = false;
    for (const auto& s : sockets_) {
        portFailed = portFailed || s->Ended() == JobEnd::PortFailed;
        planRefused = planRefused || s->Ended() == JobEnd::PlanRefused;
        noModule = noModule || s->Ended() == JobEnd::NoModule;
    }
    if (planRefused) return 2;
    // The port's fault, not the module's: the cable, not the module, is
    // what the fixture script should look at.
    if (portFailed || noModule) return 3;
    if (total_.failed > 0) return 1;
    const bool station = !sockets_.empty() && sockets_.front()->Config().job == Job::Station;
    if (!station) return total_.passed > 0 ? 0 : 1;
    // A stop while the sockets were empty is a normal end of the shift; one
    // before the count was reached, or a run that only skipped, is not what
    // the script asked for.
    if (count_ > 0 && total_.written < count_) return 1;
    if (total_.skipped > 0 && total_.passed == 0) return 1;
    return 0;
}

bool Station::AcceptPlan(const Socket& socket, const module::Kind& kind) {
    return observer_.AcceptPlan(socket, kind);
}

Gate Station::MayBegin(const Socket& socket) {
    if (stopping_ || finishing_) return Gate::End;
    if (paused_) return Gate::Wait;
    if (socket.Config().trigger && !socket.Triggered()) return Gate::Wait;
    if (count_ > 0) {
        // Writes under way count: with --count N no socket begins the
        // (N+1)th, and none is cut off once N are written.
        const int promised = total_.written + static_cast<int>(writing_.size());
        if (promised >= count_) return total_.written >= count_ ? Gate::End : Gate::Wait;
        writing_.insert(socket.Config().number);
    }
    return Gate::Go;
}

void Station::OnAttemptBegun(const Socket& socket, const record::Attempt& attempt) {
    observer_.OnAttemptBegun(socket, attempt);
}

void Station::OnAttempt(const Socket& socket, const record::Attempt& a, bool logged,
                        const std::string& recordError) {
    writing_.erase(socket.Config().number);
    Counts& mine = perSocket_.at(static_cast<std::size_t>(socket.Config().number - 1));
    for (Counts* c : {&mine, &total_}) {
        if (!logged) {
            ++c->notRecorded;
            continue;
        }
        if (a.result == record::Result::Skipped) {
            ++c->skipped;
            continue;
        }
        const bool writes = a.operation == record::Operation::Write ||
                            a.operation == record::Operation::WriteUnverified;
        if (writes && a.failedStep != record::Step::Identity) ++c->written;
        if (a.result == record::Result::Pass) {
            ++c->passed;
        } else {
            ++c->failed;
        }
    }
    if (a.result == record::Result::Pass && logged) passRate_.AddPass(PassRate::Clock::now());
    if (!logged) {
        recordFailed_ = true;
        if (recordError_.empty()) recordError_ = "record: " + recordError;
    }
    observer_.OnAttempt(socket, a, logged, recordError);
    if (!logged) {
        // What is being written now finishes and is recorded if it can be;
        // nothing new begins while the record cannot keep rows.
        FinishRunning();
    } else if (count_ > 0 && total_.written >= count_ && !stopping_) {
        FinishRunning();
    }
}

void Station::OnPhase(const Socket& socket) {
    observer_.OnPhase(socket);
}

void Station::OnAdapter(const Socket& socket, bool present, const std::string& reason) {
    if (!present) {
        ++perSocket_.at(static_cast<std::size_t>(socket.Config().number - 1)).adapterLosses;
        ++total_.adapterLosses;
    }
    observer_.OnAdapter(socket, present, reason);
}

void Station::OnJobEnded(const Socket&) {
    if (ended_ || Running()) return;
    ended_ = true;
    observer_.OnStationEnded(*this);
}

}  // namespace station
