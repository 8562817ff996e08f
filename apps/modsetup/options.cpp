#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "serial_port.h"

namespace modsetup {

const char kUsageText[] =
    "usage: modsetup [--port PORT] [--kind rx|tx|any] [--log FILE] [--json] [--station NAME] "
    "COMMAND\n"
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
    "                 (modsetup station --help)\n"
    "  db init        make or migrate the database schema (--db URI)\n"
    "  report         passes, failures and yield per station and socket\n"
    "  export         the record as CSV (see modsetup report --help)\n"
    "\n"
    "options:\n"
    "  --port PORT        COM1..COM255 (mapped as the windows map it) or a device path;\n"
    "                     without it, the one adapter that opens is used. Station:\n"
    "                     repeat it for more sockets, numbered 1..N in this order\n"
    "  --ports LIST       station sockets as COM5-COM12 or COM5,COM7\n"
    "  --kind rx|tx|any   the module kind; a module of the other kind is refused.\n"
    "                     With any, or without it, the kind comes from the module's\n"
    "                     version reply\n"
    "  --plan FILE        a frequency table file (.tbl) with all four channels\n"
    "  --channels F0,F1,F2,F3  the four frequencies in MHz, Ch0 first (as many as the\n"
    "                     kind has channels)\n"
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

const char kStationUsageText[] =
    "usage: modsetup station (--plan FILE | --channels F0,F1,F2,F3) [OPTIONS]\n"
    "\n"
    "Programs module after module as they are put into the fixture. Each socket\n"
    "reads the identity about once a second while it is empty; a module that\n"
    "answers is written, read back and its serial number read again, then PASS or\n"
    "FAIL, and the socket waits until it is taken out. Every attempt is one row of\n"
    "the record. On a terminal a table shows each socket, with messages above it;\n"
    "otherwise there is a line per result.\n"
    "\n"
    "set-up (modstation takes these too):\n"
    "  --port PORT        a socket: COM1..COM255 or a device path; repeat it for more\n"
    "                     sockets, numbered 1..N in this order. Without it, the one\n"
    "                     adapter that opens is used\n"
    "  --ports LIST       sockets as COM5-COM12 or COM5,COM7\n"
    "  --plan FILE        a frequency table file (.tbl) with all four channels\n"
    "  --channels F0,F1,F2,F3  the four frequencies in MHz, Ch0 first (as many as the\n"
    "                     kind has channels)\n"
    "  --kind rx|tx|any   the kind every module must be; any, or without it:\n"
    "                     whichever kind answers\n"
    "  --log FILE         the production log (CSV) [modsetup_log.csv in the data folder]\n"
    "  --db URI           a database record: sqlite:PATH, postgresql://HOST/DB or\n"
    "                     postgres:service=NAME (with --log too, both get every row)\n"
    "  --station NAME     the station's name in the record [the host name]\n"
    "  --operator NAME    the operator's name in the record\n"
    "\n"
    "modsetup's alone:\n"
    "  --count N          stop once N modules were written over all sockets\n"
    "  --again            also write modules the record shows as passed with the\n"
    "                     same kind and plan (otherwise they are skipped)\n"
    "  --force            write a plan outside 433.075-434.700 MHz, off the 25 kHz\n"
    "                     grid (transmitter) or not exactly made by the synthesizer\n"
    "  --json             a JSON object per result, skip and summary on standard output\n"
    "  --quiet            no progress or summary lines on standard error\n"
    "\n";

const char kStationExitText[] =
    "exit codes: 0 every module attempted passed (and --count was reached), 1 a\n"
    "module failed or was interrupted, the station stopped before --count, or it\n"
    "only skipped, 2 usage, plan, record or door error (a door that cannot open),\n"
    "3 a port cannot be opened.\n";

std::string StationUsageText() {
    return std::string(kStationUsageText) + doors::kDoorsUsageText +
           "                         [modsetup_mqtt_STATION.outbox in the data folder]\n\n" +
           kStationExitText;
}

namespace {

const std::set<std::string> kCommands = {"ports", "info", "plan",   "write",
                                         "check", "test", "station"};
const std::set<std::string> kValueOptions = {"--count", "--forget"};
const std::set<std::string> kFlagOptions = {"--json", "--force", "--no-check", "--again",
                                            "--help", "--quiet", "--version",  "--system"};

bool ParseCount(const std::string& text, int* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const long n = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || n < 1 || n > 1000000000) return false;
    *value = static_cast<int>(n);
    return true;
}

std::string ApplyValue(Options& o, const std::string& name, const std::string& value) {
    if (station::IsStationOption(name)) {
        const std::string error = station::ApplyStationOption(o, name, value);
        if (!o.ports.empty()) o.port = o.ports.front();
        return error;
    }
    if (name == "--count") {
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

ParsedOptions ParseOptions(const std::vector<std::string>& line) {
    ParsedOptions out;
    Options& o = out.options;
    std::vector<std::string> words;
    const auto fail = [&out](const std::string& message) {
        out.error = message;
        return out;
    };
    // The doors' options are read by their own parser, the one modstation
    // uses too.
    std::vector<std::string> args = line;
    if (std::string error; !doors::TakeDoorOptions(args, &o.doors, &error)) return fail(error);
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
        if (!kValueOptions.count(name) && !station::IsStationOption(name)) {
            return fail("unknown option " + name);
        }
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
    // "modsetup station --help" asks for the station's own help.
    if (!words.empty() && kCommands.count(words[0])) o.command = words[0];
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
    if (NeedsPlan(o.command) && o.planFile.empty() && o.channels.empty()) {
        return fail(o.command + " needs a plan: --plan FILE or --channels F0,F1,F2,F3");
    }
    if (o.noCheck && o.command != "write") return fail("--no-check belongs to write");
    if (o.ports.size() > 1 && o.command != "station") {
        return fail("several ports belong to station; " + o.command + " takes one --port");
    }
    if (const std::string error = station::CheckStationOptions(o); !error.empty()) {
        return fail(error);
    }
    if ((!o.forget.empty() || !o.assign.empty()) && o.command != "ports") {
        return fail(std::string(o.forget.empty() ? "--assign" : "--forget") + " belongs to ports");
    }
    if (!o.forget.empty() && !o.assign.empty()) return fail("give either --forget or --assign");
    if (o.system && o.forget.empty() && o.assign.empty()) {
        return fail("--system belongs to ports --assign or --forget");
    }
    if (o.doors.Any() && o.command != "station") {
        return fail(std::string(o.doors.http     ? "--http"
                                : o.doors.modbus ? "--modbus"
                                                 : "--mqtt") +
                    " belongs to station");
    }
    if ((o.count > 0 || o.again) && o.command != "station") {
        return fail(std::string(o.count > 0 ? "--count" : "--again") + " belongs to station");
    }
    return out;
}

}  // namespace modsetup
