#pragma once

#include <string>

#include "sink.h"

namespace record {

// The production log: one CSV row per finished attempt, appended whole.
class CsvSink : public Sink {
  public:
    explicit CsvSink(std::string path) : path_(std::move(path)) {}

    // Makes sure the file can be appended to; a running attempt has no row.
    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::array<std::string, 4>& plan) override;
    std::string Describe() const override { return "CSV " + path_; }

    // Whether the file can be written, before any port is touched.
    bool Writable(std::string* error) const;

  private:
    std::string path_;
};

}  // namespace record
