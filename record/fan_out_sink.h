#pragma once

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
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::array<std::string, 4>& plan) override;
    int Unsent() const override;
    int Flush() override;
    std::string Describe() const override;

  private:
    std::vector<std::unique_ptr<Sink>> sinks_;
};

}  // namespace record
