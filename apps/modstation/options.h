#pragma once

#include <string>
#include <vector>

#include "station_setup.h"

namespace modstation {

// The command line of a desktop shortcut: modsetup station's options. Only
// what was given overrides the remembered settings.
struct Options {
    station::StationSetup setup;
    bool hasPlan = false;  // --plan or --channels
    bool hasKind = false;
    bool hasPorts = false;
    bool hasRecord = false;
    bool hasStation = false;
    bool hasOperator = false;
    bool start = false;  // straight into production
    bool help = false;
    bool version = false;
    std::string error;  // empty when the line is good
};

Options ParseOptions(const std::vector<std::string>& args);

// Applies what the command line gave over the settings.
station::StationSetup Merge(station::StationSetup settings, const Options& options);

extern const char kUsageText[];

}  // namespace modstation
