#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "csv_log.h"
#include "sink.h"

namespace record {

// The CSV production log: one whole row per attempt when it ends (a CSV row
// cannot be changed afterwards). What is begun and not yet ended is kept in a
// small journal beside the log, so that an attempt cut off by a crash or
// kill -9 gets its "interrupted" row at the next start. Which modules passed
// is answered from an index made once at start and brought up to date with
// the rows appended since (by this station or any other sharing the log), so
// the cost of a module does not grow with the log.
class CsvSink : public Sink {
  public:
    explicit CsvSink(std::string path, std::string stationId = {});
    ~CsvSink() override;

    // Whether the log can be appended to, before any port is opened; reads
    // the log once for its index and closes what the journal shows unfinished.
    bool Open(std::string* error);

    BeginResult Begin(const Attempt& attempt) override;
    bool Finish(const Attempt& attempt, std::string* error) override;
    bool Correct(const Attempt& correction, std::string* error) override {
        return Append(correction, error);
    }
    std::optional<PriorPass> PassedBefore(const std::string& kind, const std::string& serial,
                                          const std::vector<std::string>& plan) override;
    std::string Describe() const override { return "CSV " + path_; }
    std::string Warning() const override { return warning_; }

    // The journal's file for a log and a station id.
    static std::string JournalPath(const std::string& logPath, const std::string& stationId);

  private:
    bool OpenJournal(std::vector<Attempt>* unfinished);
    void CatchUp();
    void Index(const Attempt& a, unsigned long long offset, bool fresh);
    bool Append(const Attempt& a, std::string* error);

    std::string path_;
    std::string stationId_;
    std::string warning_;
    bool headerCurrent_ = true;           // the log's last header is this program's
    std::unique_ptr<CsvLogReader> tail_;  // reads on where the index stopped
    std::unique_ptr<CsvLogReader> rows_;  // reads one indexed row again
    // Passed verified writes: a hash of kind, serial and plan with the offset
    // of the row, sorted once at start; those found since, unsorted.
    std::vector<std::pair<std::uint64_t, unsigned long long>> passed_;
    std::unordered_multimap<std::uint64_t, unsigned long long> passedSince_;
    std::unordered_set<std::string> corrected_;  // attempt ids taken back

    int journalFd_ = -1;
    std::string journalPath_;
    std::set<std::string> open_;  // journaled and not yet ended
};

}  // namespace record
