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

std::string FirstUnconfirmed(const module::Result& r, int channels) {
    for (int c = 0; c < channels; ++c) {
        if (!r.confirmed[static_cast<std::size_t>(c)]) return "Ch" + std::to_string(c);
    }
    return {};
}

}  // namespace

Socket::Socket(SocketConfig config, wire::SerialPort& port, module::TimerBackend& timers,
               record::Recorder& record, SocketObserver& observer)
    : config_(std::move(config)),
      port_(port),
      record_(record),
      observer_(observer),
      engine_(
          config_.fixedKind ? *config_.fixedKind : *module::Kinds().front(), port, timers,
          [this](int channel) { return Rows(channel); }, *this),
      ownKind_(&engine_.ModuleKind()),
      self_(std::make_shared<Socket*>(this)) {
    pollTimer_.Attach(&timers);
}

Socket::~Socket() {
    *self_ = nullptr;
    engine_.Stop();
    pollTimer_.Stop();
}

std::vector<std::string> Socket::Rows(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(config_.plan.size())) return {};
    return engine_.ModuleKind()
        .synthesize(config_.plan[static_cast<std::size_t>(channel)])
        .registers;
}

void Socket::SetPhase(Phase phase) {
    phase_ = phase;
    observer_.OnPhase(*this);
}

bool Socket::Holding() const {
    return phase_ == Phase::Passed || phase_ == Phase::Failed || phase_ == Phase::NotRecorded ||
           phase_ == Phase::Skipped;
}

bool Socket::InAttempt() const {
    return attemptOpen_ || step_ == Step::Opening || step_ == Step::Closing;
}

std::string Socket::PhaseText() const {
    switch (phase_) {
        case Phase::Empty:
            return end_ == JobEnd::PortFailed ? "adapter missing" : "empty";
        case Phase::Reading:
            return "reading";
        case Phase::Waiting:
            return config_.trigger && !triggered_ ? "waiting for start" : "waiting (paused)";
        case Phase::Recording:
            return "recording";
        case Phase::Writing:
            // Every channel echoed: the write's last answers are awaited, and
            // no channel is being written any more.
            if (progress_ >= static_cast<int>(config_.plan.size()))
                return "writing: all " + std::to_string(config_.plan.size()) + " echoed";
            return "writing Ch" + std::to_string(progress_);
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
        case Phase::NotRecorded:
            return "NOT RECORDED: " + last_.message;
        case Phase::Skipped:
            return "SKIPPED: " + last_.message;
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
    // A result stays shown until the module is taken out.
    if (!Holding() && phase_ != Phase::Waiting) SetPhase(Phase::Reading);
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
    if (step_ != Step::Poll) return;
    Identify(Step::Poll);
}

void Socket::TryReopen() {
    if (port_.SetDtr(true) && port_.SetRts(true) && port_.Open()) {
        // Whatever is in the socket now gets an attempt of its own: what was
        // under way when the adapter went is not carried on.
        engine_.PortOpened();
        present_.clear();
        observer_.OnAdapter(*this, true, "");
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
    if (attemptOpen_) {
        FinishAttempt(record::Result::Interrupted, record::Step::None, "interrupted");
        return;
    }
    // Waiting for the record: the job ends with its answer.
    if (step_ == Step::Opening || step_ == Step::Closing) return;
    EndJob(JobEnd::Stopped);
}

void Socket::FinishJob() {
    if (end_ != JobEnd::Running) return;
    finishing_ = true;
    if (!InAttempt()) EndJob(JobEnd::Done);
}

void Socket::Trigger() {
    if (!config_.trigger || end_ != JobEnd::Running) return;
    triggered_ = true;
    // A module waiting for its start is read again at once.
    if (step_ == Step::Poll && phase_ == Phase::Waiting) {
        pollTimer_.Stop();
        Identify(Step::Poll);
    }
}

void Socket::EndJob(JobEnd end) {
    if (end_ != JobEnd::Running) return;
    end_ = end;
    engine_.Stop();
    pollTimer_.Stop();
    step_ = Step::Idle;
    if (!Holding()) SetPhase(Phase::Done);
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
                          identity.serial + ")",
                      [this] {
                          // The module now in the socket was not written: it
                          // gets its own attempt.
                          present_.clear();
                          CarryOn();
                      });
    }
}

void Socket::OnChannelEchoed(int, bool matches) {
    if (matches && progress_ < static_cast<int>(config_.plan.size())) ++progress_;
    if (phase_ == Phase::Writing) observer_.OnPhase(*this);
}

void Socket::OnChannelReadBack(int channel, bool, const std::vector<std::string>& values) {
    if (!attemptOpen_ || channel < 0 || channel >= static_cast<int>(attempt_.readBack.size()))
        return;
    std::string joined;
    for (const std::string& v : values) joined += (joined.empty() ? "" : ",") + v;
    attempt_.readBack[static_cast<std::size_t>(channel)] = joined;
}

void Socket::OnPortFailed(const std::string& reason) {
    portError_ = reason;
    const auto afterwards = [this, reason] {
        present_.clear();
        if (end_ != JobEnd::Running) return;
        if (config_.job != Job::Station || stopping_) {
            EndJob(JobEnd::PortFailed);
            return;
        }
        observer_.OnAdapter(*this, false, reason);
        step_ = Step::Reopen;
        SetPhase(Phase::AdapterMissing);
        pollTimer_.SetInterval(config_.reopenMs);
        pollTimer_.Start();
    };
    if (attemptOpen_) {
        FinishAttempt(record::Result::Fail, record::Step::Port, "Com port Error! (" + reason + ")",
                      afterwards);
        return;
    }
    // The record is being asked: what it answers decides, then the socket
    // waits for its adapter.
    if (step_ == Step::Opening || step_ == Step::Closing) {
        portLost_ = true;
        return;
    }
    afterwards();
}

void Socket::OnFinished(const module::Result& r) {
    // A failed port was handled as the engine reported it.
    if (r.outcome == Outcome::PortError) return;
    if (r.outcome == Outcome::Stopped || end_ != JobEnd::Running) return;
    const int channels = static_cast<int>(config_.plan.size());
    switch (step_) {
        case Step::Poll:
        case Step::Identify:
        case Step::OtherKind:
            OnIdentityRead(r);
            return;
        case Step::Write:
            writeMs_ = MsSince(writeStarted_);
            if (r.outcome != Outcome::Ok) {
                const std::string unstored = FirstUnconfirmed(r, channels);
                const std::string why = unstored.empty() ? "refused"
                                        : r.late
                                            ? unstored + " not stored: its answer came too late"
                                            : unstored + " not stored";
                FinishAttempt(record::Result::Fail, record::Step::Write,
                              WhatFailed(r) + " (write: " + why + ")");
                return;
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
                const std::string channel = FirstUnconfirmed(r, channels);
                // A reply that came after its tick had given up is no
                // discrepancy of the module's memory: say what happened.
                const std::string why = r.late ? channel + "'s answer came too late"
                                        : r.outcome == Outcome::NoResponse
                                            ? channel + " did not answer in time"
                                            : channel + " does not read back as planned";
                FinishAttempt(record::Result::Fail, record::Step::Check,
                              WhatFailed(r) + " (check: " + why + ")");
                return;
            }
            if (config_.job == Job::Check) {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
                return;
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
                                  " before, " + id.serial + " after)",
                              [this] {
                                  present_.clear();
                                  CarryOn();
                              });
            } else {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
            }
            return;
        }
        case Step::Test:
            if (r.outcome == Outcome::Ok) {
                FinishAttempt(record::Result::Pass, record::Step::None, "");
            } else {
                FinishAttempt(record::Result::Fail, record::Step::Test,
                              WhatFailed(r) + " (test of Ch" + std::to_string(r.channel) + ")");
            }
            return;
        case Step::Idle:
        case Step::Opening:
        case Step::Closing:
        case Step::Reopen:
            return;
    }
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
    if (stopping_) {
        EndJob(JobEnd::Stopped);
    } else if (config_.job != Job::Station || finishing_) {
        EndJob(JobEnd::Done);
    } else {
        SchedulePoll();
    }
}

void Socket::OnIdentityRead(const module::Result& r) {
    const bool station = config_.job == Job::Station;
    if (r.outcome == Outcome::WrongKind) {
        const module::Kind* other =
            module::KindByLetter(otherVersion_.empty() ? 0 : otherVersion_[0]);
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
            if (finishing_) {
                EndJob(JobEnd::Done);
                return;
            }
            SchedulePoll();
            return;
        }
        if (autoPort_) {
            EndJob(JobEnd::NoModule);
            return;
        }
        BeginAttempt(Operation(), [this, r] {
            FinishAttempt(record::Result::Fail, record::Step::Identity,
                          WhatFailed(r) + " (no identity from the module)");
        });
        return;
    }
    const module::Identity& id = engine_.LastIdentity();
    const std::string seen = id.serialValid ? id.serial : "?" + id.serial;
    if (station && seen == present_) {
        SchedulePoll();  // still the same module: wait until it is gone
        return;
    }
    if (station) {
        switch (observer_.MayBegin(*this)) {
            case Gate::Go:
                break;
            case Gate::Wait:
                // Not taken yet: the module is read again at the next poll.
                if (phase_ != Phase::Waiting) SetPhase(Phase::Waiting);
                SchedulePoll();
                return;
            case Gate::End:
                EndJob(JobEnd::Done);
                return;
        }
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
    // A module of the other kind whose serial did not come this time (taken
    // out halfway through the read) is the one already failed, not another.
    const bool stillThere = !known && present_.rfind("other:", 0) == 0;
    if (config_.job == Job::Station && (seen == present_ || stillThere)) {
        SchedulePoll();
        return;
    }
    present_ = seen;
    const std::string message = "Target error!! (the module is a " + reported->description +
                                ", not a " + ownKind_->description + ")";
    // The row names what the module said it is.
    pending_.kind = reported->name;
    pending_.serial = known ? id.serial : std::string();
    pending_.version = otherVersion_;
    pending_.set = true;
    BeginAttempt(Operation(), [this, message] {
        FinishAttempt(record::Result::Fail, record::Step::Identity, message);
    });
}

void Socket::OnModule() {
    const module::Kind& kind = engine_.ModuleKind();
    const module::Identity& id = engine_.LastIdentity();
    const bool station = config_.job == Job::Station;
    const record::Operation operation = Operation();
    const bool writes = config_.job == Job::Write || station;
    if (config_.job != Job::Info && !acceptedKinds_.count(kind.letter)) {
        if (!observer_.AcceptPlan(*this, kind)) {
            if (!station) {
                EndJob(JobEnd::PlanRefused);
                return;
            }
            // A station's other sockets may hold modules of a kind the plan
            // suits: this module fails with the reason, and the socket goes on.
            std::string why;
            for (const std::string& p : PlanProblems(kind, config_.plan)) {
                why += (why.empty() ? "" : "; ") + p;
            }
            BeginAttempt(operation, [this, why] {
                FinishAttempt(record::Result::Fail, record::Step::Plan,
                              "plan refused for this kind: " + why);
            });
            return;
        }
        acceptedKinds_.insert(kind.letter);
    }
    if (!id.serialValid && writes) {
        // A reply without the module's number would let the next such
        // module pass for this one.
        BeginAttempt(operation, [this] {
            FinishAttempt(record::Result::Fail, record::Step::Identity,
                          "no serial number (the identity reply holds none)");
        });
        return;
    }
    if (station && !config_.again && passedNow_.count(std::string(1, kind.letter) + id.serial)) {
        const std::string message = id.serial + " passed in this run";
        BeginAttempt(record::Operation::Write, [this, message] {
            FinishAttempt(record::Result::Skipped, record::Step::None, message);
        });
        return;
    }
    switch (config_.job) {
        case Job::Info:
            BeginAttempt(operation,
                         [this] { FinishAttempt(record::Result::Pass, record::Step::None, ""); });
            return;
        case Job::Check:
            BeginAttempt(operation, [this] {
                step_ = Step::Check;
                SetPhase(Phase::Checking);
                engine_.StartCheck();
            });
            return;
        case Job::Test:
            BeginAttempt(operation, [this] {
                step_ = Step::Test;
                SetPhase(Phase::Testing);
                engine_.StartTest(config_.testChannel);
            });
            return;
        case Job::Write:
        case Job::Station:
            // A station asks the record whether the module passed before in
            // the same request that makes its running row.
            BeginAttempt(
                operation, [this] { Write(); }, station && !config_.again);
            return;
    }
}

void Socket::Write() {
    step_ = Step::Write;
    progress_ = 0;
    writeStarted_ = std::chrono::steady_clock::now();
    SetPhase(Phase::Writing);
    engine_.StartWrite();
}

void Socket::BeginAttempt(record::Operation operation, std::function<void()> go, bool checkPassed) {
    const module::Identity& id = engine_.LastIdentity();
    attempt_ = {};
    attempt_.attemptId = record::NewAttemptId();
    attempt_.startedAt = record::IsoTimeNow();
    attempt_.station = config_.station;
    attempt_.stationId = config_.stationId;
    attempt_.socket = config_.number;
    attempt_.port = config_.port;
    attempt_.device = config_.device;
    attempt_.kind = engine_.ModuleKind().name;
    // A serial that was not read (a reply without six hex digits) is none:
    // the digits the windows show for it are no module's number.
    attempt_.serial = engine_.HasSerial() && id.serialValid ? id.serial : std::string();
    attempt_.version = engine_.Version();
    if (operation != record::Operation::Info) {
        attempt_.channels = config_.plan;
        attempt_.readBack.assign(config_.plan.size(), std::string());
    }
    attempt_.operation = operation;
    attempt_.result = record::Result::Running;
    attempt_.toolVersion = config_.toolVersion;
    attempt_.operatorName = config_.operatorName;
    if (pending_.set) {
        attempt_.kind = pending_.kind;
        attempt_.serial = pending_.serial;
        attempt_.version = pending_.version;
        pending_ = {};
    }
    serial_ = attempt_.serial;
    attemptStarted_ = std::chrono::steady_clock::now();
    writeMs_ = -1;
    note_.clear();
    go_ = std::move(go);
    step_ = Step::Opening;
    SetPhase(Phase::Recording);
    if (config_.trigger) triggered_ = false;  // the start is used up
    const std::weak_ptr<Socket*> self = self_;
    record_.Open(attempt_, checkPassed, [self](const record::OpenAnswer& a) {
        if (const auto socket = self.lock(); socket && *socket) (*socket)->OnOpened(a);
    });
}

void Socket::OnOpened(const record::OpenAnswer& a) {
    if (step_ != Step::Opening) return;
    step_ = Step::Idle;
    using O = record::OpenAnswer::Outcome;
    if (a.outcome == O::Go) {
        note_ = a.note;
        attemptOpen_ = true;
        observer_.OnAttemptBegun(*this, attempt_);
        if (stopping_ || portLost_) {
            const bool lost = portLost_;
            portLost_ = false;
            if (lost) {
                OnPortFailed(portError_);
            } else {
                FinishAttempt(record::Result::Interrupted, record::Step::None, "interrupted");
            }
            return;
        }
        auto go = std::move(go_);
        go_ = nullptr;
        go();
        return;
    }
    go_ = nullptr;
    last_ = attempt_;
    last_.durationMs = MsSince(attemptStarted_);
    lastWriteMs_ = -1;
    if (a.outcome == O::Failed) {
        last_.result = record::Result::Fail;
        last_.failedStep = record::Step::Record;
        last_.message = a.error;
        SetPhase(Phase::NotRecorded);
        observer_.OnAttempt(*this, last_, false, a.error);
        EndJob(JobEnd::RecordFailed);
        return;
    }
    // Left alone: it passed before, or another station is writing it. The
    // record holds its skip row; the socket shows why until it is taken out.
    last_.result = record::Result::Skipped;
    last_.message = a.outcome == O::Skipped ? record::PassedBeforeMessage(last_.serial, *a.prior)
                                            : last_.serial + " " + a.busyAt;
    SetPhase(Phase::Skipped);
    observer_.OnAttempt(*this, last_, true, "");
    AfterRecord();
}

void Socket::FinishAttempt(record::Result result, record::Step failedStep,
                           const std::string& message, std::function<void()> next) {
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
    next_ = std::move(next);
    step_ = Step::Closing;
    SetPhase(Phase::Recording);
    const std::weak_ptr<Socket*> self = self_;
    const record::Attempt closed = attempt_;
    record_.Close(closed, [self, closed](const record::CloseAnswer& a) {
        if (const auto socket = self.lock(); socket && *socket) (*socket)->OnClosed(closed, a);
    });
}

void Socket::OnClosed(const record::Attempt& attempt, const record::CloseAnswer& a) {
    if (step_ != Step::Closing) return;
    step_ = Step::Idle;
    last_ = attempt;
    lastWriteMs_ = writeMs_;
    if (!a.kept) {
        // A module is good only once its row is kept: this one is neither
        // passed nor failed, and the station takes no more modules.
        next_ = nullptr;
        SetPhase(Phase::NotRecorded);
        observer_.OnAttempt(*this, last_, false, a.error);
        EndJob(JobEnd::RecordFailed);
        return;
    }
    const bool writes = attempt.operation == record::Operation::Write ||
                        attempt.operation == record::Operation::WriteUnverified;
    if (attempt.result == record::Result::Pass && writes) {
        passedNow_.insert(std::string(1, engine_.ModuleKind().letter) + attempt.serial);
    }
    if (attempt.result == record::Result::Pass) {
        SetPhase(Phase::Passed);
    } else if (attempt.result == record::Result::Skipped) {
        SetPhase(Phase::Skipped);
    } else {
        SetPhase(Phase::Failed);
    }
    observer_.OnAttempt(*this, last_, true, "");
    AfterRecord();
}

void Socket::AfterRecord() {
    if (portLost_) {
        portLost_ = false;
        next_ = nullptr;
        OnPortFailed(portError_);
        return;
    }
    auto next = std::move(next_);
    next_ = nullptr;
    if (next) {
        next();
    } else {
        CarryOn();
    }
}

}  // namespace station
