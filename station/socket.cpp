#include "socket.h"

#include "attempt_id.h"
#include "csv_log.h"

namespace station {

namespace {

using module::Outcome;
using module::Sequence;


long long MsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t)
        .count();
}

std::string WhatFailed(const module::Result& r) {
    return r.message.empty() ? std::string(module::OutcomeName(r.outcome)) : r.message;
}

std::string FirstUnconfirmed(const module::Result& r) {
    for (int c = 0; c < 4; ++c) {
        if (!r.confirmed[static_cast<std::size_t>(c)]) return "Ch" + std::to_string(c);
    }
    return {};
}

}  // namespace

Socket::Socket(SocketConfig config, wire::SerialPort& port, module::TimerBackend& timers,
               record::Sink& sink, SocketObserver& observer)
    : config_(std::move(config)),
      port_(port),
      sink_(sink),
      observer_(observer),
      engine_(config_.fixedKind ? *config_.fixedKind : *module::Kinds().front(), port, timers,
              [this](int channel) { return Rows(channel); }, *this),
      ownKind_(&engine_.ModuleKind()) {
    pollTimer_.Attach(&timers);
}

Socket::~Socket() {
    engine_.Stop();
    pollTimer_.Stop();
}

std::vector<std::string> Socket::Rows(int channel) const {
    if (channel < 0 || channel > 3) return {};
    return engine_.ModuleKind().synthesize(config_.plan[static_cast<std::size_t>(channel)]).registers;
}

void Socket::SetPhase(Phase phase) {
    phase_ = phase;
    observer_.OnPhase(*this);
}

std::string Socket::PhaseText() const {
    switch (phase_) {
        case Phase::Empty:
            return end_ == JobEnd::PortFailed ? "adapter missing" : "empty";
        case Phase::Reading:
            return "reading";
        case Phase::Writing:
            return "writing Ch" + std::to_string(progress_ < 4 ? progress_ : 3);
        case Phase::Checking:
            return "checking";
        case Phase::Confirming:
            return "checking the serial";
        case Phase::Testing:
            return "testing Ch" + std::to_string(config_.testChannel);
        case Phase::Passed:
            return "PASS";
        case Phase::Failed:
            return "FAIL: " + last_.message;
        case Phase::AdapterMissing:
            return "adapter missing";
        case Phase::Done:
            break;
    }
    return end_ == JobEnd::PortFailed ? "adapter missing" : "stopped";
}

void Socket::Start() {
    end_ = JobEnd::Running;
    if (!port_.IsOpen()) {
        // A station socket whose adapter is not there yet waits for it.
        if (config_.job == Job::Station) {
            step_ = Step::Reopen;
            SetPhase(Phase::AdapterMissing);
            TryReopen();
        } else {
            EndJob(JobEnd::PortFailed);
        }
        return;
    }
    Identify(config_.job == Job::Station ? Step::Poll : Step::Identify);
}

void Socket::Identify(Step step) {
    step_ = step;
    switchedKind_ = false;
    pollStarted_ = std::chrono::steady_clock::now();
    if (phase_ != Phase::Passed && phase_ != Phase::Failed) SetPhase(Phase::Reading);
    engine_.StartIdentity();  // a failed port reports through OnPortFailed
}

void Socket::SchedulePoll() {
    const long long wait = config_.pollMs - MsSince(pollStarted_);
    step_ = Step::Poll;
    pollTimer_.SetInterval(static_cast<int>(wait > 0 ? wait : 0));
    pollTimer_.Start();
}

void Socket::OnTimer(module::TimerId id) {
    if (id != module::TimerId::PollTimer) {
        engine_.OnTimer(id);
        return;
    }
    pollTimer_.Stop();
    if (end_ != JobEnd::Running || stopping_) return;
    if (step_ == Step::Reopen) {
        TryReopen();
        return;
    }
    Identify(Step::Poll);
}

void Socket::TryReopen() {
    if (port_.SetDtr(true) && port_.SetRts(true) && port_.Open()) {
        // Whatever is in the socket now gets an attempt of its own: what was
        // under way when the adapter went is not carried on.
        engine_.PortOpened();
        present_.clear();
        SetPhase(Phase::Empty);
        Identify(Step::Poll);
        return;
    }
    if (port_.IsOpen()) port_.Close();
    pollTimer_.SetInterval(config_.reopenMs);
    pollTimer_.Start();
}

void Socket::RequestStop() {
    if (end_ != JobEnd::Running) return;
    stopping_ = true;
    engine_.Stop();
    pollTimer_.Stop();
    if (attemptOpen_) FinishAttempt(record::Result::Interrupted, record::Step::None, "interrupted");
    EndJob(JobEnd::Stopped);
}

void Socket::EndJob(JobEnd end) {
    if (end_ != JobEnd::Running) return;
    end_ = end;
    engine_.Stop();
    pollTimer_.Stop();
    step_ = Step::Idle;
    if (phase_ != Phase::Passed && phase_ != Phase::Failed) SetPhase(Phase::Done);
    observer_.OnJobEnded(*this);
}

// --- The engine's reports ----------------------------------------------------

void Socket::OnVersion(const std::string& version, bool) {
    otherVersion_ = version;
    if (attemptOpen_ && attempt_.version.empty()) attempt_.version = version;
}

void Socket::OnIdentity(const module::Identity& identity) {
    // The write reads the identity again before it stores anything: another
    // module in the socket by now must not get this one's channels, nor
    // its record.
    if (step_ == Step::Write && attemptOpen_ && identity.serial != serial_) {
        engine_.Stop();
        FinishAttempt(record::Result::Fail, record::Step::Serial,
                      "the module changed before the write (serial " + serial_ + ", then " +
                          identity.serial + ")");
        // The module now in the socket was not written: it gets its own attempt.
        present_.clear();
        CarryOn();
    }
}

void Socket::OnChannelEchoed(int, bool matches) {
    if (matches && progress_ < 4) ++progress_;
    if (phase_ == Phase::Writing) observer_.OnPhase(*this);
}

void Socket::OnChannelReadBack(int channel, bool, const std::vector<std::string>& values) {
    if (!attemptOpen_ || channel < 0 || channel > 3) return;
    std::string joined;
    for (const std::string& v : values) joined += (joined.empty() ? "" : ",") + v;
    attempt_.readBack[static_cast<std::size_t>(channel)] = joined;
}

void Socket::OnPortFailed(const std::string& reason) {
    portError_ = reason;
    if (attemptOpen_)
        FinishAttempt(record::Result::Fail, record::Step::Port, "Com port Error! (" + reason + ")");
    present_.clear();
    if (end_ != JobEnd::Running) return;
    if (config_.job != Job::Station || stopping_) {
        EndJob(JobEnd::PortFailed);
        return;
    }
    step_ = Step::Reopen;
    SetPhase(Phase::AdapterMissing);
    pollTimer_.SetInterval(config_.reopenMs);
    pollTimer_.Start();
}

void Socket::OnFinished(const module::Result& r) {
    // A failed port was handled as the engine reported it.
    if (r.outcome == Outcome::PortError) return;
    if (r.outcome == Outcome::Stopped || end_ != JobEnd::Running) return;
    switch (step_) {
        case Step::Poll:
        case Step::Identify:
        case Step::OtherKind:
            OnIdentityRead(r);
            return;
        case Step::Write:
            if (r.outcome != Outcome::Ok) {
                const std::string unstored = FirstUnconfirmed(r);
                FinishAttempt(record::Result::Fail, record::Step::Write,
                              WhatFailed(r) + " (write: " +
                                  (unstored.empty() ? "refused" : unstored + " not stored") + ")");
                break;
            }
            if (config_.verify) {
                step_ = Step::Check;
                SetPhase(Phase::Checking);
                engine_.StartCheck();
            } else {
                step_ = Step::Confirm;
                SetPhase(Phase::Confirming);
                engine_.StartIdentity();
            }
            return;
        case Step::Check:
            if (r.outcome != Outcome::Ok) {
                FinishAttempt(record::Result::Fail, record::Step::Check,
                              WhatFailed(r) + " (check: " + FirstUnconfirmed(r) +
                                  " does not read back as planned)");
                break;
            }
            if (config_.job == Job::Check) {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
                break;
            }
            step_ = Step::Confirm;
            SetPhase(Phase::Confirming);
            engine_.StartIdentity();
            return;
        case Step::Confirm: {
            const module::Identity& id = engine_.LastIdentity();
            if (r.outcome != Outcome::Ok || !id.serialValid) {
                FinishAttempt(record::Result::Fail, record::Step::Serial,
                              "no identity after the write (" + WhatFailed(r) + ")");
            } else if (id.serial != serial_) {
                FinishAttempt(record::Result::Fail, record::Step::Serial,
                              "the module changed during the write (serial " + serial_ +
                                  " before, " + id.serial + " after)");
                present_.clear();
            } else {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
            }
            break;
        }
        case Step::Test:
            if (r.outcome == Outcome::Ok) {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
            } else {
                FinishAttempt(record::Result::Fail, record::Step::Test,
                              WhatFailed(r) + " (test of Ch" + std::to_string(r.channel) + ")");
            }
            break;
        case Step::Idle:
        case Step::Reopen:
            return;
    }
    CarryOn();
}

record::Operation Socket::Operation() const {
    switch (config_.job) {
        case Job::Info:
            return record::Operation::Info;
        case Job::Check:
            return record::Operation::Check;
        case Job::Test:
            return record::Operation::Test;
        case Job::Write:
        case Job::Station:
            break;
    }
    return config_.verify ? record::Operation::Write : record::Operation::WriteUnverified;
}

void Socket::CarryOn() {
    if (end_ != JobEnd::Running) return;
    if (config_.job == Job::Station) {
        SchedulePoll();
    } else {
        EndJob(JobEnd::Done);
    }
}

void Socket::OnIdentityRead(const module::Result& r) {
    const bool station = config_.job == Job::Station;
    if (r.outcome == Outcome::WrongKind) {
        const module::Kind* other = module::KindByLetter(otherVersion_.empty() ? 0 : otherVersion_[0]);
        if (step_ != Step::OtherKind && other && !config_.fixedKind && !switchedKind_) {
            // Whichever kind answers is written, one switch per identity read.
            engine_.SetKind(*other);
            ownKind_ = other;
            const Step step = step_;
            Identify(step);
            switchedKind_ = true;
            return;
        }
        if (step_ != Step::OtherKind && other) {
            // Read it as what it is, so its row names its serial.
            const std::string version = otherVersion_;
            engine_.SetKind(*other);
            step_ = Step::OtherKind;
            engine_.StartIdentity();
            otherVersion_ = version;
            return;
        }
        OnWrongKind();
        return;
    }
    if (step_ == Step::OtherKind) {
        OnWrongKind();
        return;
    }
    if (r.outcome != Outcome::Ok) {
        if (station) {
            present_.clear();  // the socket is empty
            if (phase_ != Phase::Empty) SetPhase(Phase::Empty);
            SchedulePoll();
            return;
        }
        if (autoPort_) {
            EndJob(JobEnd::NoModule);
            return;
        }
        BeginAttempt(Operation());
        FinishAttempt(record::Result::Fail, record::Step::Identity,
                      WhatFailed(r) + " (no identity from the module)");
        EndJob(JobEnd::Done);
        return;
    }
    const module::Identity& id = engine_.LastIdentity();
    const std::string seen = id.serialValid ? id.serial : "?" + id.serial;
    if (station && seen == present_) {
        SchedulePoll();  // still the same module: wait until it is gone
        return;
    }
    present_ = seen;
    OnModule();
}

void Socket::OnWrongKind() {
    const module::Kind* reported = &engine_.ModuleKind();
    const module::Identity id = engine_.LastIdentity();
    const bool known = step_ == Step::OtherKind && engine_.HasSerial();
    engine_.SetKind(*ownKind_);
    const std::string seen = "other:" + (known ? id.serial : otherVersion_);
    if (config_.job == Job::Station && seen == present_) {
        SchedulePoll();
        return;
    }
    present_ = seen;
    BeginAttempt(Operation());
    attempt_.kind = reported->name;
    attempt_.serial = known ? id.serial : std::string();
    attempt_.version = otherVersion_;
    FinishAttempt(record::Result::Fail, record::Step::Identity,
                  "Target error!! (the module is a " + reported->description + ", not a " +
                      ownKind_->description + ")");
    CarryOn();
}

void Socket::OnModule() {
    const module::Kind& kind = engine_.ModuleKind();
    const module::Identity& id = engine_.LastIdentity();
    const bool station = config_.job == Job::Station;
    const record::Operation operation = Operation();
    const bool writes = config_.job == Job::Write || station;
    if (config_.job != Job::Info && !acceptedKinds_.count(kind.letter)) {
        if (!observer_.AcceptPlan(*this, kind)) {
            EndJob(JobEnd::PlanRefused);
            return;
        }
        acceptedKinds_.insert(kind.letter);
    }
    if (!id.serialValid && writes) {
        // A reply without the module's number would let the next such
        // module pass for this one.
        BeginAttempt(operation);
        FinishAttempt(record::Result::Fail, record::Step::Identity,
                      "no serial number (the identity reply holds none)");
        CarryOn();
        return;
    }
    if (station && !config_.again) {
        const std::string key = std::string(1, kind.letter) + id.serial;
        if (passedNow_.count(key)) {
            Skip(id.serial + " passed in this run");
            return;
        }
        if (const auto prior = sink_.PassedBefore(kind.name, id.serial, config_.plan)) {
            std::string where = "station " + prior->station;
            if (prior->socket > 0) where += ", socket " + std::to_string(prior->socket);
            Skip(id.serial + " passed before (" + where + ", " + prior->startedAt + ")");
            return;
        }
    }
    BeginAttempt(operation);
    if (!attemptOpen_) return;
    switch (config_.job) {
        case Job::Info:
            FinishAttempt(record::Result::Pass, record::Step::None, "");
            EndJob(JobEnd::Done);
            return;
        case Job::Check:
            step_ = Step::Check;
            SetPhase(Phase::Checking);
            engine_.StartCheck();
            return;
        case Job::Test:
            step_ = Step::Test;
            SetPhase(Phase::Testing);
            engine_.StartTest(config_.testChannel);
            return;
        case Job::Write:
        case Job::Station:
            step_ = Step::Write;
            progress_ = 0;
            SetPhase(Phase::Writing);
            engine_.StartWrite();
            return;
    }
}

void Socket::Skip(const std::string& message) {
    BeginAttempt(record::Operation::Write);
    if (!attemptOpen_) return;  // the record said why, and the socket carried on
    FinishAttempt(record::Result::Skipped, record::Step::None, message);
    CarryOn();
}

void Socket::BeginAttempt(record::Operation operation) {
    const module::Identity& id = engine_.LastIdentity();
    attempt_ = {};
    attempt_.attemptId = record::NewAttemptId();
    attempt_.startedAt = record::IsoTimeNow();
    attempt_.station = config_.station;
    attempt_.socket = config_.number;
    attempt_.port = config_.port;
    attempt_.device = config_.device;
    attempt_.kind = engine_.ModuleKind().name;
    attempt_.serial = engine_.HasSerial() ? id.serial : std::string();
    attempt_.version = engine_.Version();
    if (operation != record::Operation::Info) attempt_.channels = config_.plan;
    attempt_.operation = operation;
    attempt_.result = record::Result::Running;
    attempt_.toolVersion = config_.toolVersion;
    attempt_.operatorName = config_.operatorName;
    serial_ = attempt_.serial;
    attemptStarted_ = std::chrono::steady_clock::now();
    const record::BeginResult begun = sink_.Begin(attempt_);
    if (!begun.busyAt.empty()) {
        // Another station is writing this serial: the record has its skip
        // row already; this one leaves the module alone.
        last_ = attempt_;
        last_.result = record::Result::Skipped;
        last_.message = attempt_.serial + " " + begun.busyAt;
        observer_.OnAttempt(*this, last_, true, "");
        CarryOn();
        return;
    }
    if (!begun.ok) {
        last_ = attempt_;
        last_.result = record::Result::Fail;
        last_.message = begun.error;
        observer_.OnAttempt(*this, last_, false, begun.error);
        EndJob(JobEnd::RecordFailed);
        return;
    }
    note_ = begun.note;
    attemptOpen_ = true;
}

void Socket::FinishAttempt(record::Result result, record::Step failedStep,
                           const std::string& message) {
    if (!attemptOpen_) return;
    attemptOpen_ = false;
    attempt_.result = result;
    attempt_.failedStep = failedStep;
    attempt_.message = message;
    // A decision made without the line's record says so in its row.
    if (!note_.empty() && message.find(note_) == std::string::npos) {
        attempt_.message += (message.empty() ? "" : "; ") + note_;
    }
    attempt_.durationMs = MsSince(attemptStarted_);
    std::string error;
    const bool logged = sink_.Finish(attempt_, &error);
    last_ = attempt_;
    if (result == record::Result::Pass &&
        (attempt_.operation == record::Operation::Write ||
         attempt_.operation == record::Operation::WriteUnverified)) {
        passedNow_.insert(std::string(1, engine_.ModuleKind().letter) + attempt_.serial);
    }
    if (result == record::Result::Pass) {
        SetPhase(Phase::Passed);
    } else if (result == record::Result::Fail || result == record::Result::Interrupted) {
        SetPhase(Phase::Failed);
    }
    observer_.OnAttempt(*this, last_, logged, error);
    if (!logged) EndJob(JobEnd::RecordFailed);
}

}  // namespace station
