#include "fake_station.h"

#include <chrono>

#include "attempt_id.h"
#include "csv_log.h"

namespace {

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum class Phase { Empty, Reading, Writing, Checking, Recording, Held };

}  // namespace

struct FakeStation::Socket {
    int number = 1;
    Phase phase = Phase::Empty;
    int ticksLeft = 2;
    int made = 0;        // attempts made
    bool armed = false;  // the PLC's start came
    long long writeStartNs = 0;
    long long attemptStartNs = 0;
    std::string state = "empty";
    std::string since;
    doors::SocketFlags flags;
    record::Attempt attempt;
    record::Attempt last;
};

FakeStation::FakeStation(doors::Hub& hub, FakeStationOptions options)
    : hub_(hub), o_(std::move(options)) {
    if (!o_.result) o_.result = [](int, int) { return std::string("pass"); };
    for (int n = 1; n <= o_.sockets; ++n) {
        Socket s;
        s.number = n;
        s.since = record::IsoTimeNow();
        s.flags.waitingForTrigger = o_.trigger;
        sockets_.push_back(s);
    }
    if (o_.startInSetup) state_ = doors::StationState::Setup;
    hub_.Publish(MakeSnapshot());
}

FakeStation::~FakeStation() {
    Stop();
}

void FakeStation::Start() {
    hub_.SetStationWake([this] {
        // Runs under the hub's lock: only a flag and a notify.
        std::lock_guard<std::mutex> lock(wakeMutex_);
        woken_ = true;
        wakeCv_.notify_all();
    });
    thread_ = std::thread([this] { Run(); });
}

void FakeStation::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        quit_ = true;
        wakeCv_.notify_all();
    }
    thread_.join();
    hub_.SetStationWake({});
}

bool FakeStation::AllDone() const {
    if (o_.attemptsPerSocket == 0) return false;
    for (const Socket& s : sockets_) {
        if (s.made < o_.attemptsPerSocket || s.phase != Phase::Empty) return false;
    }
    return true;
}

bool FakeStation::WaitDone(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return AllDone(); });
}

std::vector<record::Attempt> FakeStation::Finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

std::vector<double> FakeStation::WriteMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeMs_;
}

std::map<std::string, long long> FakeStation::FinishedAtNs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finishedAtNs_;
}

doors::StationState FakeStation::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

std::vector<std::string> FakeStation::Notices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
}

doors::Snapshot FakeStation::MakeSnapshot() const {
    doors::Snapshot s;
    s.station = o_.station;
    s.state = state_;
    s.plan.kind = "rx";
    s.plan.channels = {"433.100", "433.400", "433.700", "434.000"};
    s.counts = counts_;
    s.toolVersion = "1.5.2";
    for (const Socket& sock : sockets_) {
        doors::SocketView v;
        v.number = sock.number;
        v.port = "COM" + std::to_string(4 + sock.number);
        v.device = "/dev/ttyUSB" + std::to_string(sock.number - 1);
        v.state = sock.state;
        v.flags = sock.flags;
        v.flags.paused = state_ == doors::StationState::Paused;
        v.serial = sock.phase == Phase::Empty ? "" : sock.attempt.serial;
        v.lastResult = sock.last.attemptId.empty() ? "" : record::ToText(sock.last.result);
        v.lastAttemptId = sock.last.attemptId;
        v.since = sock.since;
        v.lastDurationMs = sock.last.durationMs;
        s.sockets.push_back(v);
    }
    return s;
}

void FakeStation::Obey(const doors::Command& c) {
    using doors::CommandKind;
    using doors::StationState;
    doors::Reply reply;
    switch (c.kind) {
        case CommandKind::Pause:
            if (state_ == StationState::Production) state_ = StationState::Paused;
            break;
        case CommandKind::Resume:
            if (state_ == StationState::Paused) state_ = StationState::Production;
            break;
        case CommandKind::Stop:
            state_ = StationState::Stopping;
            break;
        case CommandKind::Start:
            if (!o_.startRefusal.empty()) {
                reply = doors::Reply::Refused(o_.startRefusal);
            } else if (state_ != StationState::Setup) {
                reply = doors::Reply::Refused("the station is already running");
            } else {
                state_ = StationState::Production;
            }
            break;
        case CommandKind::StartSocket:
            if (!o_.trigger) {
                reply = doors::Reply::Refused("the sockets start by themselves");
            } else if (c.socket < 1 || c.socket > o_.sockets) {
                reply = doors::Reply::Refused("no socket " + std::to_string(c.socket));
            } else {
                sockets_[static_cast<std::size_t>(c.socket - 1)].armed = true;
            }
            break;
    }
    hub_.Answer(c.id, reply);
}

bool FakeStation::Tick(long long nowNs) {
    using doors::StationState;
    bool changed = false;
    for (Socket& s : sockets_) {
        const std::string before = s.state;
        const doors::SocketFlags flagsBefore = s.flags;
        if (state_ == StationState::Stopping && s.phase != Phase::Empty && s.phase != Phase::Held) {
            s.attempt.result = record::Result::Interrupted;
            s.attempt.failedStep = record::Step::Write;
            s.attempt.message = "stopped";
            s.phase = Phase::Recording;
            s.ticksLeft = 0;
        }
        if (--s.ticksLeft > 0) continue;
        switch (s.phase) {
            case Phase::Empty: {
                const bool may = state_ == StationState::Production &&
                                 (o_.attemptsPerSocket == 0 || s.made < o_.attemptsPerSocket) &&
                                 (!o_.trigger || s.armed);
                if (!may) {
                    s.ticksLeft = 1;
                    break;
                }
                s.armed = false;
                s.phase = Phase::Reading;
                s.ticksLeft = 2;
                s.state = "reading";
                s.flags = {};
                s.flags.busy = true;
                s.flags.modulePresent = true;
                break;
            }
            case Phase::Reading:
                s.attempt = {};
                s.attempt.attemptId = record::NewAttemptId();
                s.attempt.startedAt = record::IsoTimeNow();
                s.attempt.station = o_.station;
                s.attempt.socket = s.number;
                s.attempt.port = "COM" + std::to_string(4 + s.number);
                s.attempt.device = "/dev/ttyUSB" + std::to_string(s.number - 1);
                s.attempt.kind = "rx";
                s.attempt.serial = std::to_string(100000 + s.number * 1000 + s.made);
                s.attempt.channels = {"433.100", "433.400", "433.700", "434.000"};
                s.attempt.operation = record::Operation::Write;
                s.attempt.result = record::Result::Running;
                s.attempt.toolVersion = "1.5.2";
                s.attempt.operatorName = "anna";
                s.attemptStartNs = nowNs;
                hub_.Push(doors::Event::Begun(s.attempt));
                s.phase = Phase::Writing;
                s.ticksLeft = o_.writeTicks;
                s.writeStartNs = nowNs;
                s.state = "writing Ch0";
                break;
            case Phase::Writing:
                writeMs_.push_back(static_cast<double>(nowNs - s.writeStartNs) / 1e6);
                ++counts_.written;
                s.phase = Phase::Checking;
                s.ticksLeft = 2;
                s.state = "checking";
                break;
            case Phase::Checking:
                s.phase = Phase::Recording;
                s.ticksLeft = 1;
                s.state = "recording";
                break;
            case Phase::Recording: {
                if (s.attempt.result == record::Result::Running) {
                    s.attempt.result = record::ResultFromText(o_.result(s.number, s.made))
                                           .value_or(record::Result::Fail);
                    if (s.attempt.result == record::Result::Fail) {
                        s.attempt.failedStep = record::Step::Check;
                        s.attempt.message = "Ch2 read back 433.725";
                    }
                }
                s.attempt.durationMs = (nowNs - s.attemptStartNs) / 1000000;
                ++s.made;
                const bool pass = s.attempt.result == record::Result::Pass;
                (pass ? counts_.passed : counts_.failed) += 1;
                s.last = s.attempt;
                s.flags = {};
                s.flags.modulePresent = true;
                s.flags.passHeld = pass;
                s.flags.failHeld = !pass;
                s.state = pass ? "PASS" : "FAIL: " + s.attempt.message;
                s.phase = Phase::Held;
                s.ticksLeft = 3;
                hub_.Push(doors::Event::Finished(s.attempt));
                finishedAtNs_[s.attempt.attemptId] = NowNs();
                finished_.push_back(s.attempt);
                break;
            }
            case Phase::Held:
                s.phase = Phase::Empty;
                s.ticksLeft = 2;
                s.state = "empty";
                s.flags = {};
                s.flags.waitingForTrigger = o_.trigger;
                break;
        }
        if (s.phase == Phase::Writing && s.ticksLeft > 0) {
            const int done = o_.writeTicks - s.ticksLeft;
            s.state = "writing Ch" + std::to_string(std::min(3, done * 4 / o_.writeTicks));
        }
        if (s.state != before || s.flags != flagsBefore) {
            s.since = record::IsoTimeNow();
            changed = true;
        }
    }
    return changed;
}

void FakeStation::Run() {
    const long long tickNs = static_cast<long long>(o_.tickMs) * 1000000;
    long long next = NowNs() + tickNs;
    for (;;) {
        std::vector<doors::Command> commands;
        {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wakeCv_.wait_until(
                lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(next)),
                [this] { return woken_ || quit_; });
            if (quit_) break;
            woken_ = false;
        }
        commands = hub_.TakeCommands();
        std::vector<std::string> notices = hub_.TakeNotices();
        std::lock_guard<std::mutex> lock(mutex_);
        bool changed = !commands.empty();
        for (const doors::Command& c : commands) Obey(c);
        for (std::string& n : notices) notices_.push_back(std::move(n));
        const long long now = NowNs();
        if (now >= next) {
            changed = Tick(now) || changed;
            next += tickNs;
            if (next < now) next = now + tickNs;  // never a burst of late ticks
        }
        if (changed) hub_.Publish(MakeSnapshot());
        if (AllDone()) cv_.notify_all();
    }
}
