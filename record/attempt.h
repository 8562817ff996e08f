#pragma once

#include <array>
#include <string>

namespace record {

// One attempt at one module in one socket: what every record keeps. A row is
// made before the first command of the attempt goes to the module (result
// "running") and finished once when the attempt ends.
struct Attempt {
    std::string attemptId;  // a UUID made by the station
    std::string startedAt;  // ISO 8601 with the UTC offset
    std::string station;
    int socket = 1;      // 1..N in the order the ports were given
    std::string port;    // "COM7" or a device path, as given
    std::string device;  // what the port opened
    std::string kind;    // "rx" / "tx", empty when unknown
    std::string serial;  // as the module reported it
    std::string version;
    std::array<std::string, 4> channels;  // the plan, MHz, Ch0 first; empty for info
    std::array<std::string, 4> readBack;  // register rows read back, values joined by ","
    // "info", "write" (verified by a read-back), "write-unverified"
    // (--no-check), "check", "test"
    std::string operation;
    // "running", "pass", "fail", "interrupted", "skipped"
    std::string result;
    std::string
        failedStep;  // "identity", "write", "check", "serial", "port", "record"; empty on pass
    std::string message;
    long long durationMs = 0;
    std::string toolVersion;
    std::string operatorName;  // --operator, optional
};

}  // namespace record
