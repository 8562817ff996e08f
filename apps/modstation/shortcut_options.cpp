#include "shortcut_options.h"

#include <set>

namespace modstation {

const char kUsageText[] =
    "usage: modstation [OPTIONS]\n"
    "The line operator's window; opens in set-up mode with the options filled in.\n"
    "  --plan FILE        the plan: a .tbl table with all four channels\n"
    "  --channels F0,F1,F2,F3  the plan as four frequencies in MHz\n"
    "  --kind rx|tx|any   the kind every module must be; any: whichever answers\n"
    "  --port PORT        a socket (COM1..COM255 or a device path); may be repeated\n"
    "  --ports LIST       sockets as COM5-COM12 or COM5,COM7\n"
    "  --log FILE         the CSV record (production log)\n"
    "  --db URI           a database record instead: sqlite:PATH,\n"
    "                     postgresql://HOST/DB or postgres:service=NAME\n"
    "  --station NAME     the station's name in the record (default: the host name)\n"
    "  --operator NAME    the operator's name in the record\n"
    "  --start            go straight into production mode\n"
    "  --help, --version\n";

namespace {

// modsetup station's options that a window has no use for.
const std::set<std::string> kModsetupOnly = {"--count", "--again", "--force",
                                             "--json",  "--quiet", "--no-check"};

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    Options o;
    const auto fail = [&o](const std::string& why) {
        o.error = why;
        return o;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        if (name == "--start" || name == "--help" || name == "--version") {
            if (inlineValue) return fail(name + " takes no value");
            if (name == "--start") o.start = true;
            if (name == "--help") o.help = true;
            if (name == "--version") o.version = true;
            continue;
        }
        if (kModsetupOnly.count(name)) {
            return fail("unknown option \"" + name + "\" (it is modsetup station's alone)");
        }
        if (!station::IsStationOption(name)) return fail("unknown option \"" + args[i] + "\"");
        if (!inlineValue) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            value = args[++i];
        }
        if (const std::string error = station::ApplyStationOption(o.given, name, value);
            !error.empty()) {
            return fail(error);
        }
    }
    if (const std::string error = station::CheckStationOptions(o.given); !error.empty()) {
        return fail(error);
    }
    // The window has one record target: a CSV file or a database.
    if (!o.given.logPath.empty() && !o.given.db.empty()) {
        return fail("give the record once: --log or --db");
    }
    if (o.given.ports.size() > 24) return fail("at most 24 sockets");
    return o;
}

station::StationSetup Merge(station::StationSetup s, const Options& o) {
    const station::StationOptions& g = o.given;
    if (!g.planFile.empty()) {
        s.planFile = g.planFile;
    } else if (!g.channels.empty()) {
        s.planFile.clear();
        s.channels.assign(g.channels.begin(), g.channels.end());
    }
    if (g.kindGiven) s.kind = g.kind;
    if (!g.ports.empty()) s.ports = g.ports;
    if (!g.db.empty()) s.record = g.db;
    if (!g.logPath.empty()) s.record = g.logPath;
    if (g.stationGiven) s.station = g.station;
    if (g.operatorGiven) s.operatorName = g.operatorName;
    return s;
}

}  // namespace modstation
