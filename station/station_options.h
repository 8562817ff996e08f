#pragma once

#include <string>
#include <vector>

namespace station {

// The set-up of a station as a command line gives it: modsetup station and
// modstation's desktop shortcuts take the same options, read here once, so
// a shortcut and a fixture script mean the same thing by them.
struct StationOptions {
    std::string planFile;               // --plan
    std::vector<std::string> channels;  // --channels, Ch0 first; empty when not given
    std::string kind;                   // "rx", "tx", or "" for whichever answers
    // As given, one socket each in this order: "COM3" or a device path.
    std::vector<std::string> ports;
    std::string logPath;  // --log; empty: the program's default record
    std::string db;       // --db URI: sqlite:PATH, postgresql://..., postgres:service=NAME
    std::string station;  // empty: the host name
    std::string operatorName;
    // Given on the line, even as "" (--kind any, --station ""): over a
    // window's remembered settings these win.
    bool kindGiven = false;
    bool stationGiven = false;
    bool operatorGiven = false;
};

// Whether name ("--ports") is one of the station options; each takes a value.
bool IsStationOption(const std::string& name);

// Takes one option's value; the reason when it is refused, else empty.
std::string ApplyStationOption(StationOptions& options, const std::string& name,
                               const std::string& value);

// What only the whole line shows: a socket given twice. The reason, or
// empty.
std::string CheckStationOptions(const StationOptions& options);

// "a,b,,c" as its four parts; "" is one empty part.
std::vector<std::string> SplitCommas(const std::string& text);

}  // namespace station
