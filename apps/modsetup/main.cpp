// modsetup: sets up receiver and transmitter modules from a fixture script.
// Each port is one station socket driving the module engine on the one event
// loop; every attempt is one record row, and the result comes from the
// engine's typed results only.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "control_bytes.h"
#include "file_places.h"
#include "file_system.h"
#include "frequency.h"
#include "json_text.h"
#include "live_table.h"
#include "open_doors.h"
#include "options.h"
#include "plan.h"
#include "port_survey.h"
#include "ports_command.h"
#include "program_runtime.h"
#include "qt_serial_port.h"
#include "record_commands.h"
#include "socket_port.h"
#include "sql_record.h"
#include "station.h"
#include "station_id.h"
#include "station_link.h"
#include "tool_version.h"

namespace modsetup {

namespace {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string FormatMHz(double v) {
    return channel::FormatFixed(v, 6);
}

// Whether standard error shows on the terminal that standard output is: its
// messages then scroll above the live table.
bool ErrorsOnTheTerminal() {
    struct stat out {};
    struct stat err {};
    return ::isatty(STDERR_FILENO) == 1 && ::fstat(STDOUT_FILENO, &out) == 0 &&
           ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// A socket as the live table shows it.
TableRow RowOf(const station::Socket& s) {
    const record::Attempt& last = s.LastAttempt();
    TableRow row;
    row.number = s.Config().number;
    row.port = s.Config().port;
    row.device = s.Config().device;
    row.state = s.PhaseText();
    using station::Phase;
    const Phase phase = s.CurrentPhase();
    // What the doors show too.
    row.serial = doors::ShownSerial(s);
    // Nothing before the socket's first attempt.
    if (!last.attemptId.empty()) row.result = record::ToText(last.result);
    if (last.durationMs > 0) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", last.durationMs / 1000.0);
        row.time = time;
    }
    // A module to take out, an adapter to plug in.
    row.attention = phase == Phase::Failed || phase == Phase::NotRecorded ||
                    phase == Phase::Skipped || phase == Phase::AdapterMissing ||
                    s.Ended() == station::JobEnd::PortFailed;
    return row;
}

// The built-in serial ports (COM1-COM4 without a ports/ link) are never
// chosen for a fixture by themselves: they open whether or not an adapter
// is plugged in.
bool BuiltInPort(const std::string& device) {
    return device.rfind("/dev/ttyS", 0) == 0;
}

// Two stations run from one data folder must not share an outbox: each
// appends to its own journal.
std::string MqttOutboxName(const std::string& station) {
    std::string name;
    for (const char c : station) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        name += plain ? c : '_';
    }
    return "modsetup_mqtt_" + name + ".outbox";
}

// The identity of a kind with a frequency offset carries it.
bool HasOffset(const std::string& kindName) {
    const module::Kind* kind = module::KindByName(kindName);
    return kind && kind->hasOffset;
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
    // The doors asked for, attached to the station made; false once said why.
    bool OpenDoors();
    void DoorNotice(const std::string& text);
    void Say(const std::string& line);
    void Error(const std::string& what);
    void Summary();

    // station::StationObserver
    bool AcceptPlan(const station::Socket& socket, const module::Kind& kind) override;
    void OnAttemptBegun(const station::Socket& socket, const record::Attempt& a) override;
    void OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                   const std::string& recordError) override;
    void OnPhase(const station::Socket& socket) override;
    void OnAdapter(const station::Socket& socket, bool present, const std::string& reason) override;
    void OnStationEnded(const station::Station& station) override;
    // The live table of a station on a terminal: a line per socket, totals,
    // redrawn at most every kRedrawEvery and only where it changed.
    void RequestDraw();
    void DrawTable();
    void FinishTable();
    static constexpr std::chrono::milliseconds kRedrawEvery{250};

    Options o_;
    store::PortFolders portFolders_;
    std::string dataFolder_;
    std::string logPath_;
    std::string station_;
    std::string stationId_;  // this installation's, from the data folder
    station::PlanTexts plan_;
    // The record, the ports and the sockets, taken apart in order at the end.
    station::QtStationParts parts_{portFolders_};
    station::StationAssembly assembly_{parts_};
    // The doors see the station through the hub only; they close before
    // the link and the hub go. Posts to a context that is gone are dropped.
    doors::Hub hub_;
    QObject linkContext_;
    std::unique_ptr<doors::StationLink> link_;
    std::unique_ptr<doors::Doors> doors_;
    bool stopped_ = false;
    bool outputClosed_ = false;
    bool table_ = false;        // a live table instead of result lines
    bool logOnScreen_ = false;  // standard error scrolls above it
    LiveTable live_;
    QTimer drawTimer_;
    std::chrono::steady_clock::time_point lastDraw_{};
    int exitCode_ = kExitPass;
};

void Programmer::Say(const std::string& line) {
    if (!o_.quiet) Error(line);
}

void Programmer::Error(const std::string& what) {
    // A station name or a module's reply with a newline in it must not
    // make a line of its own, nor move the terminal's cursor.
    const std::string line = "modsetup: " + store::EscapeControlBytes(what);
    std::cerr << line << "\n";
    if (table_ && logOnScreen_) live_.Logged(line);
}

int Programmer::Run() {
    if (o_.command == "ports") return Ports();
    if (NeedsPlan(o_.command) && !LoadPlan()) return kExitUsage;
    if (o_.command == "plan") return ShowPlan();
    return ModuleCommand();
}

void Programmer::Stop() {
    stopped_ = true;
    if (station::Station* line = assembly_.Line()) {
        line->RequestStop();
        // The attempts under way end once the record has their rows; a
        // record that does not answer (a server stopped mid-statement) must
        // not keep the station from ending.
        QTimer::singleShot(10000, [this] {
            if (!assembly_.Line() || !assembly_.Line()->Running()) return;
            Error(
                "the record did not answer within 10 s; the attempts under way stay "
                "\"running\" in it");
            QCoreApplication::exit(kExitUsage);
        });
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
        plan_.assign(o_.channels.begin(), o_.channels.end());
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
// --force was not given; -1 when it may be written. A plan of another count
// than the kind's channels is refused even so: there is nothing to write
// into the channels it lacks.
int Programmer::RefusePlan(const module::Kind& kind) {
    const std::vector<std::string> problems = station::PlanProblems(kind, plan_);
    const bool forced = o_.force && static_cast<int>(plan_.size()) == kind.channelCount;
    for (const std::string& p : problems) Error((forced ? "warning: " : "") + p);
    if (problems.empty() || forced) return -1;
    Error("plan refused (--force writes it anyway)");
    return kExitUsage;
}

int Programmer::ShowPlan() {
    bool refused = false;
    for (const module::Kind* k : module::Kinds()) {
        if (!o_.kind.empty() && o_.kind != k->name) continue;
        for (int i = 0; i < static_cast<int>(plan_.size()); ++i) {
            const station::ChannelPlan c =
                station::EvaluateChannel(*k, plan_[static_cast<std::size_t>(i)]);
            refused = refused || !c.problem.empty();
            std::string regs;
            for (const auto& reg : c.registers) regs += (regs.empty() ? "" : ",") + reg;
            const std::string produced = c.makeable ? FormatMHz(c.producedMHz) : "--";
            const std::string error = c.makeable ? channel::FormatFixed(c.errorHz, 1) : "--";
            if (o_.json) {
                std::cout << "{\"command\":\"plan\",\"kind\":" << record::JsonText(k->name)
                          << ",\"channel\":" << i << ",\"frequency\":" << record::JsonText(c.text)
                          << ",\"registers\":" << record::JsonText(regs)
                          << ",\"produced_mhz\":" << record::JsonText(produced)
                          << ",\"error_hz\":" << record::JsonText(error)
                          << ",\"result\":" << record::JsonText(c.problem.empty() ? "pass" : "fail")
                          << ",\"message\":" << record::JsonText(c.problem) << "}\n";
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
    std::string idError;
    stationId_ = record::StationId(dataFolder_, &idError);
    if (stationId_.empty()) {
        Error(idError);
        return kExitUsage;
    }
    record::SinkOptions sinkOptions;
    sinkOptions.station = station_;
    sinkOptions.stationId = stationId_;
    sinkOptions.logPath = logPath_;
    sinkOptions.dbUri = o_.db;
    sinkOptions.spoolFolder = dataFolder_;
    // The record lives on a thread of its own, off the wire's; it is opened
    // (and waited for) before any port is touched.
    std::string error, warning;
    if (!assembly_.OpenRecord(sinkOptions, &error, &warning)) {
        Error(error);
        return kExitUsage;
    }
    if (!warning.empty()) Error("warning: " + warning);
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

    const station::Job job = o_.command == "info"    ? station::Job::Info
                             : o_.command == "write" ? station::Job::Write
                             : o_.command == "check" ? station::Job::Check
                             : o_.command == "test"  ? station::Job::Test
                                                     : station::Job::Station;
    std::vector<std::string> problems;
    if (!assembly_.OpenPorts(names, fixed, &problems)) {
        for (const std::string& p : problems) Error(p);
        return kExitPort;
    }
    station::SocketsSetup setup;
    setup.job = job;
    setup.plan = plan_;
    setup.fixedKind = fixed;
    setup.station = station_;
    setup.stationId = stationId_;
    setup.operatorName = o_.operatorName;
    setup.toolVersion = kToolVersion;
    setup.count = o_.count;
    setup.again = o_.again;
    setup.verify = !o_.noCheck;
    setup.testChannel = o_.testChannel < 0 ? 0 : o_.testChannel;
    setup.autoPort = automatic;
    setup.trigger = o_.doors.triggerPlc;
    assembly_.MakeStation(setup, *this);

    const bool station = job == station::Job::Station;
    // Before production: a door that cannot open is a station set up wrong.
    if (station && o_.doors.Any() && !OpenDoors()) return kExitUsage;
    table_ = station && !o_.json && ::isatty(STDOUT_FILENO) == 1;
    logOnScreen_ = table_ && ErrorsOnTheTerminal();
    drawTimer_.setSingleShot(true);
    QObject::connect(&drawTimer_, &QTimer::timeout, [this] { DrawTable(); });
    if (station) {
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        Say("station " + station_ + " on " + list + ": waiting for modules");
        if (doors_) Say("doors: " + doors_->Describe());
    }
    // Rows a database could not take yet are sent while the line runs.
    QTimer flush;
    QObject::connect(&flush, &QTimer::timeout, [this] {
        // A reader that went away (modsetup station --json | head -1) ends
        // the run even while no result is written: SIGPIPE is ignored.
        pollfd out{STDOUT_FILENO, 0, 0};
        if (!outputClosed_ && ::poll(&out, 1, 0) > 0 && (out.revents & (POLLERR | POLLHUP))) {
            outputClosed_ = true;
            assembly_.Line()->RequestStop();
        }
        // The passes per hour move with the time, and rows get sent.
        RequestDraw();
        if (link_) link_->Refresh();
    });
    flush.start(1000);
    assembly_.Line()->Start();
    if (link_) link_->Started();
    if (assembly_.Line()->Running()) QCoreApplication::exec();
    flush.stop();
    if (!assembly_.DrainRecord(10000)) {
        Error("the record did not answer within 10 s; what it was given may be incomplete");
        if (exitCode_ == kExitPass) exitCode_ = kExitUsage;
    }
    if (const record::RecordState r = assembly_.Record().State(); r.unsent > 0) {
        Error(std::to_string(r.unsent) + " rows not yet sent to " + r.describe +
              "; they are kept and sent by the next run");
    }
    // Every attempt's end has reached the hub by now; what the MQTT broker
    // has not acknowledged stays in the outbox for the next run.
    doors_.reset();
    if (link_) link_->Detach();
    assembly_.TearDown();
    return exitCode_;
}

bool Programmer::OpenDoors() {
    doors::DoorsOptions options = o_.doors;
    if (options.mqtt && options.mqttOutbox.empty()) {
        options.mqttOutbox = dataFolder_ + "/" + MqttOutboxName(station_);
    }
    doors::LinkHooks hooks;
    // The hub wakes us from a door's thread with its lock held: only a
    // queued call onto this thread, which drains the commands in its turn.
    hooks.post = [this](std::function<void()> fn) {
        QMetaObject::invokeMethod(&linkContext_, std::move(fn), Qt::QueuedConnection);
    };
    // As SIGTERM: the attempts under way end with whole rows, and the
    // record gets its 10 s.
    hooks.stop = [this] { Stop(); };
    hooks.startRefusal =
        "modsetup's set-up is fixed on its command line: the station started when it was run";
    hooks.notice = [this](const std::string& text) { DoorNotice(text); };
    link_ = std::make_unique<doors::StationLink>(
        hub_, doors::StationFacts{station_, stationId_, kToolVersion}, std::move(hooks));
    link_->Attach(*assembly_.Line(), assembly_.Record());
    std::string error;
    doors_ = doors::OpenDoors(options, hub_, &error);
    if (!doors_) {
        Error(error);
        link_->Detach();
        link_.reset();
        return false;
    }
    return true;
}

void Programmer::DoorNotice(const std::string& text) {
    if (o_.json) {
        std::cout << "{\"command\":\"door\",\"message\":" << record::JsonText(text) << "}\n";
        std::cout.flush();
        return;
    }
    Error(text);
}

void Programmer::OnAttemptBegun(const station::Socket& socket, const record::Attempt& a) {
    if (link_) link_->OnAttemptBegun(socket, a);
}

bool Programmer::AcceptPlan(const station::Socket&, const module::Kind& kind) {
    // The plan is judged for the kind that answered.
    if (!NeedsPlan(o_.command)) return true;
    return RefusePlan(kind) < 0;
}

void Programmer::OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                           const std::string& recordError) {
    if (link_) link_->OnAttempt(socket, a, logged, recordError);
    const bool station = o_.command == "station";
    const bool several = assembly_.Line()->Sockets().size() > 1;
    // A result that cannot be recorded is no pass: a script must not take
    // the module for done when the records do not say so.
    const record::Result result = !logged ? record::Result::NotRecorded : a.result;
    std::string message = a.message;
    if (!logged) {
        message = "record: " + recordError + (message.empty() ? "" : "; " + message);
    }
    if (o_.json) {
        std::cout << "{\"command\":"
                  << record::JsonText(station ? std::string("write") : o_.command)
                  << ",\"result\":" << record::JsonText(record::ToText(result))
                  << ",\"kind\":" << record::JsonText(a.kind)
                  << ",\"serial\":" << record::JsonText(a.serial)
                  << ",\"version\":" << record::JsonText(a.version);
        if (a.operation == record::Operation::Info) {
            const module::Identity& id = socket.Engine().LastIdentity();
            std::cout << ",\"test_date\":" << record::JsonText(id.testDate);
            if (HasOffset(a.kind)) std::cout << ",\"offset\":" << record::JsonText(id.offset);
        }
        for (int i = 0; i < static_cast<int>(plan_.size()) && a.operation != record::Operation::Info;
             ++i) {
            std::cout << ",\"ch" << i
                      << "\":" << record::JsonText(plan_[static_cast<std::size_t>(i)]);
        }
        std::cout << ",\"socket\":" << a.socket << ",\"port\":" << record::JsonText(a.port)
                  << ",\"attempt_id\":" << record::JsonText(a.attemptId)
                  << ",\"started_at\":" << record::JsonText(a.startedAt)
                  << ",\"message\":" << record::JsonText(message)
                  << ",\"duration_ms\":" << a.durationMs
                  << ",\"write_ms\":" << socket.LastWriteMs()
                  << ",\"unsent\":" << assembly_.Record().State().unsent << "}\n";
    } else if (a.result == record::Result::Skipped || table_) {
        // Said on standard error below, or shown in the table.
    } else if (station) {
        std::cout << "\n==========  "
                  << (result == record::Result::Pass ? "PASS"
                      : !logged                      ? "NOT RECORDED"
                                                     : "FAIL")
                  << "  " << a.serial << "  ==========";
        if (several) std::cout << "  socket " << a.socket << " " << a.port;
        std::cout << "\n";
    } else if (a.operation == record::Operation::Info && result == record::Result::Pass) {
        const module::Identity& id = socket.Engine().LastIdentity();
        std::cout << a.kind << "  version " << a.version << "  serial " << a.serial
                  << "  test date " << id.testDate;
        if (HasOffset(a.kind)) std::cout << "  offset " << id.offset;
        std::cout << "\n";
    } else {
        std::cout << o_.command << " " << record::ToText(result) << "  " << a.kind << "  serial "
                  << a.serial << "\n";
    }
    std::cout.flush();
    const std::string where = several ? "socket " + std::to_string(a.socket) + ": " : "";
    if (a.result == record::Result::Skipped) {
        if (o_.json) {
            // The JSON line above says it.
        } else {
            Say(where + a.message + ": skipped (--again writes it again)");
        }
    } else if (result != record::Result::Pass) {
        Error(where + (station ? std::string("write") : o_.command) + ": " + message);
    }
    RequestDraw();
    // A closed standard output ends the run once this module's row is kept.
    if (!std::cout.good() && !outputClosed_) {
        outputClosed_ = true;
        assembly_.Line()->RequestStop();
    }
}

void Programmer::OnAdapter(const station::Socket& socket, bool present, const std::string& reason) {
    if (link_) link_->OnAdapter(socket, present, reason);
    // Off a terminal too: a station whose hub dropped must not sit silent.
    const station::SocketConfig& c = socket.Config();
    if (o_.json) {
        std::cout << "{\"command\":\"adapter\",\"socket\":" << c.number
                  << ",\"port\":" << record::JsonText(c.port)
                  << ",\"present\":" << (present ? "true" : "false")
                  << ",\"reason\":" << record::JsonText(reason) << "}\n";
        std::cout.flush();
    }
    const std::string where = "socket " + std::to_string(c.number) + " " + c.port + ": ";
    if (present) {
        Say(where + "adapter back");
    } else {
        Error(where + "adapter missing (" + reason + "); waiting for it");
    }
}

void Programmer::OnPhase(const station::Socket& socket) {
    if (link_) link_->OnPhase(socket);
    RequestDraw();
}

void Programmer::RequestDraw() {
    if (!table_ || drawTimer_.isActive()) return;
    const auto since = std::chrono::steady_clock::now() - lastDraw_;
    const auto wait =
        since >= kRedrawEvery
            ? std::chrono::milliseconds(0)
            : std::chrono::duration_cast<std::chrono::milliseconds>(kRedrawEvery - since);
    drawTimer_.start(wait);
}

void Programmer::DrawTable() {
    lastDraw_ = std::chrono::steady_clock::now();
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        size.ws_col = 80;
        size.ws_row = 24;
    }
    std::vector<TableRow> rows;
    for (const auto& s : assembly_.Line()->Sockets()) rows.push_back(RowOf(*s));
    const station::Counts& t = assembly_.Line()->Total();
    const std::optional<double> perHour = assembly_.Line()->PassedPerHour();
    char rate[32] = "--";
    if (perHour) std::snprintf(rate, sizeof rate, "%.0f", *perHour);
    std::string totals = "passed " + std::to_string(t.passed) + "  failed " +
                         std::to_string(t.failed) + "  skipped " + std::to_string(t.skipped) +
                         "  passes per hour (last 15 min) " + rate;
    if (const int unsent = assembly_.Record().State().unsent; unsent > 0) {
        totals += "  " + std::to_string(unsent) + " rows not yet sent";
    }
    const std::vector<std::string> lines =
        LayOutTable(rows, totals, size.ws_col, TableLinesFor(size.ws_row));
    const std::string bytes = live_.Draw(lines, size.ws_col, size.ws_row);
    if (bytes.empty()) return;
    std::cout << bytes;
    std::cout.flush();
}

// The last state stays on the screen, the summary goes below it.
void Programmer::FinishTable() {
    if (!table_) return;
    drawTimer_.stop();
    DrawTable();
    std::cout << live_.Finish();
    std::cout.flush();
    table_ = false;
}

void Programmer::OnStationEnded(const station::Station& line) {
    if (link_) link_->OnStationEnded(line);
    FinishTable();
    for (const auto& s : line.Sockets()) {
        switch (s->Ended()) {
            case station::JobEnd::PortFailed:
                Error((line.Sockets().size() > 1
                           ? "socket " + std::to_string(s->Config().number) + ": "
                           : std::string()) +
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
    if (line.RecordFailed()) {
        Error(line.RecordError() + "; no module was taken after it");
    }
    if (o_.command == "station") Summary();
    QCoreApplication::exit(exitCode_);
}

void Programmer::Summary() {
    const station::Station& line = *assembly_.Line();
    const auto text = [](const station::Counts& c) {
        std::string t = std::to_string(c.written) + " written, " + std::to_string(c.passed) +
                        " passed, " + std::to_string(c.failed) + " failed, " +
                        std::to_string(c.skipped) + " skipped";
        if (c.notRecorded > 0) t += ", " + std::to_string(c.notRecorded) + " not recorded";
        if (c.adapterLosses > 0) {
            t += ", adapter lost " + std::to_string(c.adapterLosses) +
                 (c.adapterLosses == 1 ? " time" : " times");
        }
        return t;
    };
    if (o_.json) {
        const auto json = [](const station::Counts& c) {
            return "\"written\":" + std::to_string(c.written) +
                   ",\"passed\":" + std::to_string(c.passed) +
                   ",\"failed\":" + std::to_string(c.failed) +
                   ",\"skipped\":" + std::to_string(c.skipped) +
                   ",\"not_recorded\":" + std::to_string(c.notRecorded) +
                   ",\"adapter_losses\":" + std::to_string(c.adapterLosses);
        };
        std::cout << "{\"command\":\"summary\"," << json(line.Total()) << ",\"sockets\":[";
        for (const auto& s : line.Sockets()) {
            std::cout << (s->Config().number > 1 ? "," : "") << "{\"socket\":" << s->Config().number
                      << ",\"port\":" << record::JsonText(s->Config().port) << ","
                      << json(line.OfSocket(s->Config().number)) << "}";
        }
        std::cout << "],\"unsent\":" << assembly_.Record().State().unsent
                  << ",\"record_error\":" << record::JsonText(line.RecordError())
                  << ",\"exit\":" << exitCode_ << "}\n";
        std::cout.flush();
    }
    if (line.Sockets().size() > 1) {
        for (const auto& s : line.Sockets()) {
            Say("socket " + std::to_string(s->Config().number) + " " + s->Config().port + ": " +
                text(line.OfSocket(s->Config().number)));
        }
    }
    Say(text(line.Total()));
    if (const int unsent = assembly_.Record().State().unsent; unsent > 0) {
        Say(std::to_string(unsent) + " rows not yet sent to " + assembly_.Record().State().describe);
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
        std::cout << (parsed.options.command == "station" ? StationUsageText() : kUsageText);
        return kExitPass;
    }
    if (parsed.options.version) {
        std::cout << "modsetup " << kToolVersion << "\n";
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
