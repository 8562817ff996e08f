#include "station.h"

namespace station {

Station::Station(record::Sink& sink, StationObserver& observer, int count)
    : sink_(sink), observer_(observer), count_(count) {}

Station::~Station() = default;

Socket& Station::AddSocket(SocketConfig config, wire::SerialPort& port,
                           module::TimerBackend& timers) {
    config.number = static_cast<int>(sockets_.size()) + 1;
    SocketObserver& self = *this;
    sockets_.push_back(std::make_unique<Socket>(std::move(config), port, timers, sink_, self));
    perSocket_.emplace_back();
    return *sockets_.back();
}

void Station::Start() {
    started_ = std::chrono::steady_clock::now();
    ended_ = false;
    for (auto& s : sockets_) s->Start();
}

void Station::RequestStop() {
    stopping_ = true;
    for (auto& s : sockets_) s->RequestStop();
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

double Station::PassedPerHour() const {
    const double hours =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count() / 3600.0;
    return hours > 0 ? total_.passed / hours : 0.0;
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

void Station::OnAttempt(const Socket& socket, const record::Attempt& a, bool logged,
                        const std::string& recordError) {
    Counts& mine = perSocket_.at(static_cast<std::size_t>(socket.Config().number - 1));
    for (Counts* c : {&mine, &total_}) {
        if (a.result == record::Result::Skipped) {
            ++c->skipped;
            continue;
        }
        const bool writes = a.operation == record::Operation::Write ||
                            a.operation == record::Operation::WriteUnverified;
        if (writes && a.failedStep != record::Step::Identity) ++c->written;
        if (a.result == record::Result::Pass && logged) {
            ++c->passed;
        } else {
            ++c->failed;
        }
    }
    if (!logged) recordFailed_ = true;
    observer_.OnAttempt(socket, a, logged, recordError);
    if (!logged) {
        RequestStop();
    } else if (count_ > 0 && total_.written >= count_ && !stopping_) {
        RequestStop();
    }
}

void Station::OnPhase(const Socket& socket) {
    observer_.OnPhase(socket);
}

void Station::OnJobEnded(const Socket&) {
    if (ended_ || Running()) return;
    ended_ = true;
    observer_.OnStationEnded(*this);
}

}  // namespace station
