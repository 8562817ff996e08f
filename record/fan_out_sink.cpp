#include "fan_out_sink.h"

#include "attempt_id.h"

namespace record {

BeginResult FanOutSink::Begin(const Attempt& attempt) {
    retryable_ = false;
    BeginResult all;
    all.ok = true;
    std::size_t& begun = begun_[attempt.attemptId];
    for (; begun < sinks_.size(); ++begun) {
        BeginResult one = sinks_[begun]->Begin(attempt);
        if (!one.note.empty()) all.note = one.note;
        if (!one.ok && one.busyAt.empty() && sinks_[begun]->Retryable()) {
            retryable_ = true;  // asked again; the sinks before keep their rows
            all.ok = false;
            all.error = one.error;
            return all;
        }
        if (!one.ok) {
            all.ok = false;
            all.busyAt = one.busyAt;
            all.error = one.error;
            break;
        }
    }
    const std::size_t stopped = begun;
    begun_.erase(attempt.attemptId);
    if (!all.ok) {
        // The others keep the same rows: a skip when the serial is busy (the
        // busy record made its own), and the ones that made a running row
        // close it, since this attempt never wrote.
        Attempt closed = attempt;
        closed.result = all.busyAt.empty() ? Result::Fail : Result::Skipped;
        closed.failedStep = all.busyAt.empty() ? Step::Record : Step::None;
        closed.message = all.busyAt.empty() ? all.error : all.busyAt;
        for (std::size_t i = 0; i < sinks_.size(); ++i) {
            if (i < stopped) sinks_[i]->Finish(closed, nullptr);
            if (i > stopped && !all.busyAt.empty()) sinks_[i]->Skip(closed, nullptr);
        }
    }
    return all;
}

bool FanOutSink::Skip(const Attempt& skipped, std::string* error) {
    // A skip claims nothing of the module: each record keeps it if it can.
    bool all = true;
    for (const auto& sink : sinks_) {
        std::string why;
        if (!sink->Skip(skipped, &why)) {
            if (error && all) *error = why;
            all = false;
        }
    }
    return all;
}

bool FanOutSink::Finish(const Attempt& attempt, std::string* error) {
    retryable_ = false;
    Progress& p = finishing_[attempt.attemptId];
    for (; p.next < sinks_.size(); ++p.next) {
        Sink& sink = *sinks_[p.next];
        // Once one record could not keep the result, the others say so
        // instead of passing the module.
        Attempt a = attempt;
        if (!p.failed.empty()) {
            a.result = Result::NotRecorded;
            a.message = "record: " + p.failed;
        }
        std::string why;
        if (sink.Finish(a, &why)) {
            if (p.failed.empty()) p.kept.push_back(p.next);
            continue;
        }
        if (sink.Retryable()) {
            retryable_ = true;
            if (error) *error = why;
            return false;
        }
        if (p.failed.empty())
            p.failed = why.empty() ? sink.Describe() + " did not keep the row" : why;
    }
    const Progress done = p;
    finishing_.erase(attempt.attemptId);
    if (done.failed.empty()) return true;
    // The records that kept the result get a correction that takes it back,
    // so none of them says "pass" for a module another could not record.
    Attempt correction = attempt;
    correction.attemptId = NewAttemptId();
    correction.corrects = attempt.attemptId;
    correction.result = Result::NotRecorded;
    correction.message = "record: " + done.failed;
    for (const std::size_t i : done.kept) sinks_[i]->Correct(correction, nullptr);
    if (error) *error = done.failed;
    return false;
}

std::optional<PriorPass> FanOutSink::PassedBefore(const std::string& kind,
                                                  const std::string& serial,
                                                  const std::vector<std::string>& plan) {
    for (const auto& sink : sinks_) {
        if (auto prior = sink->PassedBefore(kind, serial, plan)) return prior;
    }
    return std::nullopt;
}

int FanOutSink::Unsent() const {
    int n = 0;
    for (const auto& sink : sinks_) n += sink->Unsent();
    return n;
}

int FanOutSink::Flush() {
    int n = 0;
    for (const auto& sink : sinks_) n += sink->Flush();
    return n;
}

bool FanOutSink::Spooling() const {
    for (const auto& sink : sinks_) {
        if (sink->Spooling()) return true;
    }
    return false;
}

std::string FanOutSink::Problem() const {
    for (const auto& sink : sinks_) {
        if (std::string p = sink->Problem(); !p.empty()) return p;
    }
    return {};
}

std::string FanOutSink::Warning() const {
    std::string text;
    for (const auto& sink : sinks_) {
        if (std::string w = sink->Warning(); !w.empty()) text += (text.empty() ? "" : "; ") + w;
    }
    return text;
}

std::string FanOutSink::Describe() const {
    std::string text;
    for (const auto& sink : sinks_) text += (text.empty() ? "" : " + ") + sink->Describe();
    return text;
}

}  // namespace record
