#pragma once

#include <map>
#include <memory>
#include <vector>

#include "sink.h"

namespace record {

// Several records that get the same rows (--log and --db together). The
// databases come first: one of them may find the serial busy, and then none
// of the others keeps a row of an attempt that never wrote.
class FanOutSink : public Sink {
  public:
    explicit FanOutSink(std::vector<std::unique_ptr<Sink>> sinks) : sinks_(std::move(sinks)) {}

    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    bool Skip(const Attempt& skipped, std::string* error) override;
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::vector<std::string>& plan) override;
    int Unsent() const override;
    int Flush() override;
    std::string Describe() const override;
    bool Retryable() const override { return retryable_; }
    bool Spooling() const override;
    std::string Problem() const override;
    std::string Warning() const override;

  private:
    // How far an attempt got through the sinks, so that one locked sink is
    // asked again without the others keeping its row twice.
    struct Progress {
        std::size_t next = 0;
        std::vector<std::size_t> kept;  // sinks that kept the result as it was
        std::string failed;             // why one could not keep it
    };

    std::vector<std::unique_ptr<Sink>> sinks_;
    std::map<std::string, std::size_t> begun_;  // attempt id: sinks begun
    std::map<std::string, Progress> finishing_;
    bool retryable_ = false;
};

}  // namespace record
