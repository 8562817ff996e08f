#pragma once

#include <string>
#include <vector>

#include "station_options.h"
#include "station_setup.h"

namespace modstation {

// The command line of a desktop shortcut: modsetup station's set-up options
// (read by the same parser), over the remembered settings. modsetup's own
// run options (--count, --again, --force, --json, --quiet) are refused: a
// window is stopped by its operator and shows its results itself.
struct Options {
    station::StationOptions given;
    bool start = false;  // straight into production
    bool help = false;
    bool version = false;
    std::string error;  // empty when the line is good
};

Options ParseOptions(const std::vector<std::string>& args);

// Applies what the command line gave over the settings; what it did not
// give stays as remembered.
station::StationSetup Merge(station::StationSetup settings, const Options& options);

extern const char kUsageText[];

}  // namespace modstation
