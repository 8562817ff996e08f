// modsetup: sets up receiver and transmitter modules from a fixture script.
// Each port is one station socket driving the module engine on the one event
// loop; every attempt is one record row, and the result comes from the
// engine's typed results only.
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <memory>

#include "json_text.h"
#include "sql_record.h"
#include "file_places.h"
#include "file_system.h"
#include "frequency.h"
#include "options.h"
#include "plan.h"
#include "port_survey.h"
#include "ports_command.h"
#include "program_runtime.h"
#include "qt_serial_port.h"
#include "qt_timers.h"
#include "socket_port.h"
#include "station.h"
#include "record_commands.h"

namespace modsetup {

namespace {

std::string ToolVersionText() {
    return std::to_string(SETUP_VERSION_MAJOR) + "." + std::to_string(SETUP_VERSION_MINOR) + "." +
           std::to_string(SETUP_VERSION_PATCH);
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string FormatMHz(double v) {
    return channel::FormatFixed(v, 6);
}

// The built-in serial ports (COM1-COM4 without a ports/ link) are never
// chosen for a fixture by themselves: they open whether or not an adapter
// is plugged in.
bool BuiltInPort(const std::string& device) {
    return device.rfind("/dev/ttyS", 0) == 0;
}

class Programmer : public station::StationObserver {
  public:
    Programmer(const Options& options, const store::FilePlaces& places)
        : o_(options), portFolders_(places.ports), dataFolder_(places.data) {
        // With only --db the database is the record; with --log too, both
        // get the same rows.
        if (o_.logPath.empty() && o_.db.empty()) {
            logPath_ = places.data + "/modsetup_log.csv";
        } else {
            logPath_ = o_.logPath;
        }
        station_ = o_.station.empty() ? HostName() : o_.station;
    }

    int Run();
    // A termination signal: every socket ends its attempt with a whole row.
    void Stop();

  private:
    bool LoadPlan();
    int RefusePlan(const module::Kind& kind);
    int ShowPlan();
    int Ports();
    std::string ChoosePort(int* exitCode, bool* automatic);
    int ModuleCommand();
    void Say(const std::string& line) const;
    void Error(const std::string& what) const;
    void Summary();

    // station::StationObserver
    bool AcceptPlan(const station::Socket& socket, const module::Kind& kind) override;
    void OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const station::Socket& socket) override;
    void OnStationEnded(const station::Station& station) override;
    // The live table of a station on a terminal: a line per socket, totals.
    void DrawTable();

    Options o_;
    store::PortFolders portFolders_;
    std::string dataFolder_;
    std::string logPath_;
    std::string station_;
    station::PlanTexts plan_;
    std::unique_ptr<record::Sink> sink_;
    std::vector<std::unique_ptr<wire::QtSerialPort>> ports_;
    std::vector<std::unique_ptr<module::QtTimers>> timers_;
    std::unique_ptr<station::Station> line_;
    bool stopped_ = false;
    bool outputClosed_ = false;
    bool table_ = false;  // a live table instead of result lines
    int tableLines_ = 0;
    int exitCode_ = kExitPass;
};

void Programmer::Say(const std::string& line) const {
    if (!o_.quiet) std::cerr << "modsetup: " << line << "\n";
}

void Programmer::Error(const std::string& what) const {
    std::cerr << "modsetup: " << what << "\n";
}

int Programmer::Run() {
    if (o_.command == "ports") return Ports();
    if (NeedsPlan(o_.command) && !LoadPlan()) return kExitUsage;
    if (o_.command == "plan") return ShowPlan();
    return ModuleCommand();
}

void Programmer::Stop() {
    stopped_ = true;
    if (line_) {
        line_->RequestStop();
    } else {
        QCoreApplication::exit(kExitModuleFailed);
    }
}

bool Programmer::LoadPlan() {
    if (!o_.planFile.empty()) {
        std::string error;
        plan_ = station::ReadPlanFile(o_.planFile, &error);
        if (!error.empty()) {
            Error(error);
            return false;
        }
    } else {
        for (std::size_t i = 0; i < 4; ++i) plan_[i] = o_.channels[i];
    }
    for (const std::string& text : plan_) {
        if (!station::IsPlainFrequency(text)) {
            Error("\"" + text + "\" is not a frequency in MHz");
            return false;
        }
    }
    return true;
}

// Exit status 2 with the reasons when the plan is not fit for this kind and
// --force was not given; -1 when it may be written.
int Programmer::RefusePlan(const module::Kind& kind) {
    const std::vector<std::string> problems = station::PlanProblems(kind, plan_);
    for (const std::string& p : problems) Error((o_.force ? "warning: " : "") + p);
    if (problems.empty() || o_.force) return -1;
    Error("plan refused (--force writes it anyway)");
    return kExitUsage;
}

int Programmer::ShowPlan() {
    bool refused = false;
    for (const module::Kind* k : module::Kinds()) {
        if (!o_.kind.empty() && o_.kind != k->name) continue;
        for (int i = 0; i < 4; ++i) {
            const station::ChannelPlan c = station::EvaluateChannel(*k, plan_[static_cast<std::size_t>(i)]);
            refused = refused || !c.problem.empty();
            std::string regs;
            for (const auto& reg : c.registers) regs += (regs.empty() ? "" : ",") + reg;
            const std::string produced = c.makeable ? FormatMHz(c.producedMHz) : "--";
            const std::string error = c.makeable ? channel::FormatFixed(c.errorHz, 1) : "--";
            if (o_.json) {
                std::cout << "{\"command\":\"plan\",\"kind\":" << store::JsonText(k->name)
                          << ",\"channel\":" << i << ",\"frequency\":" << store::JsonText(c.text)
                          << ",\"registers\":" << store::JsonText(regs)
                          << ",\"produced_mhz\":" << store::JsonText(produced)
                          << ",\"error_hz\":" << store::JsonText(error)
                          << ",\"result\":" << store::JsonText(c.problem.empty() ? "pass" : "fail")
                          << ",\"message\":" << store::JsonText(c.problem) << "}\n";
            } else {
                std::cout << k->name << " Ch" << i << "  " << c.text << " MHz  registers " << regs
                          << "  makes " << produced << " MHz  error " << error << " Hz  "
                          << (c.problem.empty() ? "accepted" : "REFUSED: " + c.problem) << "\n";
            }
        }
    }
    return refused && !o_.force ? kExitUsage : kExitPass;
}

int Programmer::Ports() {
    wire::QtSerialPort probe(portFolders_);
    const wire::SystemDeviceFacts facts;
    return RunPortsCommand(
        PortsRequestFrom(o_), portFolders_, o_.json, std::cout, std::cerr,
        [&probe] { return wire::SurveyPorts(probe, probe.Names()); }, facts);
}

std::string Programmer::ChoosePort(int* exitCode, bool* automatic) {
    *automatic = false;
    if (!o_.port.empty()) return o_.port;
    *automatic = true;
    wire::QtSerialPort probe(portFolders_);
    std::vector<std::string> names;
    for (const wire::SurveyedPort& p : wire::SurveyPorts(probe, probe.Names())) {
        if (p.opens && !BuiltInPort(p.place.path)) names.push_back(p.Name());
    }
    if (names.size() == 1) return names.front();
    if (names.empty()) {
        Error("COM Not Open! (no adapter found; name a port with --port)");
        *exitCode = kExitPort;
    } else {
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        Error("several ports open (" + list + "); name one with --port");
        *exitCode = kExitUsage;
    }
    return {};
}

int Programmer::ModuleCommand() {
    const module::Kind* fixed = o_.kind.empty() ? nullptr : module::KindByName(o_.kind);
    // Without a kind the plan is judged for the kind that answers; one that
    // no kind may write is refused before the port is touched.
    if (NeedsPlan(o_.command) && (fixed || (!o_.force && station::RefusedByEveryKind(plan_)))) {
        const int refused = RefusePlan(fixed ? *fixed : *module::Kinds().front());
        if (refused >= 0) return refused;
    }
    // A module written without its row would be lost to the records: the
    // record is opened before any port is touched.
    store::fsys::MakeFolders(dataFolder_);
    record::SinkOptions sinkOptions;
    sinkOptions.logPath = logPath_;
    sinkOptions.dbUri = o_.db;
    sinkOptions.spoolFolder = dataFolder_;
    std::string error;
    sink_ = record::OpenSinks(sinkOptions, &error);
    if (!sink_) {
        Error(error.empty() ? "the production record cannot be opened" : error);
        return kExitUsage;
    }
    std::vector<std::string> names = o_.ports;
    bool automatic = false;
    if (names.empty()) {
        int code = kExitPass;
        const std::string port = ChoosePort(&code, &automatic);
        if (port.empty()) return code;
        names.push_back(port);
    }
    if (stopped_) return kExitModuleFailed;
    // Two sockets on one device would fight over it: the second open would
    // fail as if the cable were bad.
    if (const std::string twice =
            wire::NamesOfOneDevice(names, wire::QtSerialPort(portFolders_).Names());
        !twice.empty()) {
        Error(twice);
        return kExitUsage;
    }

    const std::string comNotOpen = fixed && fixed->letter == 'T' ? "COM Not Open!!" : "COM Not Open!";
    const station::Job job = o_.command == "info"    ? station::Job::Info
                             : o_.command == "write" ? station::Job::Write
                             : o_.command == "check" ? station::Job::Check
                             : o_.command == "test"  ? station::Job::Test
                                                     : station::Job::Station;
    line_ = std::make_unique<station::Station>(*sink_, *this,
                                                       job == station::Job::Station ? o_.count : 0);
    bool allOpen = true;
    // Every socket's port opens at the start, or none is used: a fixture
    // with a dead socket is set up wrong.
    for (const std::string& name : names) {
        std::string why;
        auto port = station::OpenSocketPort(name, portFolders_, &why);
        if (!port) {
            Error(comNotOpen + " (" + why + ")");
            allOpen = false;
        }
        ports_.push_back(std::move(port));
    }
    if (!allOpen) return kExitPort;
    for (std::size_t i = 0; i < names.size(); ++i) {
        station::SocketConfig config;
        config.port = names[i];
        config.device = station::SocketDevice(*ports_[i]);
        config.station = station_;
        config.operatorName = o_.operatorName;
        config.toolVersion = ToolVersionText();
        config.fixedKind = fixed;
        config.again = o_.again;
        config.plan = plan_;
        config.verify = !o_.noCheck;
        config.testChannel = o_.testChannel < 0 ? 0 : o_.testChannel;
        config.job = job;
        auto timers = std::make_unique<module::QtTimers>();
        station::Socket& socket = line_->AddSocket(config, *ports_[i], *timers);
        socket.SetAutoPort(automatic);
        station::ConnectSocket(socket, *ports_[i], *timers);
        timers_.push_back(std::move(timers));
    }

    const bool station = job == station::Job::Station;
    table_ = station && !o_.json && ::isatty(STDOUT_FILENO) == 1;
    if (station) {
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        Say("station " + station_ + " on " + list + ": waiting for modules");
    }
    // Rows a database could not take yet are sent while the line runs.
    QTimer flush;
    QObject::connect(&flush, &QTimer::timeout, [this] {
        sink_->Flush();
        // A reader that went away (modsetup station --json | head -1) ends
        // the run even while no result is written: SIGPIPE is ignored.
        pollfd out{STDOUT_FILENO, 0, 0};
        if (!outputClosed_ && ::poll(&out, 1, 0) > 0 && (out.revents & (POLLERR | POLLHUP))) {
            outputClosed_ = true;
            line_->RequestStop();
        }
    });
    flush.start(1000);
    line_->Start();
    if (line_->Running()) QCoreApplication::exec();
    flush.stop();
    if (const int unsent = sink_->Flush(); unsent > 0) {
        Error(std::to_string(unsent) + " rows not yet sent to " + sink_->Describe() +
              "; they are kept and sent by the next run");
    }
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        ports_[i]->SetReceiveHandler(nullptr);
        timers_[i]->StopAll();
        if (ports_[i]->IsOpen()) ports_[i]->Close();
    }
    return exitCode_;
}

bool Programmer::AcceptPlan(const station::Socket&, const module::Kind& kind) {
    // The plan is judged for the kind that answered.
    if (!NeedsPlan(o_.command)) return true;
    return RefusePlan(kind) < 0;
}

void Programmer::OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                           const std::string& recordError) {
    const bool station = o_.command == "station";
    const bool several = line_->Sockets().size() > 1;
    // A result that cannot be recorded is no pass: a script must not take
    // the module for done when the records do not say so.
    const std::string result = !logged ? "fail" : a.result;
    std::string message = a.message;
    if (!logged) {
        message = "production log: " + recordError + (message.empty() ? "" : "; " + message);
    }
    if (o_.json) {
        std::cout << "{\"command\":" << store::JsonText(station ? std::string("write") : o_.command)
                  << ",\"result\":" << store::JsonText(result) << ",\"kind\":" << store::JsonText(a.kind)
                  << ",\"serial\":" << store::JsonText(a.serial) << ",\"version\":" << store::JsonText(a.version);
        if (a.operation == "info") {
            const module::Identity& id = socket.Engine().LastIdentity();
            std::cout << ",\"test_date\":" << store::JsonText(id.testDate);
            if (a.kind == "tx") std::cout << ",\"offset\":" << store::JsonText(id.offset);
        }
        for (int i = 0; i < 4 && a.operation != "info"; ++i) {
            std::cout << ",\"ch" << i << "\":" << store::JsonText(plan_[static_cast<std::size_t>(i)]);
        }
        std::cout << ",\"socket\":" << a.socket << ",\"port\":" << store::JsonText(a.port)
                  << ",\"message\":" << store::JsonText(message) << ",\"duration_ms\":" << a.durationMs
                  << ",\"unsent\":" << sink_->Unsent() << "}\n";
    } else if (a.result == "skipped" || table_) {
        // Said on standard error below, or shown in the table.
    } else if (station) {
        std::cout << "\n==========  " << (result == "pass" ? "PASS" : "FAIL") << "  " << a.serial
                  << "  ==========";
        if (several) std::cout << "  socket " << a.socket << " " << a.port;
        std::cout << "\n";
    } else if (a.operation == "info" && result == "pass") {
        const module::Identity& id = socket.Engine().LastIdentity();
        std::cout << a.kind << "  version " << a.version << "  serial " << a.serial
                  << "  test date " << id.testDate;
        if (a.kind == "tx") std::cout << "  offset " << id.offset;
        std::cout << "\n";
    } else {
        std::cout << o_.command << " " << result << "  " << a.kind << "  serial " << a.serial
                  << "\n";
    }
    std::cout.flush();
    const std::string where = several ? "socket " + std::to_string(a.socket) + ": " : "";
    if (a.result == "skipped") {
        if (o_.json) {
            // The JSON line above says it.
        } else {
            Say(where + a.message + ": skipped (--again writes it again)");
        }
    } else if (result != "pass") {
        Error(where + (station ? std::string("write") : o_.command) + ": " + message);
    }
    if (table_) DrawTable();
    // A closed standard output ends the run once this module's row is kept.
    if (!std::cout.good() && !outputClosed_) {
        outputClosed_ = true;
        line_->RequestStop();
    }
}

void Programmer::OnPhase(const station::Socket&) {
    if (table_) DrawTable();
}

void Programmer::DrawTable() {
    // Redrawn in place: up over the last table, each line cleared first.
    if (tableLines_ > 0) std::cout << "\x1b[" << tableLines_ << "F";
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-6s %-7s %-28s %-34s %-9s %-11s %s\n", "socket", "port",
                  "device", "state", "serial", "last result", "elapsed");
    out += std::string("\x1b[2K") + line;
    for (const auto& s : line_->Sockets()) {
        const record::Attempt& last = s->LastAttempt();
        std::string state = s->PhaseText();
        if (state.size() > 34) state = state.substr(0, 31) + "...";
        std::string device = s->Config().device;
        if (device.size() > 28) device = "..." + device.substr(device.size() - 25);
        // A port given as a path is shown by its last part ("COM3").
        std::string port = s->Config().port;
        if (const std::size_t slash = port.rfind('/'); slash != std::string::npos) {
            port = port.substr(slash + 1);
        }
        char elapsed[32] = "";
        if (last.durationMs > 0) {
            std::snprintf(elapsed, sizeof elapsed, "%.1f s", last.durationMs / 1000.0);
        }
        std::snprintf(line, sizeof line, "%-6d %-7s %-28s %-34s %-9s %-11s %s\n",
                      s->Config().number, port.c_str(), device.c_str(), state.c_str(),
                      last.serial.c_str(), last.result.c_str(), elapsed);
        out += std::string("\x1b[2K") + line;
    }
    const station::Counts& t = line_->Total();
    std::snprintf(line, sizeof line, "passed %d  failed %d  skipped %d  %.0f per hour  %s\n",
                  t.passed, t.failed, t.skipped, line_->PassedPerHour(),
                  sink_->Unsent() > 0 ? (std::to_string(sink_->Unsent()) + " rows not yet sent").c_str()
                                      : "");
    out += std::string("\x1b[2K") + line;
    std::cout << out;
    std::cout.flush();
    tableLines_ = static_cast<int>(line_->Sockets().size()) + 2;
}

void Programmer::OnStationEnded(const station::Station& line) {
    for (const auto& s : line.Sockets()) {
        switch (s->Ended()) {
            case station::JobEnd::PortFailed:
                Error((line.Sockets().size() > 1 ? "socket " + std::to_string(s->Config().number) + ": " : std::string()) +
                      "Com port Error! (" + s->PortError() + ")");
                break;
            case station::JobEnd::NoModule:
                Error("Not Response!! (or target error) (no module answers on " + s->Config().port +
                      "; name the port with --port)");
                break;
            default:
                break;
        }
    }
    exitCode_ = line.ExitStatus();
    if (o_.command == "station") Summary();
    QCoreApplication::exit(exitCode_);
}

void Programmer::Summary() {
    const station::Station& line = *line_;
    const auto text = [](const station::Counts& c) {
        return std::to_string(c.written) + " written, " + std::to_string(c.passed) + " passed, " +
               std::to_string(c.failed) + " failed, " + std::to_string(c.skipped) + " skipped";
    };
    if (o_.json) {
        const auto json = [](const station::Counts& c) {
            return "\"written\":" + std::to_string(c.written) + ",\"passed\":" +
                   std::to_string(c.passed) + ",\"failed\":" + std::to_string(c.failed) +
                   ",\"skipped\":" + std::to_string(c.skipped);
        };
        std::cout << "{\"command\":\"summary\"," << json(line.Total()) << ",\"sockets\":[";
        for (const auto& s : line.Sockets()) {
            std::cout << (s->Config().number > 1 ? "," : "") << "{\"socket\":" << s->Config().number
                      << ",\"port\":" << store::JsonText(s->Config().port) << ","
                      << json(line.OfSocket(s->Config().number)) << "}";
        }
        std::cout << "],\"unsent\":" << sink_->Unsent() << ",\"exit\":" << exitCode_ << "}\n";
        std::cout.flush();
    }
    if (line.Sockets().size() > 1) {
        for (const auto& s : line.Sockets()) {
            Say("socket " + std::to_string(s->Config().number) + " " + s->Config().port + ": " +
                text(line.OfSocket(s->Config().number)));
        }
    }
    Say(text(line.Total()));
    if (const int unsent = sink_->Unsent(); unsent > 0) {
        Say(std::to_string(unsent) + " rows not yet sent to " + sink_->Describe());
    }
}

}  // namespace

}  // namespace modsetup

int main(int argc, char** argv) {
    using namespace modsetup;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (IsRecordCommand(args)) return RunRecordCommand(args, std::cout, std::cerr);
    const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::cerr << "modsetup: " << parsed.error << "\n(see modsetup --help)\n";
        return kExitUsage;
    }
    if (parsed.options.help) {
        std::cout << kUsageText;
        return kExitPass;
    }
    if (parsed.options.version) {
        std::cout << "modsetup " << SETUP_VERSION_MAJOR << "." << SETUP_VERSION_MINOR << "."
                  << SETUP_VERSION_PATCH << "\n";
        return kExitPass;
    }
    QCoreApplication app(argc, argv);
    Programmer programmer(
        parsed.options,
        runtime::ProgramPlaces(QCoreApplication::applicationDirPath().toStdString(), "modsetup"));

    // SIGINT, SIGTERM and SIGHUP end the running attempt at once; its row is
    // kept whole, the port closed and a summary printed.
    const auto stopOnSignal = runtime::OnTerminationSignals([&programmer] { programmer.Stop(); });
    return programmer.Run();
}
