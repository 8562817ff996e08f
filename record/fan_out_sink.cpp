#include "fan_out_sink.h"

namespace record {

BeginResult FanOutSink::Begin(const Attempt& attempt) {
    BeginResult all;
    all.ok = true;
    std::size_t begun = 0;
    for (; begun < sinks_.size(); ++begun) {
        BeginResult one = sinks_[begun]->Begin(attempt);
        if (!one.note.empty()) all.note = one.note;
        if (!one.ok) {
            all.ok = false;
            all.busyAt = one.busyAt;
            all.error = one.error;
            break;
        }
    }
    if (!all.ok) {
        // The others keep the same rows: a skip when the serial is busy (the
        // busy record made its own), and the ones that made a running row
        // close it, since this attempt never wrote.
        Attempt closed = attempt;
        closed.result = all.busyAt.empty() ? Result::Fail : Result::Skipped;
        closed.failedStep = all.busyAt.empty() ? Step::Record : Step::None;
        closed.message = all.busyAt.empty() ? all.error : all.busyAt;
        for (std::size_t i = 0; i < sinks_.size(); ++i) {
            if (i < begun || (i > begun && !all.busyAt.empty())) sinks_[i]->Finish(closed, nullptr);
        }
    }
    return all;
}

bool FanOutSink::Finish(const Attempt& attempt, std::string* error) {
    bool ok = true;
    for (const auto& sink : sinks_) {
        std::string why;
        if (!sink->Finish(attempt, &why)) {
            if (error && ok) *error = why;
            ok = false;
        }
    }
    return ok;
}

std::optional<PriorPass> FanOutSink::PassedBefore(const std::string& kind,
                                                  const std::string& serial,
                                                  const std::array<std::string, 4>& plan) {
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

std::string FanOutSink::Describe() const {
    std::string text;
    for (const auto& sink : sinks_) text += (text.empty() ? "" : " + ") + sink->Describe();
    return text;
}

}  // namespace record
