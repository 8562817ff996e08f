#include "record_worker.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace record {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct RecordWorker::Core {
    struct Job {
        enum class Kind { Start, Open, Close } kind = Kind::Start;
        Attempt attempt;
        bool checkPassed = false;
        std::function<void(const std::string&)> started;
        std::function<void(const OpenAnswer&)> opened;
        std::function<void(const CloseAnswer&)> closed;
        // How far an Open got before the record turned busy: a skip row
        // begun is not begun twice.
        int stage = 0;
        std::optional<PriorPass> prior;
        Attempt skip;
        Clock::time_point firstTry{};
        bool tried = false;
    };

    SinkFactory factory;
    std::function<void()> wake;
    int flushMs = 1000;
    int busyLimitMs = 120000;
    int busyRetryMs = 200;

    std::unique_ptr<Sink> sink;  // used on the worker's thread only
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Job>> jobs;
    std::deque<std::function<void()>> answers;
    RecordState state;
    bool quit = false;
    bool working = false;  // a job is off the queue and not yet answered
    bool busy = false;     // the head job waits for a locked record
    std::thread thread;

    void Answer(std::function<void()> answer) {
        // Under the lock, so that no wake reaches an owner that has gone: the
        // owner's destructor clears it under the same lock.
        std::lock_guard<std::mutex> lock(mutex);
        answers.push_back(std::move(answer));
        if (wake) wake();
    }

    // The sink's figures, copied for the other threads.
    void Refresh() {
        RecordState s;
        if (sink) {
            s.describe = sink->Describe();
            s.unsent = sink->Unsent();
            s.spooling = sink->Spooling();
            s.problem = sink->Problem();
            s.warning = sink->Warning();
        }
        std::lock_guard<std::mutex> lock(mutex);
        s.errors = state.errors;
        s.busy = busy;
        s.waiting = static_cast<int>(jobs.size()) + (working ? 1 : 0);
        if (s.describe.empty()) s.describe = state.describe;
        state = s;
    }

    void CountError() {
        std::lock_guard<std::mutex> lock(mutex);
        ++state.errors;
    }

    // False when the record is busy and the job must be tried again later.
    bool Run(Job& job) {
        if (!job.tried) {
            job.tried = true;
            job.firstTry = Clock::now();
        }
        const bool mayWait =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - job.firstTry)
                .count() < busyLimitMs;
        switch (job.kind) {
            case Job::Kind::Start: {
                std::string error;
                sink = factory(&error);
                if (!sink && error.empty()) error = "the production record cannot be opened";
                Refresh();
                auto done = std::move(job.started);
                Answer([done, error] { done(error); });
                return true;
            }
            case Job::Kind::Open:
                return RunOpen(job, mayWait);
            case Job::Kind::Close: {
                CloseAnswer a;
                if (!sink) {
                    a.error = "the production record is not open";
                } else {
                    a.kept = sink->Finish(job.attempt, &a.error);
                    if (!a.kept && sink->Retryable() && mayWait) return false;
                    if (!a.kept && a.error.empty()) a.error = "the row could not be kept";
                }
                if (!a.kept) CountError();
                auto done = std::move(job.closed);
                Answer([done, a] { done(a); });
                return true;
            }
        }
        return true;
    }

    bool RunOpen(Job& job, bool mayWait) {
        OpenAnswer a;
        const auto fail = [&](std::string why) {
            a.outcome = OpenAnswer::Outcome::Failed;
            a.error = why.empty() ? "the row could not be kept" : std::move(why);
            CountError();
        };
        if (!sink) {
            fail("the production record is not open");
        } else {
            // Stage 0: was it passed before? 1: its skip row; 3: the
            // attempt's own row; 4: answered.
            if (job.stage == 0) {
                if (job.checkPassed && !job.attempt.serial.empty()) {
                    job.prior = sink->PassedBefore(job.attempt.kind, job.attempt.serial,
                                                   job.attempt.channels);
                    // A locked record did not answer: not "never passed".
                    if (!job.prior && sink->Retryable() && mayWait) return false;
                }
                job.stage = job.prior ? 1 : 3;
                if (job.prior) {
                    job.skip = job.attempt;
                    job.skip.operation = Operation::Write;
                }
            }
            if (job.stage == 1) {
                Attempt skipped = job.skip;
                skipped.result = Result::Skipped;
                skipped.message = PassedBeforeMessage(skipped.serial, *job.prior);
                std::string why;
                if (!sink->Skip(skipped, &why)) {
                    if (sink->Retryable() && mayWait) return false;
                    fail(why);
                } else {
                    a.outcome = OpenAnswer::Outcome::Skipped;
                    a.prior = job.prior;
                }
                job.stage = 4;
            }
            if (job.stage == 3) {
                const BeginResult b = sink->Begin(job.attempt);
                if (!b.ok && b.busyAt.empty() && sink->Retryable() && mayWait) return false;
                if (!b.busyAt.empty()) {
                    a.outcome = OpenAnswer::Outcome::Busy;
                    a.busyAt = b.busyAt;
                } else if (!b.ok) {
                    fail(b.error);
                } else {
                    a.outcome = OpenAnswer::Outcome::Go;
                    a.note = b.note;
                }
                job.stage = 4;
            }
        }
        auto done = std::move(job.opened);
        Answer([done, a] { done(a); });
        return true;
    }

    void Post(std::unique_ptr<Job> job) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (jobs.size() >= kQueueLimit) {
                // Each socket waits for its own answer, so the queue holds at most
                // one request a socket; a full one means the record is gone.
                auto refuse = [&job] {
                    if (job->opened) {
                        OpenAnswer a;
                        a.error = "the record is not answering (too many requests waiting)";
                        auto done = std::move(job->opened);
                        return std::function<void()>([done, a] { done(a); });
                    }
                    CloseAnswer a;
                    a.error = "the record is not answering (too many requests waiting)";
                    auto done = std::move(job->closed);
                    return std::function<void()>([done, a] { done(a); });
                }();
                answers.push_back(std::move(refuse));
                ++state.errors;
                if (wake) wake();
            } else {
                jobs.push_back(std::move(job));
                state.waiting = static_cast<int>(jobs.size()) + (working ? 1 : 0);
            }
        }
        changed.notify_all();
    }

    // Takes the head job and runs it; false when there was none or the
    // record is busy (the job stays first, in order).
    bool RunHead() {
        std::unique_ptr<Job> job;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (jobs.empty()) return false;
            job = std::move(jobs.front());
            jobs.pop_front();
            working = true;
        }
        const bool done = Run(*job);
        {
            std::lock_guard<std::mutex> lock(mutex);
            working = false;
            busy = !done;
            if (!done) jobs.push_front(std::move(job));
        }
        Refresh();
        changed.notify_all();
        return done;
    }

    void Loop() {
        auto lastFlush = Clock::now();
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                const auto wait = std::chrono::milliseconds(busy ? busyRetryMs : flushMs);
                if (!quit && (jobs.empty() || busy)) changed.wait_for(lock, wait);
                if (quit && jobs.empty()) break;
                if (busy) busy = false;  // try the head again
            }
            if (!RunHead()) {
                // Idle: rows a database could not take yet are sent while the
                // line runs, never on the wire's thread.
                if (sink && Clock::now() - lastFlush >= std::chrono::milliseconds(flushMs)) {
                    sink->Flush();
                    lastFlush = Clock::now();
                    Refresh();
                }
            }
        }
        if (sink) sink->Flush();
        sink.reset();
    }
};

std::string PassedBeforeMessage(const std::string& serial, const PriorPass& prior) {
    std::string where = "station " + prior.station;
    if (prior.socket > 0) where += ", socket " + std::to_string(prior.socket);
    return serial + " passed before (" + where + ", " + prior.startedAt + ")";
}

RecordWorker::RecordWorker(SinkFactory factory, std::function<void()> wake, Mode mode, int flushMs)
    : core_(std::make_shared<Core>()), mode_(mode) {
    core_->factory = std::move(factory);
    core_->wake = std::move(wake);
    core_->flushMs = flushMs;
    if (mode_ == Mode::Thread) {
        std::shared_ptr<Core> core = core_;
        core_->thread = std::thread([core] { core->Loop(); });
    }
}

RecordWorker::~RecordWorker() {
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->quit = true;
        core_->wake = nullptr;
    }
    core_->changed.notify_all();
    if (mode_ == Mode::Inline) {
        core_->sink.reset();
        return;
    }
    // A record that never answers (a server stopped mid-statement) must not
    // keep the program from ending: its thread is left to finish alone, and
    // the journal or the running row says what was under way.
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        idle = core_->jobs.empty() && !core_->working;
    }
    if (idle) {
        core_->thread.join();
    } else {
        core_->thread.detach();
    }
}

void RecordWorker::SetBusyLimitMs(int ms) {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->busyLimitMs = ms;
}

void RecordWorker::Start(std::function<void(const std::string&)> done) {
    auto job = std::make_unique<Core::Job>();
    job->kind = Core::Job::Kind::Start;
    job->started = std::move(done);
    core_->Post(std::move(job));
}

void RecordWorker::Open(const Attempt& attempt, bool checkPassed,
                        std::function<void(const OpenAnswer&)> done) {
    auto job = std::make_unique<Core::Job>();
    job->kind = Core::Job::Kind::Open;
    job->attempt = attempt;
    job->checkPassed = checkPassed;
    job->opened = std::move(done);
    core_->Post(std::move(job));
}

void RecordWorker::Close(const Attempt& attempt, std::function<void(const CloseAnswer&)> done) {
    auto job = std::make_unique<Core::Job>();
    job->kind = Core::Job::Kind::Close;
    job->attempt = attempt;
    job->closed = std::move(done);
    core_->Post(std::move(job));
}

RecordState RecordWorker::State() const {
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->state;
}

void RecordWorker::Deliver() {
    for (;;) {
        std::function<void()> answer;
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            if (core_->answers.empty()) return;
            answer = std::move(core_->answers.front());
            core_->answers.pop_front();
        }
        answer();
    }
}

void RecordWorker::RunQueued() {
    if (mode_ != Mode::Inline) return;
    while (core_->RunHead()) {
    }
}

bool RecordWorker::Drain(int ms) {
    if (mode_ == Mode::Inline) {
        RunQueued();
        Deliver();
        std::lock_guard<std::mutex> lock(core_->mutex);
        return core_->jobs.empty();
    }
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        Deliver();
        std::unique_lock<std::mutex> lock(core_->mutex);
        if (core_->jobs.empty() && !core_->working && core_->answers.empty()) return true;
        if (Clock::now() >= until) return false;
        core_->changed.wait_until(lock,
                                  std::min(until, Clock::now() + std::chrono::milliseconds(50)));
    }
}

}  // namespace record
