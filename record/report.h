#pragma once

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

// What a manager asks of the line's record.
struct Report {
    struct Socket {
        std::string station;
        int socket = 0;
        int passed = 0;
        int failed = 0;      // "fail" and "interrupted"
        int incomplete = 0;  // still "running": the station ended before the attempt
        int skipped = 0;
        // passed / (passed + failed + incomplete); 0 when nothing was tried.
        double yield() const;
    };
    struct Hour {
        std::string start;  // "2026-12-09T05:00Z"
        int passed = 0;
        int failed = 0;
        int incomplete = 0;
    };
    struct Failure {
        std::string step;  // failed_step, empty when the record has none (CSV)
        std::string message;
        int count = 0;
    };
    struct Repeat {
        std::string serial;
        int times = 0;
        std::vector<std::string> seen;  // "pass at line 2 socket 3, 2026-..."
    };
    std::vector<Socket> sockets;  // by station, then socket
    Socket total;
    std::vector<Hour> hours;        // every hour from the first attempt to the last
    std::vector<Failure> failures;  // largest first
    std::vector<Repeat> repeats;    // serial numbers seen more than once
    std::string from, to;           // first and last start, UTC
};

// Every attempt the filter lets through except identity reads ("info"),
// which are no module set up.
Report MakeReport(const std::vector<Attempt>& attempts, const ReportFilter& filter);

std::string FormatReportText(const Report& report);
std::string FormatReportJson(const Report& report);
// One self-contained page: styles and SVG charts inline, no script, nothing
// fetched from elsewhere.
std::string FormatReportHtml(const Report& report, const std::string& title);

}  // namespace record
