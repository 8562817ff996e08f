// modsetup: sets up receiver and transmitter modules from a fixture script.
// Each port is one station socket driving the module engine on the one event
// loop; every attempt is one record row, and the result comes from the
// engine's typed results only.
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <cstdio>
#include <iostream>
#include <memory>

#include "csv_sink.h"
#include "file_places.h"
#include "file_system.h"
#include "frequency.h"
#include "options.h"
#include "plan.h"
#include "program_runtime.h"
#include "qt_serial_port.h"
#include "qt_timers.h"
#include "socket.h"

namespace modsetup {

namespace {

std::string ToolVersionText() {
    return std::to_string(SETUP_VERSION_MAJOR) + "." + std::to_string(SETUP_VERSION_MINOR) + "." +
           std::to_string(SETUP_VERSION_PATCH);
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
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

class Programmer : public station::SocketObserver {
  public:
    Programmer(const Options& options, const store::FilePlaces& places)
        : o_(options), folder_(places.config) {
        if (o_.logPath.empty()) {
            store::fsys::MakeFolders(places.data);
            logPath_ = places.data + "/modsetup_log.csv";
        } else {
            logPath_ = o_.logPath;
        }
        station_ = o_.station.empty() ? HostName() : o_.station;
        sink_ = std::make_unique<record::CsvSink>(logPath_);
    }

    int Run();
    // A termination signal: every socket ends its attempt with a whole row.
    void Stop();

  private:
    bool LoadPlan();
    int RefusePlan(const module::Kind& kind, bool quietly);
    bool PlanRefusedForEveryKind() const;
    int ShowPlan();
    int Ports();
    std::string ChoosePort(int* exitCode, bool* automatic);
    int ModuleCommand();
    void Say(const std::string& line) const;
    void Error(const std::string& what) const;
    void Summary();

    // station::SocketObserver
    bool AcceptPlan(const station::Socket& socket, const module::Kind& kind) override;
    void OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                   const std::string& recordError) override;
    void OnJobEnded(const station::Socket& socket) override;

    Options o_;
    std::string folder_;
    std::string logPath_;
    std::string station_;
    station::PlanTexts plan_;
    std::unique_ptr<record::CsvSink> sink_;
    std::unique_ptr<wire::QtSerialPort> port_;
    std::unique_ptr<module::QtTimers> timers_;
    std::unique_ptr<station::Socket> socket_;
    bool stopped_ = false;
    bool recordFailed_ = false;
    bool outputClosed_ = false;
    int exitCode_ = kExitPass;
    int written_ = 0, passed_ = 0, failed_ = 0, skipped_ = 0;
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
    if (socket_) {
        socket_->RequestStop();
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
int Programmer::RefusePlan(const module::Kind& kind, bool quietly) {
    bool refused = false;
    for (int i = 0; i < 4; ++i) {
        const station::ChannelPlan c = station::EvaluateChannel(kind, plan_[static_cast<std::size_t>(i)]);
        if (c.problem.empty()) continue;
        if (!quietly) {
            Error(std::string(o_.force ? "warning: " : "") + kind.name + " Ch" + std::to_string(i) +
                  " " + c.text + " MHz: " + c.problem);
        }
        refused = true;
    }
    if (!refused || o_.force) return -1;
    if (!quietly) Error("plan refused (--force writes it anyway)");
    return kExitUsage;
}

bool Programmer::PlanRefusedForEveryKind() const {
    if (o_.force) return false;
    for (const module::Kind* k : module::Kinds()) {
        bool refused = false;
        for (const std::string& text : plan_) {
            refused = refused || !station::EvaluateChannel(*k, text).problem.empty();
        }
        if (!refused) return false;
    }
    return true;
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
                std::cout << "{\"command\":\"plan\",\"kind\":" << JsonText(k->name)
                          << ",\"channel\":" << i << ",\"frequency\":" << JsonText(c.text)
                          << ",\"registers\":" << JsonText(regs)
                          << ",\"produced_mhz\":" << JsonText(produced)
                          << ",\"error_hz\":" << JsonText(error)
                          << ",\"result\":" << JsonText(c.problem.empty() ? "pass" : "fail")
                          << ",\"message\":" << JsonText(c.problem) << "}\n";
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
    wire::QtSerialPort probe(folder_);
    const auto infos = QSerialPortInfo::availablePorts();
    for (int n = 1; n <= 255; ++n) {
        probe.SetPortNumber(n);
        if (!probe.Open()) continue;
        probe.Close();
        const std::string device = probe.DevicePath();
        const QString canonical = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
        std::string usb;
        for (const QSerialPortInfo& info : infos) {
            if (info.systemLocation() != canonical) continue;
            for (const QString& fact :
                 {info.description(), info.manufacturer(), info.serialNumber()}) {
                if (!fact.isEmpty()) usb += (usb.empty() ? "" : ", ") + fact.toStdString();
            }
        }
        const std::string name = "COM" + std::to_string(n);
        if (o_.json) {
            std::cout << "{\"command\":\"ports\",\"port\":" << JsonText(name)
                      << ",\"device\":" << JsonText(device)
                      << ",\"opens\":" << JsonText(canonical.toStdString())
                      << ",\"usb\":" << JsonText(usb) << "}\n";
        } else {
            std::cout << name << "\t" << device;
            if (canonical.toStdString() != device) std::cout << " -> " << canonical.toStdString();
            if (!usb.empty()) std::cout << "\t" << usb;
            std::cout << "\n";
        }
    }
    return kExitPass;
}

std::string Programmer::ChoosePort(int* exitCode, bool* automatic) {
    *automatic = false;
    if (!o_.port.empty()) return o_.port;
    *automatic = true;
    wire::QtSerialPort probe(folder_);
    std::vector<std::string> names;
    for (int n = 1; n <= 255; ++n) {
        probe.SetPortNumber(n);
        if (!probe.Open()) continue;
        probe.Close();
        if (BuiltInPort(probe.DevicePath())) continue;
        names.push_back("COM" + std::to_string(n));
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
    if (NeedsPlan(o_.command) && (fixed || PlanRefusedForEveryKind())) {
        const int refused = RefusePlan(fixed ? *fixed : *module::Kinds().front(), false);
        if (refused >= 0) return refused;
    }
    // A module written without its row would be lost to the records.
    std::string error;
    if (!sink_->Writable(&error)) {
        Error(error);
        return kExitUsage;
    }
    int code = kExitPass;
    bool automatic = false;
    const std::string port = ChoosePort(&code, &automatic);
    if (port.empty()) return code;
    if (stopped_) return kExitModuleFailed;

    port_ = std::make_unique<wire::QtSerialPort>(folder_);
    if (port.find('/') != std::string::npos) {
        port_->SetDeviceOverride(port);
    } else {
        port_->SetPortNumber(wire::PortNumberFromName(port));
    }
    const std::string comNotOpen = fixed && fixed->letter == 'T' ? "COM Not Open!!" : "COM Not Open!";
    if (!port_->SetDtr(true) || !port_->SetRts(true) || !port_->Open()) {
        Error(comNotOpen + " (" + port + ": " + port_->LastError() + ")");
        return kExitPort;
    }

    station::SocketConfig config;
    config.number = 1;
    config.port = port;
    config.device = port_->DevicePath();
    config.station = station_;
    config.toolVersion = ToolVersionText();
    config.fixedKind = fixed;
    config.again = o_.again;
    config.plan = plan_;
    config.verify = !o_.noCheck;
    config.testChannel = o_.testChannel < 0 ? 0 : o_.testChannel;
    config.job = o_.command == "info"    ? station::Job::Info
                 : o_.command == "write" ? station::Job::Write
                 : o_.command == "check" ? station::Job::Check
                 : o_.command == "test"  ? station::Job::Test
                                         : station::Job::Station;
    timers_ = std::make_unique<module::QtTimers>();
    socket_ = std::make_unique<station::Socket>(config, *port_, *timers_, *sink_, *this);
    socket_->SetAutoPort(automatic);
    timers_->SetTickHandler([this](module::TimerId id) { socket_->OnTimer(id); });
    port_->SetReceiveHandler([this](wire::CommEvent e) { socket_->OnPortEvent(e); });

    if (o_.command == "station") Say("station " + station_ + " on " + port + ": waiting for a module");
    socket_->Start();
    const int loopCode = socket_->Ended() == station::JobEnd::Running ? QCoreApplication::exec()
                                                                     : exitCode_;
    port_->SetReceiveHandler(nullptr);
    timers_->StopAll();
    if (port_->IsOpen()) port_->Close();
    (void)loopCode;
    return exitCode_;
}

bool Programmer::AcceptPlan(const station::Socket&, const module::Kind& kind) {
    // The plan is judged for the kind that answered.
    if (!NeedsPlan(o_.command)) return true;
    const int refused = RefusePlan(kind, false);
    if (refused < 0) return true;
    exitCode_ = refused;
    return false;
}

void Programmer::OnAttempt(const station::Socket& socket, const record::Attempt& a, bool logged,
                           const std::string& recordError) {
    const bool pass = a.result == "pass";
    const bool writes = a.operation == "write" || a.operation == "write-unverified";
    const bool station = o_.command == "station";
    if (a.result == "skipped") {
        ++skipped_;
    } else if (logged || !recordError.empty()) {
        if (writes && a.failedStep != "identity") ++written_;
        if (pass && logged) {
            ++passed_;
        } else if (a.result != "running") {
            ++failed_;
        }
    }
    // A result that cannot be recorded is no pass: a script must not take
    // the module for done when the records do not say so.
    const std::string result = !logged ? "fail" : a.result;
    std::string message = a.message;
    if (!logged) {
        message = "production log: " + recordError + (message.empty() ? "" : "; " + message);
        recordFailed_ = true;
    }
    if (o_.json) {
        std::cout << "{\"command\":" << JsonText(station ? std::string("write") : o_.command)
                  << ",\"result\":" << JsonText(result) << ",\"kind\":" << JsonText(a.kind)
                  << ",\"serial\":" << JsonText(a.serial) << ",\"version\":" << JsonText(a.version);
        if (a.operation == "info") {
            const module::Identity& id = socket.Engine().LastIdentity();
            std::cout << ",\"test_date\":" << JsonText(id.testDate);
            if (a.kind == "tx") std::cout << ",\"offset\":" << JsonText(id.offset);
        }
        for (int i = 0; i < 4 && a.operation != "info"; ++i) {
            std::cout << ",\"ch" << i << "\":" << JsonText(plan_[static_cast<std::size_t>(i)]);
        }
        std::cout << ",\"socket\":" << a.socket << ",\"port\":" << JsonText(a.port)
                  << ",\"message\":" << JsonText(message) << ",\"duration_ms\":" << a.durationMs
                  << "}\n";
    } else if (a.result == "skipped") {
        // Said on standard error below.
    } else if (station) {
        std::cout << "\n==========  " << (result == "pass" ? "PASS" : "FAIL") << "  " << a.serial
                  << "  ==========\n";
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
    if (a.result == "skipped") {
        Say(a.message + ": skipped (--again writes it again)");
    } else if (result != "pass") {
        Error((station ? std::string("write") : o_.command) + ": " + message);
    }
    // A closed standard output ends the run once this module's row is kept.
    if (!std::cout.good() && !outputClosed_) {
        outputClosed_ = true;
        socket_->RequestStop();
        return;
    }
    if (!logged) return;  // the socket ends its job
    if (station && o_.count > 0 && written_ >= o_.count) socket_->RequestStop();
}

void Programmer::OnJobEnded(const station::Socket& socket) {
    using station::JobEnd;
    const bool station = o_.command == "station";
    switch (socket.Ended()) {
        case JobEnd::PortFailed:
            Error("Com port Error! (" + socket.PortError() + ")");
            exitCode_ = kExitPort;
            break;
        case JobEnd::NoModule:
            Error("Not Response!! (or target error) (no module answers on " + socket.Config().port +
                  "; name the port with --port)");
            exitCode_ = kExitPort;
            break;
        case JobEnd::RecordFailed:
            exitCode_ = kExitUsage;
            break;
        case JobEnd::PlanRefused:
            if (exitCode_ == kExitPass) exitCode_ = kExitUsage;
            break;
        case JobEnd::Done:
        case JobEnd::Stopped:
        case JobEnd::Running:
            if (recordFailed_) {
                exitCode_ = kExitUsage;
            } else if (failed_ > 0) {
                exitCode_ = kExitModuleFailed;
            } else if (station) {
                // A stop while the socket was empty is a normal end of the
                // shift; one before the count was reached, or a run that only
                // skipped, is not what the script asked for.
                const bool short_ = o_.count > 0 && passed_ < o_.count;
                const bool onlySkips = skipped_ > 0 && passed_ == 0;
                exitCode_ = short_ || onlySkips ? kExitModuleFailed : kExitPass;
            } else {
                exitCode_ = passed_ > 0 ? kExitPass : kExitModuleFailed;
            }
            break;
    }
    if (recordFailed_) exitCode_ = kExitUsage;
    if (station) Summary();
    QCoreApplication::exit(exitCode_);
}

void Programmer::Summary() {
    if (o_.json) {
        std::cout << "{\"command\":\"summary\",\"written\":" << written_ << ",\"passed\":" << passed_
                  << ",\"failed\":" << failed_ << ",\"skipped\":" << skipped_
                  << ",\"exit\":" << exitCode_ << "}\n";
        std::cout.flush();
    }
    Say(std::to_string(written_) + " written, " + std::to_string(passed_) + " passed, " +
        std::to_string(failed_) + " failed, " + std::to_string(skipped_) + " skipped");
}

}  // namespace

}  // namespace modsetup

int main(int argc, char** argv) {
    using namespace modsetup;
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
