#include "options.h"

#include <set>

#include "db_uri.h"
#include "serial_port.h"

namespace modstation {

const char kUsageText[] =
    "usage: modstation [OPTIONS]\n"
    "The line operator's window; opens in set-up mode with the options filled in.\n"
    "  --plan FILE        the plan: a .tbl table with all four channels\n"
    "  --channels F0,F1,F2,F3  the plan as four frequencies in MHz\n"
    "  --kind rx|tx       the kind every module must be\n"
    "  --port PORT        a socket (COM1..COM255 or a device path); may be repeated\n"
    "  --ports LIST       sockets as COM5-COM12 or COM5,COM7\n"
    "  --log FILE         the CSV record (production log)\n"
    "  --db URI           a database record\n"
    "  --station NAME     the station's name in the record (default: the host name)\n"
    "  --operator NAME    the operator's name in the record\n"
    "  --start            go straight into production mode\n"
    "  --help, --version\n";

namespace {

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> out;
    std::string part;
    for (const char c : text) {
        if (c == ',') {
            out.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    out.push_back(part);
    return out;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
    static const std::set<std::string> kValues = {"--plan", "--channels", "--kind",
                                                  "--port", "--ports",    "--log",
                                                  "--db",   "--station",  "--operator"};
    Options o;
    bool hasLog = false, hasDb = false;
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
        if (!kValues.count(name)) return fail("unknown option \"" + args[i] + "\"");
        if (!inlineValue) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            value = args[++i];
        }
        if (name == "--plan") {
            if (value.empty()) return fail("--plan needs a file name");
            if (o.hasPlan) return fail("give the plan once: --plan or --channels");
            o.setup.planFile = value;
            o.hasPlan = true;
        } else if (name == "--channels") {
            const auto parts = SplitCommas(value);
            if (parts.size() != 4)
                return fail("--channels needs four frequencies F0,F1,F2,F3, not \"" + value + "\"");
            if (o.hasPlan) return fail("give the plan once: --plan or --channels");
            for (std::size_t c = 0; c < 4; ++c) o.setup.channels[c] = parts[c];
            o.hasPlan = true;
        } else if (name == "--kind") {
            if (value != "rx" && value != "tx")
                return fail("--kind must be rx or tx, not \"" + value + "\"");
            o.setup.kind = value;
            o.hasKind = true;
        } else if (name == "--port") {
            if (value.find('/') == std::string::npos && wire::PortNumberFromName(value) <= 0)
                return fail("--port: \"" + value + "\" is neither COM1..COM255 nor a device path");
            o.setup.ports.push_back(value);
            o.hasPorts = true;
        } else if (name == "--ports") {
            std::string error;
            const auto names = wire::ExpandPortNames(value, &error);
            if (names.empty()) return fail("--ports: " + error);
            o.setup.ports.insert(o.setup.ports.end(), names.begin(), names.end());
            o.hasPorts = true;
        } else if (name == "--log" || name == "--db") {
            if (value.empty()) return fail(name + " needs a value");
            // A database given without its scheme must not become a CSV file
            // of that name.
            std::string why;
            if (name == "--db" && !record::ParseDbUri(value, &why)) {
                return fail("--db needs a URI: sqlite:PATH, postgresql://HOST/DB or "
                            "postgres:service=NAME (" + why + ")");
            }
            (name == "--log" ? hasLog : hasDb) = true;
            if (hasLog && hasDb) return fail("give the record once: --log or --db");
            o.setup.record = value;
            o.hasRecord = true;
        } else if (name == "--station") {
            o.setup.station = value;
            o.hasStation = true;
        } else if (name == "--operator") {
            o.setup.operatorName = value;
            o.hasOperator = true;
        }
    }
    std::set<std::string> seen;
    for (const std::string& p : o.setup.ports) {
        if (!seen.insert(p).second) return fail("socket " + p + " given twice");
    }
    if (o.setup.ports.size() > 24) return fail("at most 24 sockets");
    return o;
}

station::StationSetup Merge(station::StationSetup s, const Options& o) {
    if (o.hasPlan) {
        s.planFile = o.setup.planFile;
        if (s.planFile.empty()) s.channels = o.setup.channels;
    }
    if (o.hasKind) s.kind = o.setup.kind;
    if (o.hasPorts) s.ports = o.setup.ports;
    if (o.hasRecord) s.record = o.setup.record;
    if (o.hasStation) s.station = o.setup.station;
    if (o.hasOperator) s.operatorName = o.setup.operatorName;
    return s;
}

}  // namespace modstation
