#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "serial_port.h"

namespace modsetup {

const char kUsageText[] =
    "usage: modsetup [--port PORT] [--kind rx|tx] [--log FILE] [--json] [--station NAME] COMMAND\n"
    "\n"
    "Sets up a 434 MHz receiver or transmitter module, as the two setup windows do,\n"
    "from a script: one exit code, one line per result, one log row per attempt.\n"
    "\n"
    "commands:\n"
    "  ports          every COM name that opens, with the device behind it, and why a\n"
    "                 device there does not open; USB adapters get their COM names\n"
    "  ports --forget COMn         frees the COM name (removes ports/COMn)\n"
    "  ports --assign COMn DEVICE  gives the adapter at DEVICE the name COMn\n"
    "                 (DEVICE: a character device or a path under /dev/serial);\n"
    "                 with --system for every user of the machine (as root)\n"
    "  info           identity read: kind, firmware version, serial number, test date\n"
    "  plan           the registers of the plan per channel, the frequency they really\n"
    "                 make and its error in Hz, and whether it is accepted (no port)\n"
    "  write          identity read, write all four channels, read them back\n"
    "  check          identity read, read the channels back and compare with the plan\n"
    "  test CH        the channel test of channel CH (0-3)\n"
    "  station        program module after module as they are put into the fixture\n"
    "  db init        make or migrate the database schema (--db URI)\n"
    "  report         passes, failures and yield per station and socket\n"
    "  export         the record as CSV (see modsetup report --help)\n"
    "\n"
    "options:\n"
    "  --port PORT        COM1..COM255 (mapped as the windows map it) or a device path;\n"
    "                     without it, the one adapter that opens is used. Station:\n"
    "                     repeat it for more sockets, numbered 1..N in this order\n"
    "  --ports LIST       station sockets as COM5-COM12 or COM5,COM7\n"
    "  --kind rx|tx       the module kind; a module of the other kind is refused.\n"
    "                     Without it the kind comes from the module's version reply\n"
    "  --plan FILE        a frequency table file (.tbl) with all four channels\n"
    "  --channels F0,F1,F2,F3  the four frequencies in MHz, Ch0 first\n"
    "  --force            accept a plan outside 433.075-434.700 MHz, off the 25 kHz\n"
    "                     grid (transmitter) or not exactly made by the synthesizer\n"
    "  --no-check         write: skip the read-back\n"
    "  --count N          station: stop after N modules written\n"
    "  --again            station: also write modules the log shows as passed with\n"
    "                     the same kind and plan\n"
    "  --log FILE         production log (CSV) [modsetup_log.csv in the data folder:\n"
    "                     beside the program, or ~/.local/share/modsetup/ installed]\n"
    "  --db URI           also (or, without --log, only) record every attempt in a\n"
    "                     database: sqlite:PATH, postgresql://HOST/DB?sslmode=...\n"
    "                     or postgres:service=NAME; passwords come from ~/.pgpass\n"
    "  --operator NAME    the operator, for the record\n"
    "  --station NAME     station name for the log [the host name]\n"
    "  --json             one JSON object per result on standard output, and the\n"
    "                     station's skips, errors and summary as JSON too\n"
    "  --quiet            no progress or summary lines on standard error\n"
    "  --version          the program's version\n"
    "  -h, --help         show this text\n"
    "\n"
    "exit codes: 0 everything passed, 1 a module failed (station: or fewer than --count\n"
    "passed, or every module was skipped), 2 usage, plan or production log error,\n"
    "3 the port cannot be opened, failed, or no module answers on the port chosen.\n";

namespace {

const std::set<std::string> kCommands = {"ports", "info", "plan",   "write",
                                         "check", "test", "station"};
const std::set<std::string> kValueOptions = {"--port",     "--ports", "--kind",     "--log",
                                             "--station",  "--plan",  "--channels", "--count",
                                             "--forget",   "--db",    "--operator"};
const std::set<std::string> kFlagOptions = {"--json", "--force", "--no-check", "--again",
                                            "--help", "--quiet", "--version",  "--system"};

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

bool ParseCount(const std::string& text, int* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const long n = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || n < 1 || n > 1000000000) return false;
    *value = static_cast<int>(n);
    return true;
}

std::string ApplyValue(Options& o, const std::string& name, const std::string& value) {
    if (name == "--port") {
        if (value.empty()) return "--port needs a COM name or a device path";
        // A mistyped name is the script's fault, not the cable's.
        if (value.find('/') == std::string::npos && wire::PortNumberFromName(value) == 0) {
            return "--port: \"" + value + "\" is neither COM1..COM255 nor a device path";
        }
        o.ports.push_back(value);
        o.port = o.ports.front();
    } else if (name == "--ports") {
        std::string error;
        const std::vector<std::string> names = wire::ExpandPortNames(value, &error);
        if (names.empty()) return "--ports: " + error;
        o.ports.insert(o.ports.end(), names.begin(), names.end());
        o.port = o.ports.front();
    } else if (name == "--kind") {
        if (value != "rx" && value != "tx") return "--kind must be rx or tx, not \"" + value + "\"";
        o.kind = value;
    } else if (name == "--log") {
        if (value.empty()) return "--log needs a file name";
        o.logPath = value;
    } else if (name == "--db") {
        if (value.empty()) return "--db needs a URI (sqlite:PATH or postgresql://...)";
        o.db = value;
    } else if (name == "--operator") {
        o.operatorName = value;
    } else if (name == "--station") {
        o.station = value;
    } else if (name == "--plan") {
        if (value.empty()) return "--plan needs a file name";
        o.planFile = value;
    } else if (name == "--channels") {
        o.channels = SplitCommas(value);
        if (o.channels.size() != 4) {
            return "--channels needs four frequencies F0,F1,F2,F3, not \"" + value + "\"";
        }
    } else if (name == "--count") {
        if (!ParseCount(value, &o.count)) return "--count must be a number from 1 on";
    } else if (name == "--forget") {
        if (!wire::PortNumberFromName(value)) {
            return "--forget needs a COM name (COM1 to COM255), not \"" + value + "\"";
        }
        o.forget = value;
    }
    return {};
}

}  // namespace

bool NeedsPlan(const std::string& command) {
    return command != "ports" && command != "info";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions out;
    Options& o = out.options;
    std::vector<std::string> words;
    const auto fail = [&out](const std::string& message) {
        out.error = message;
        return out;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            if (arg == "--") return fail("unexpected \"--\"");
            words.push_back(arg);
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (kFlagOptions.count(name)) {
            if (eq != std::string::npos) return fail(name + " takes no value");
            if (name == "--json") o.json = true;
            if (name == "--force") o.force = true;
            if (name == "--no-check") o.noCheck = true;
            if (name == "--again") o.again = true;
            if (name == "--help") o.help = true;
            if (name == "--quiet") o.quiet = true;
            if (name == "--version") o.version = true;
            if (name == "--system") o.system = true;
            continue;
        }
        if (name == "--assign") {
            // Two values: the COM name and the device ("--assign --system
            // COM8 DEVICE" reads as it is meant).
            std::string com;
            while (eq == std::string::npos && i + 1 < args.size() && args[i + 1] == "--system") {
                o.system = true;
                ++i;
            }
            if (eq != std::string::npos) {
                com = arg.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                com = args[++i];
            }
            if (i + 1 >= args.size()) return fail("--assign needs a COM name and a device");
            if (!wire::PortNumberFromName(com)) {
                return fail("--assign needs a COM name (COM1 to COM255), not \"" + com + "\"");
            }
            o.assign = com;
            o.assignDevice = args[++i];
            if (o.assignDevice.empty()) return fail("--assign needs a COM name and a device");
            continue;
        }
        if (!kValueOptions.count(name)) return fail("unknown option " + name);
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return fail(name + " needs a value");
        }
        if (const std::string error = ApplyValue(o, name, value); !error.empty()) {
            return fail(error);
        }
    }
    if (o.help || o.version) return out;
    if (words.empty()) return fail("no command given");
    o.command = words[0];
    if (!kCommands.count(o.command)) return fail("unknown command \"" + o.command + "\"");
    if (o.command == "test") {
        if (words.size() < 2) return fail("test needs a channel number 0-3");
        const std::string& ch = words[1];
        if (ch.size() != 1 || ch[0] < '0' || ch[0] > '3') {
            return fail("test: channel must be 0, 1, 2 or 3, not \"" + ch + "\"");
        }
        o.testChannel = ch[0] - '0';
        words.erase(words.begin() + 1);
    }
    if (words.size() > 1) return fail("unexpected argument \"" + words[1] + "\"");
    if (!o.planFile.empty() && !o.channels.empty()) {
        return fail("give the plan either with --plan or with --channels, not both");
    }
    if (NeedsPlan(o.command) && o.planFile.empty() && o.channels.empty()) {
        return fail(o.command + " needs a plan: --plan FILE or --channels F0,F1,F2,F3");
    }
    if (o.noCheck && o.command != "write") return fail("--no-check belongs to write");
    if (o.ports.size() > 1 && o.command != "station") {
        return fail("several ports belong to station; " + o.command + " takes one --port");
    }
    for (std::size_t i = 0; i < o.ports.size(); ++i) {
        for (std::size_t j = i + 1; j < o.ports.size(); ++j) {
            if (o.ports[i] == o.ports[j]) return fail(o.ports[i] + " is given twice");
        }
    }
    if ((!o.forget.empty() || !o.assign.empty()) && o.command != "ports") {
        return fail(std::string(o.forget.empty() ? "--assign" : "--forget") + " belongs to ports");
    }
    if (!o.forget.empty() && !o.assign.empty()) return fail("give either --forget or --assign");
    if (o.system && o.forget.empty() && o.assign.empty()) {
        return fail("--system belongs to ports --assign or --forget");
    }
    if ((o.count > 0 || o.again) && o.command != "station") {
        return fail(std::string(o.count > 0 ? "--count" : "--again") + " belongs to station");
    }
    return out;
}

}  // namespace modsetup
