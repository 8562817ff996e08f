#pragma once

// What the doors may know of a station: a copy made on the station's thread
// after every change and read by the servers on theirs. Plain data only, so
// a server never reaches into the live station.

#include <string>
#include <vector>

namespace doors {

enum class StationState { Setup, Production, Paused, Stopping };

// "setup", "production", "paused", "stopping".
const char* StateText(StationState state);

// What a fixture's PLC and the monitoring read of a socket, beside the word
// its tile shows.
struct SocketFlags {
    bool busy = false;      // reading, writing, checking, recording
    bool passHeld = false;  // PASS until the module is taken out
    bool failHeld = false;  // FAIL until the module is taken out
    bool notRecorded = false;
    bool adapterMissing = false;
    bool skipped = false;
    bool modulePresent = false;
    bool paused = false;
    bool waitingForTrigger = false;

    bool operator==(const SocketFlags& o) const;
    bool operator!=(const SocketFlags& o) const { return !(*this == o); }
};

struct SocketView {
    int number = 1;  // 1..N
    std::string port;
    std::string device;
    // The tile's words: "empty", "reading", "writing Ch2", "checking",
    // "recording", "PASS", "FAIL: reason", "NOT RECORDED: reason",
    // "SKIPPED: passed at X", "adapter missing".
    std::string state;
    SocketFlags flags;
    std::string serial;
    std::string lastResult;  // the last attempt's result: "pass", "fail", ...
    std::string lastAttemptId;
    std::string since;  // ISO 8601: when the state last changed
    long long lastDurationMs = 0;
};

struct PlanView {
    std::string kind = "any";           // "rx", "tx" or "any"
    std::vector<std::string> channels;  // MHz as the plan gives them, Ch0 first
};

struct CountsView {
    long long passed = 0;
    long long failed = 0;
    long long skipped = 0;
    long long written = 0;
    long long notRecorded = 0;
};

struct Snapshot {
    std::string station;
    std::string stationId;  // empty when the record gives the station none
    StationState state = StationState::Setup;
    PlanView plan;
    CountsView counts;
    long long unsent = 0;        // records not yet kept by every sink
    long long recordErrors = 0;  // since the program started
    std::string toolVersion;
    std::vector<SocketView> sockets;
};

}  // namespace doors
