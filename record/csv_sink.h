#pragma once

#include <string>

#include "sink.h"

namespace record {

// The CSV production log: one whole row per attempt when it ends. Nothing is
// written at Begin (a CSV row cannot be changed afterwards), but Begin makes
// sure the file can be appended to, before the module is touched.
class CsvSink : public Sink {
  public:
    explicit CsvSink(std::string path) : path_(std::move(path)) {}

    // Whether the log can be appended to; a station asks before it opens a port.
    bool Open(std::string* error) const;

    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::array<std::string, 4>& plan) override;
    std::string Describe() const override { return "CSV " + path_; }

  private:
    std::string path_;
};

}  // namespace record
