#pragma once

#include <array>
#include <string>

namespace store {

struct LogRecord {
    std::string serial;
    std::string version;
    std::array<std::string, 4> channels;  // index = channel; written 3, 2, 1, 0
    std::string date;
    std::string time;
    std::string toolVersion;  // "1.5.2"
};

// One setup log line: nine fields joined by "," and CR LF; a field holding a
// comma (or anything else the field reader would not give back) is quoted.
std::string FormatLogRecord(const LogRecord& record);

}  // namespace store
