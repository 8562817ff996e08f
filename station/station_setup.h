#pragma once

#include <string>
#include <vector>

#include "plan.h"

namespace station {

// What the operator sets up before production: the command line of a
// desktop shortcut, the settings file and the set-up controls all fill it.
struct StationSetup {
    std::string planFile;            // a .tbl file; empty: the four frequencies
    PlanTexts channels = PlanTexts(4);  // Ch0 first; the set-up has four fields
    std::string kind;                // "rx", "tx", or empty: whichever answers
    std::vector<std::string> ports;  // "COM5" or a device path, socket 1 first
    std::string record;              // the CSV file; empty: the default one
    std::string station;             // empty: the host name
    std::string operatorName;
};

}  // namespace station
