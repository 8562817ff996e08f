#pragma once

#include <optional>
#include <string>
#include <vector>

#include "door_options.h"
#include "station_options.h"

namespace modsetup {

// Exit codes a fixture script can rely on.
constexpr int kExitPass = 0;
constexpr int kExitModuleFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;

// The station's set-up options (ports, kind, plan, record, station,
// operator) are modstation's too, read by the one parser in station/.
struct Options : station::StationOptions {
    std::string command;   // ports, info, plan, write, check, test, station
    int testChannel = -1;  // test CH
    std::string port;      // the first of ports
    bool json = false;
    bool force = false;
    bool noCheck = false;
    int count = 0;  // station: stop after this many modules written; 0 = never
    bool again = false;
    bool help = false;
    bool quiet = false;
    bool version = false;
    // ports: --forget COMn, --assign COMn DEVICE; --system: in the folder
    // for every user
    std::string forget;
    std::string assign;
    std::string assignDevice;
    bool system = false;
    // station: the doors to the line's network, read as modstation reads them
    doors::DoorsOptions doors;
};

struct ParsedOptions {
    Options options;
    std::string error;  // empty when the line is good
};

// Options may stand before or after the command; "--name value" and
// "--name=value" are both understood.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

// Whether the command needs a plan.
bool NeedsPlan(const std::string& command);

extern const char kUsageText[];
// modsetup station --help: the station's own options, the doors' among them.
std::string StationUsageText();

}  // namespace modsetup
