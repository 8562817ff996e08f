#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "attempt.h"

namespace record {

struct ReportFilter {
    std::optional<long long> sinceMs;  // started at or after (ms since 1970, UTC)
    std::optional<long long> untilMs;  // started before
    std::string station;               // empty: every station
};

// What a manager asks of the line's record: how many modules (units, told
// apart by serial number) came through and how many of them were made good,
// beside how many attempts that took. Only a verified write makes a module
// good; a re-check, a channel test or an unverified write never does.
struct Report {
    static constexpr std::size_t kResults = 6;     // Result's values
    static constexpr std::size_t kOperations = 5;  // Operation's values

    // One station's socket, one station, or the whole record.
    struct Figures {
        std::string station;
        int socket = 0;
        long long units = 0;                         // distinct serial numbers attempted
        long long firstPassUnits = 0;                // whose first verified write passed
        long long passedUnits = 0;                   // with a verified write that passed
        std::array<long long, kResults> attempts{};  // by result
        std::array<std::array<long long, kResults>, kOperations> operations{};
        long long Attempts(Result r) const { return attempts[static_cast<std::size_t>(r)]; }
        long long Writes(Result r) const {
            return operations[static_cast<std::size_t>(Operation::Write)]
                             [static_cast<std::size_t>(r)];
        }
        // Over units; 0 when no unit was attempted.
        double FirstPassYield() const;
        double FinalYield() const;
    };
    struct Hour {           // verified writes begun in the hour
        std::string start;  // "2026-12-09T05:00Z"
        int passed = 0;
        int failed = 0;
        int incomplete = 0;
    };
    struct Failure {
        std::string step;  // failed_step, empty when the record has none
        std::string message;
        int count = 0;
    };
    enum class RepeatKind { DoublePass, FailThenPass, Other };
    struct Repeat {
        std::string serial;
        int times = 0;
        RepeatKind kind = RepeatKind::Other;
        std::vector<std::string> seen;  // "pass at line 2 socket 3, 2026-...", the first few
    };
    std::vector<Figures> sockets;   // by station, then socket
    std::vector<Figures> stations;  // by station
    Figures total;
    // Modules made good per hour between the first start and the last;
    // nothing when the record spans less than a minute.
    std::optional<double> modulesPerHour;
    std::vector<Hour> hours;        // every hour from the first attempt to the last
    std::vector<Failure> failures;  // largest first
    std::vector<Repeat> repeats;    // serial numbers seen more than once
    std::string from, to;           // first and last start, UTC
};

// Takes attempts one at a time, so a record of any length is read once and
// never held: what grows is 32 bytes per attempt at a module (a million of
// them take 32 MB) and an entry per socket and per reason.
// Identity reads ("info") are no module set up and are left out.
class ReportBuilder {
  public:
    explicit ReportBuilder(ReportFilter filter);
    ~ReportBuilder();
    ReportBuilder(const ReportBuilder&) = delete;
    ReportBuilder& operator=(const ReportBuilder&) = delete;

    void Add(const Attempt& attempt);
    Report Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

Report MakeReport(const std::vector<Attempt>& attempts, const ReportFilter& filter);

// A failure's reason without the note of a decision taken while the
// database was out of reach, which says how, not why.
std::string ReasonOfFailure(const std::string& message);

std::string FormatReportText(const Report& report);
std::string FormatReportJson(const Report& report);
// One self-contained page: styles and SVG charts inline, no script, nothing
// fetched from elsewhere.
std::string FormatReportHtml(const Report& report, const std::string& title);

}  // namespace record
