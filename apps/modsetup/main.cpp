// modsetup: sets up receiver and transmitter modules from a fixture script,
// with the windows' own model and sequences, an exit code, one result line
// per operation and a production log row per attempt.
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>

#include "file_places.h"
#include "file_system.h"
#include "frequency.h"
#include "module_session.h"
#include "options.h"
#include "plan.h"
#include "production_log.h"
#include "program_runtime.h"
#include "qt_serial_port.h"
#include "record_commands.h"
#include "recv_profile.h"
#include "send_profile.h"
#include "text_file.h"

namespace modsetup {

namespace {

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

// The one place that decides where the production log lives by default.
std::string DefaultProductionLogPath(const window::Platform& platform) {
    return platform.DataFolder() + "/modsetup_log.csv";
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string FormatMHz(double v) {
    return channel::FormatFixed(v, 6);
}

class Programmer {
  public:
    // ports/ is looked up in the config folder, the log kept in the data folder.
    Programmer(const Options& options, const store::FilePlaces& places)
        : o_(options), folder_(places.config), platform_(places.config, places.data, "modsetup") {
        if (o_.logPath.empty()) {
            store::fsys::MakeFolders(platform_.DataFolder());
            logPath_ = DefaultProductionLogPath(platform_);
        } else {
            logPath_ = o_.logPath;
        }
        station_ = o_.station.empty() ? HostName() : o_.station;
    }

    int Run();
    void Stop() {
        stopped_ = true;
        if (session_) session_->RequestStop();
    }

  private:
    int Ports();
    int ShowPlan();
    bool LoadPlan();
    int RefusePlan(const window::ToolProfile& profile);
    bool PlanRefusedForBoth() const;
    std::string ChoosePort(int* exitCode);
    int ModuleCommand();
    int Station();
    // Reports a result on stdout/stderr and logs it; false when the log
    // cannot be written.
    bool Report(const ModuleResult& r, long long ms);
    void Summary();

    Options o_;
    std::string folder_;
    HeadlessPlatform platform_;
    std::string logPath_;
    std::string station_;
    std::string port_;
    PlanTexts plan_;
    std::unique_ptr<ModuleSession> session_;
    bool stopped_ = false;
    int written_ = 0, passed_ = 0, failed_ = 0, skipped_ = 0;
};

int Programmer::Run() {
    if (o_.command == "ports") return Ports();
    if (NeedsPlan(o_.command) && !LoadPlan()) return kExitUsage;
    if (o_.command == "plan") return ShowPlan();
    return ModuleCommand();
}

bool Programmer::LoadPlan() {
    if (!o_.planFile.empty()) {
        std::string error;
        plan_ = ReadPlanFile(o_.planFile, &error);
        if (!error.empty()) {
            std::cerr << "modsetup: " << error << "\n";
            return false;
        }
    } else {
        for (std::size_t i = 0; i < 4; ++i) plan_[i] = o_.channels[i];
    }
    for (const std::string& text : plan_) {
        if (!IsPlainFrequency(text)) {
            std::cerr << "modsetup: \"" << text << "\" is not a frequency in MHz\n";
            return false;
        }
    }
    return true;
}

// Exit status 2 with the reasons when the plan is not fit for this kind and
// --force was not given; -1 when it may be written.
int Programmer::RefusePlan(const window::ToolProfile& profile) {
    bool refused = false;
    for (int i = 0; i < 4; ++i) {
        const ChannelPlan c = EvaluateChannel(profile, plan_[static_cast<std::size_t>(i)]);
        if (c.problem.empty()) continue;
        std::cerr << "modsetup: " << (o_.force ? "warning: " : "") << KindName(profile.kindLetter)
                  << " Ch" << i << " " << c.text << " MHz: " << c.problem << "\n";
        refused = true;
    }
    if (!refused || o_.force) return -1;
    std::cerr << "modsetup: plan refused (--force writes it anyway)\n";
    return kExitUsage;
}

bool Programmer::PlanRefusedForBoth() const {
    if (o_.force) return false;
    for (const window::ToolProfile* p : {&RecvSetupProfile(), &SendSetupProfile()}) {
        bool refused = false;
        for (const std::string& text : plan_) {
            refused = refused || !EvaluateChannel(*p, text).problem.empty();
        }
        if (!refused) return false;
    }
    return true;
}

int Programmer::ShowPlan() {
    std::vector<const window::ToolProfile*> kinds;
    if (o_.kind != "tx") kinds.push_back(&RecvSetupProfile());
    if (o_.kind != "rx") kinds.push_back(&SendSetupProfile());
    bool refused = false;
    for (const window::ToolProfile* p : kinds) {
        for (int i = 0; i < 4; ++i) {
            const ChannelPlan c = EvaluateChannel(*p, plan_[static_cast<std::size_t>(i)]);
            refused = refused || !c.problem.empty();
            std::string regs;
            for (const auto& reg : c.registers) regs += (regs.empty() ? "" : ",") + reg;
            const std::string produced = c.makeable ? FormatMHz(c.producedMHz) : "--";
            const std::string error = c.makeable ? channel::FormatFixed(c.errorHz, 1) : "--";
            if (o_.json) {
                std::cout << "{\"command\":\"plan\",\"kind\":" << JsonText(KindName(p->kindLetter))
                          << ",\"channel\":" << i << ",\"frequency\":" << JsonText(c.text)
                          << ",\"registers\":" << JsonText(regs)
                          << ",\"produced_mhz\":" << JsonText(produced)
                          << ",\"error_hz\":" << JsonText(error)
                          << ",\"result\":" << JsonText(c.problem.empty() ? "pass" : "fail")
                          << ",\"message\":" << JsonText(c.problem) << "}\n";
            } else {
                std::cout << KindName(p->kindLetter) << " Ch" << i << "  " << c.text
                          << " MHz  registers " << regs << "  makes " << produced << " MHz  error "
                          << error << " Hz  "
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

std::string Programmer::ChoosePort(int* exitCode) {
    if (!o_.port.empty()) return o_.port;
    wire::QtSerialPort probe(folder_);
    std::vector<std::string> names;
    for (int n = 1; n <= 255; ++n) {
        probe.SetPortNumber(n);
        if (!probe.Open()) continue;
        probe.Close();
        names.push_back("COM" + std::to_string(n));
    }
    if (names.size() == 1) return names.front();
    if (names.empty()) {
        std::cerr << "modsetup: COM Not Open! (no port opens; name one with --port)\n";
        *exitCode = kExitPort;
    } else {
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        std::cerr << "modsetup: several ports open (" << list << "); name one with --port\n";
        *exitCode = kExitUsage;
    }
    return {};
}

bool Programmer::Report(const ModuleResult& r, long long ms) {
    // The row is on disk before the result is shown: a script that reads
    // the result line can rely on the log.
    store::ProductionRow row;
    row.time = store::IsoTimeNow();
    row.station = station_;
    row.port = port_;
    row.kind = KindName(r.kindLetter);
    row.serial = r.serial;
    row.version = r.version;
    if (r.operation != "info") row.channels = plan_;
    row.operation = r.operation;
    row.result = r.pass ? "pass" : "fail";
    row.message = r.message;
    row.durationMs = ms;
    row.toolVersion = ToolVersionText();
    std::string error;
    const bool logged = store::AppendProductionRow(logPath_, row, &error);
    const std::string kind = KindName(r.kindLetter);
    if (o_.json) {
        std::cout << "{\"command\":" << JsonText(r.operation)
                  << ",\"result\":" << JsonText(r.pass ? "pass" : "fail")
                  << ",\"kind\":" << JsonText(kind) << ",\"serial\":" << JsonText(r.serial)
                  << ",\"version\":" << JsonText(r.version);
        if (r.operation == "info") {
            std::cout << ",\"test_date\":" << JsonText(r.testDate);
            if (r.kindLetter == 'T') std::cout << ",\"offset\":" << JsonText(r.offset);
        }
        for (int i = 0; i < 4 && r.operation != "info"; ++i) {
            std::cout << ",\"ch" << i << "\":" << JsonText(plan_[static_cast<std::size_t>(i)]);
        }
        std::cout << ",\"message\":" << JsonText(r.message) << ",\"duration_ms\":" << ms << "}\n";
    } else if (o_.command == "station") {
        std::cout << "\n==========  " << (r.pass ? "PASS" : "FAIL") << "  " << r.serial
                  << "  ==========\n";
    } else if (r.operation == "info" && r.pass) {
        std::cout << kind << "  version " << r.version << "  serial " << r.serial << "  test date "
                  << r.testDate;
        if (r.kindLetter == 'T') std::cout << "  offset " << r.offset;
        std::cout << "\n";
    } else {
        std::cout << r.operation << " " << (r.pass ? "pass" : "fail") << "  " << kind << "  serial "
                  << r.serial << "\n";
    }
    std::cout.flush();
    if (!r.pass) std::cerr << "modsetup: " << r.operation << ": " << r.message << "\n";

    if (!logged) {
        std::cerr << "modsetup: production log: " << error << "\n";
        return false;
    }
    return true;
}

int Programmer::ModuleCommand() {
    const bool fixed = !o_.kind.empty();
    const window::ToolProfile& first = o_.kind == "tx" ? SendSetupProfile() : RecvSetupProfile();
    // Without a kind the plan is judged for the kind that answers; one that
    // neither kind may write is refused before the port is touched.
    if (NeedsPlan(o_.command) && (fixed || PlanRefusedForBoth())) {
        if (const int refused = RefusePlan(first); refused >= 0) return refused;
    }
    // A module written without its log row would be lost to the records.
    if (!store::EnsureFileExists(logPath_)) {
        std::cerr << "modsetup: cannot write the production log " << logPath_ << "\n";
        return kExitUsage;
    }
    int code = kExitPass;
    port_ = ChoosePort(&code);
    if (port_.empty()) return code;
    if (stopped_) return kExitModuleFailed;
    session_ = std::make_unique<ModuleSession>(folder_, first, fixed, plan_);
    std::string error;
    if (!session_->Open(port_, &error)) {
        std::cerr << "modsetup: " << error << "\n";
        return kExitPort;
    }
    if (o_.command == "station") return Station();

    QElapsedTimer clock;
    clock.start();
    ModuleResult r = session_->Identity();
    if (r.pass && o_.command != "info") {
        // The plan is judged for the kind that answered.
        if (!fixed) {
            if (const int refused = RefusePlan(session_->Profile()); refused >= 0) {
                session_->Close();
                return refused;
            }
        }
        if (o_.command == "write") {
            r = session_->WriteAndCheck(!o_.noCheck);
        } else if (o_.command == "check") {
            r = session_->CheckOnly();
        } else {
            r = session_->Test(o_.testChannel);
        }
    }
    r.operation = o_.command;
    const bool logged = Report(r, clock.elapsed());
    session_->Close();
    if (r.portFailed) return kExitPort;
    return r.pass && logged ? kExitPass : kExitModuleFailed;
}

int Programmer::Station() {
    std::set<std::string> passedBefore;
    if (!o_.again) passedBefore = store::PassedSerials(logPath_);
    std::set<std::string> writtenNow;
    std::string present;  // the serial of the module in the fixture, if known
    bool planChecked = !o_.kind.empty();
    std::cerr << "modsetup: station " << station_ << " on " << port_ << ": waiting for a module\n";
    while (!session_->StopRequested() && (o_.count == 0 || written_ < o_.count)) {
        QElapsedTimer clock;
        clock.start();
        ModuleResult r = session_->Identity();
        if (r.portFailed) {
            std::cerr << "modsetup: " << r.message << "\n";
            Summary();
            return kExitPort;
        }
        if (r.interrupted) break;
        const std::string id = r.wrongKind ? "other kind " + r.version : r.serial;
        if (!r.pass && !r.wrongKind) {
            present.clear();  // the socket is empty
            session_->Pause(1000 - static_cast<int>(clock.elapsed()));
            continue;
        }
        if (id == present) {  // still the same module: wait until it is gone
            session_->Pause(1000 - static_cast<int>(clock.elapsed()));
            continue;
        }
        present = id;
        if (r.wrongKind) {
            r.operation = "write";
            ++written_;
            ++failed_;
            if (!Report(r, clock.elapsed())) break;
            continue;
        }
        if (!o_.again && (passedBefore.count(r.serial) || writtenNow.count(r.serial))) {
            ++skipped_;
            std::cerr << "modsetup: " << r.serial
                      << (writtenNow.count(r.serial) ? " passed in this run"
                                                     : " passed before (production log)")
                      << ": skipped (--again writes it again)\n";
            continue;
        }
        if (!planChecked) {
            if (const int refused = RefusePlan(session_->Profile()); refused >= 0) {
                Summary();
                return refused;
            }
            planChecked = true;
        }
        r = session_->WriteAndCheck(!o_.noCheck);
        r.operation = "write";
        if (r.portFailed) {
            Report(r, clock.elapsed());
            std::cerr << "modsetup: " << r.message << "\n";
            Summary();
            return kExitPort;
        }
        ++written_;
        // A module that failed (a bad contact, say) is written again when it
        // is put back; one that passed is not.
        if (r.pass) {
            ++passed_;
            writtenNow.insert(r.serial);
        } else {
            ++failed_;
        }
        if (!Report(r, clock.elapsed())) {
            ++failed_;
            break;
        }
    }
    session_->Close();
    Summary();
    // A stop while the socket was empty is a normal end of the shift.
    return failed_ == 0 ? kExitPass : kExitModuleFailed;
}

void Programmer::Summary() {
    std::cerr << "modsetup: " << written_ << " written, " << passed_ << " passed, " << failed_
              << " failed, " << skipped_ << " skipped\n";
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
    QCoreApplication app(argc, argv);
    Programmer programmer(
        parsed.options,
        window::ProgramPlaces(QCoreApplication::applicationDirPath().toStdString(), "modsetup"));

    // SIGINT and SIGTERM end the running sequence at once; the result is
    // reported and logged whole, the port closed and a summary printed.
    const auto stopOnSignal = window::OnTerminationSignals([&programmer] { programmer.Stop(); });
    return programmer.Run();
}
