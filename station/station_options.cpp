#include "station_options.h"

#include <set>

#include "db_uri.h"
#include "kinds.h"
#include "serial_port.h"

namespace station {

namespace {

const std::set<std::string> kStationOptions = {"--port",     "--ports",   "--kind",
                                               "--channels", "--plan",    "--log",
                                               "--db",       "--station", "--operator"};

}  // namespace

bool IsStationOption(const std::string& name) {
    return kStationOptions.count(name) > 0;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

std::string ApplyStationOption(StationOptions& o, const std::string& name,
                               const std::string& value) {
    if (name == "--port") {
        if (value.empty()) return "--port needs a COM name or a device path";
        // A mistyped name is the script's fault, not the cable's.
        if (value.find('/') == std::string::npos && wire::PortNumberFromName(value) == 0) {
            return "--port: \"" + value + "\" is neither COM1..COM255 nor a device path";
        }
        o.ports.push_back(value);
    } else if (name == "--ports") {
        std::string error;
        const std::vector<std::string> names = wire::ExpandPortNames(value, &error);
        if (names.empty()) return "--ports: " + error;
        o.ports.insert(o.ports.end(), names.begin(), names.end());
    } else if (name == "--kind") {
        // "any" lets a shortcut say "whichever answers" over a remembered kind.
        if (value != "any" && !module::KindByName(value)) {
            std::string names;
            for (const module::Kind* k : module::Kinds()) names += k->name + ", ";
            names.resize(names.size() - 2);
            return "--kind must be " + names + " or any, not \"" + value + "\"";
        }
        o.kind = value == "any" ? "" : value;
        o.kindGiven = true;
    } else if (name == "--plan" || name == "--channels") {
        if (!o.planFile.empty() || !o.channels.empty()) {
            return "give the plan once, either with --plan or with --channels";
        }
        if (name == "--plan") {
            if (value.empty()) return "--plan needs a file name";
            o.planFile = value;
        } else {
            const std::vector<std::string> parts = SplitCommas(value);
            // Four for the kinds of four channels; a kind of more takes more.
            if (parts.size() < 4 || parts.size() > static_cast<std::size_t>(module::kMaxChannels)) {
                return "--channels needs four frequencies F0,F1,F2,F3, not \"" + value + "\"";
            }
            o.channels = parts;
        }
    } else if (name == "--log") {
        if (value.empty()) return "--log needs a file name";
        o.logPath = value;
    } else if (name == "--db") {
        // A database named without its scheme must not turn into a CSV
        // file of that name, nor be found out only once the ports are open.
        std::string why;
        if (!record::ParseDbUri(value, &why)) {
            return "--db needs a URI: sqlite:PATH, postgresql://HOST/DB or postgres:service=NAME "
                   "(" +
                   why + ")";
        }
        o.db = value;
    } else if (name == "--station") {
        o.station = value;
        o.stationGiven = true;
    } else if (name == "--operator") {
        o.operatorName = value;
        o.operatorGiven = true;
    } else {
        return "unknown option " + name;
    }
    return {};
}

std::string CheckStationOptions(const StationOptions& o) {
    std::set<std::string> seen;
    for (const std::string& p : o.ports) {
        if (!seen.insert(p).second) return p + " is given twice";
    }
    return {};
}

}  // namespace station
