// modsetup as a fixture script runs it: the real program, modsim on a
// pseudo-terminal, exit codes, result lines and the production log.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QListWidget>
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "client_programs.h"
#include "e2e_support.h"
#include "free_port.h"
#include "frequency.h"
#include "recv_profile.h"
#include "send_profile.h"
#include "station_window.h"

namespace fs = std::filesystem;

namespace {

using e2e::ModSim;

// modsim's serial number 012345 (hex) as the tools show it.
constexpr const char* kSerial = "00074565";

std::string DefaultChannels() {
    std::string out;
    for (const char* f : channel::kDefaultFrequencies)
        out += (out.empty() ? "" : ",") + std::string(f);
    return out;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<std::string> Rows(const std::string& log) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        rows.push_back(log.substr(start, end - start));
    }
    if (!rows.empty()) rows.erase(rows.begin());  // the header
    return rows;
}

struct Result {
    int code = -1;
    std::string out, err;
};

// The program copied into the test's folder, so COMn there means ports/COMn
// and the default log lies beside it.
class Modsetup : public ::testing::Test {
  protected:
    void SetUp() override { fs::copy_file(e2e::BinDir() + "/modsetup", folder + "/modsetup"); }
    void TearDown() override { fs::remove_all(folder); }

    std::vector<std::string> Argv(const std::vector<std::string>& args) const {
        std::string line = "exec '" + folder + "/modsetup'";
        for (const std::string& a : args) line += " '" + a + "'";
        line += " >'" + folder + "/out' 2>'" + folder + "/err'";
        return {"/bin/sh", "-c", line};
    }
    Result Run(const std::vector<std::string>& args, int timeoutMs = 60000,
               const std::vector<std::string>& environment = {}) const {
        Result r;
        const pid_t pid = child::Spawn(Argv(args), environment);
        r.code = child::WaitExit(pid, timeoutMs);
        if (r.code < 0) kill(pid, SIGKILL);
        r.out = e2e::ReadFile(folder + "/out");
        r.err = e2e::ReadFile(folder + "/err");
        return r;
    }
    std::string Log() const { return e2e::ReadFile(folder + "/modsetup_log.csv"); }
    // Each case of a table starts with a fresh module and an empty log.
    void Fresh() const {
        for (const char* name : {"/modsim-1.record", "/modsim-1.store", "/modsetup_log.csv"}) {
            fs::remove(folder + name);
        }
    }

    std::string folder = e2e::TempFolder();
};

// What the window sends for "Get Info.", "Write" and "Check" of the default
// plan, recorded by modsim.
std::string WindowRecording(const std::string& kind) {
    static std::map<std::string, std::string> recordings;
    if (recordings.count(kind)) return recordings[kind];
    const std::string folder = e2e::TempFolder();
    std::string recorded;
    {
        ModSim sim(folder, kind);
        e2e::Session s(kind == "rx" ? RecvSetupProfile() : SendSetupProfile(), folder);
        s.Start();
        s.SetText("Combo1", "COM1");
        s.Click("ComStart");
        for (const auto& [button, timer] :
             {std::pair<const char*, window::TimerId>{"GetInfoSW", window::TimerId::GetInfoTimer},
              {"ChWriteSW", window::TimerId::WriteAllTimer},
              {"ChCheckSW", window::TimerId::ReadAllTimer}}) {
            window::Timer& t = s.Model().TimerById(timer);
            s.Click(button);
            e2e::WaitFor([&] { return !t.Enabled(); }, 8000);
        }
        EXPECT_EQ(s.Model().T_Message.text, "");
        // modsim writes its record as it goes; on a loaded machine the last
        // command may not be in it yet.
        e2e::WaitFor([&] { return sim.Recorded().find("/R 03\r") != std::string::npos; }, 5000);
        recorded = sim.Recorded();
    }
    fs::remove_all(folder);
    return recordings[kind] = recorded;
}

TEST_F(Modsetup, InfoReadsTheIdentityOfEitherKind) {
    for (const std::string kind : {"rx", "tx"}) {
        for (const char* name : {"/modsim-1.record", "/modsim-1.store"}) fs::remove(folder + name);
        ModSim sim(folder, kind);
        const Result r = Run({"info", "--port", "COM1", "--json"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("\"result\":\"pass\",\"kind\":\"" + kind + "\",\"serial\":\"" +
                             kSerial + "\",\"version\":\"" + (kind == "rx" ? "R1.05" : "T2.10")),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\"test_date\":\"2026/11/30\""), std::string::npos) << r.out;
    }
    const std::vector<std::string> rows = Rows(Log());
    ASSERT_EQ(rows.size(), 2u) << Log();
    EXPECT_NE(rows[1].find(",COM1,tx,00074565,T2.10,,,,,info,pass,,"), std::string::npos);
}

TEST_F(Modsetup, PortsListsEveryComNameThatOpensWithItsDevice) {
    ModSim first(folder, "rx", {}, 1);
    ModSim third(folder, "tx", {}, 3);
    const Result r = Run({"ports"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string dev1 = fs::canonical(folder + "/ports/COM1").string();
    const std::string dev3 = fs::canonical(folder + "/ports/COM3").string();
    EXPECT_EQ(r.out, "COM1\t" + folder + "/ports/COM1 -> " + dev1 + "\nCOM3\t" + folder +
                         "/ports/COM3 -> " + dev3 + "\n");
    // Two ports open: a command without --port must not pick one.
    const Result info = Run({"info"});
    EXPECT_EQ(info.code, 2);
    EXPECT_NE(info.err.find("several ports open (COM1, COM3)"), std::string::npos) << info.err;
}

// One map for the suite: a name modsetup gives an adapter is the name the
// bench window and modstation offer for it, and one set for every user
// wins over it.
TEST_F(Modsetup, EveryProgramSeesTheNameItAssignsAndTheOneForEveryUserWins) {
    const std::string elsewhere = e2e::TempFolder();
    ModSim rx(elsewhere, "rx", {}, 1);
    ModSim tx(elsewhere, "tx", {}, 2);
    const std::string rxTty = fs::canonical(elsewhere + "/ports/COM1").string();
    const std::string txTty = fs::canonical(elsewhere + "/ports/COM2").string();
    store::FilePlaces places(folder, folder);
    places.ports.system = folder + "/for-every-user";
    const std::vector<std::string> env = {"SETUP_SYSTEM_PORTS=" + places.ports.system};
    const struct {
        std::vector<std::string> assign;
        std::string tty, kind;
    } cases[] = {
        {{"ports", "--assign", "COM8", rxTty}, rxTty, "rx"},
        {{"ports", "--assign", "--system", "COM8", txTty}, txTty, "tx"},
    };
    for (const auto& c : cases) {
        const Result assigned = Run(c.assign, 60000, env);
        ASSERT_EQ(assigned.code, 0) << assigned.err;
        const std::string tip = "Device: " + c.tty;

        e2e::Session bench(RecvSetupProfile(), places);
        bench.Start();
        const auto& items = bench.Model().Combo1.items;
        const auto at = std::find(items.begin(), items.end(), "COM8");
        ASSERT_NE(at, items.end()) << c.kind;
        const auto i = static_cast<std::size_t>(at - items.begin());
        EXPECT_EQ(bench.Model().Combo1.itemToolTips[i].rfind(tip, 0), 0u) << c.kind;

        station::StationWindow station(places, "9.9.9");
        station.RefreshPorts();
        const auto listed =
            station.findChild<QListWidget*>("Sockets")->findItems("COM8", Qt::MatchExactly);
        ASSERT_EQ(listed.size(), 1) << c.kind;
        EXPECT_TRUE(listed.front()->toolTip().startsWith(QString::fromStdString(tip))) << c.kind;

        const Result info = Run({"info", "--port", "COM8", "--json"}, 60000, env);
        EXPECT_EQ(info.code, 0) << info.err;
        EXPECT_NE(info.out.find("\"kind\":\"" + c.kind + "\""), std::string::npos) << info.out;
    }
    fs::remove_all(elsewhere);
}

TEST_F(Modsetup, WriteSendsExactlyTheWindowsBytesAndLogsOnePass) {
    const struct {
        const char* kind;
        std::vector<std::string> extra;
        // Without --kind a transmitter is found by a receiver's version
        // query first, which it answers with its kind.
        std::string probe;
    } cases[] = {
        {"rx", {}, ""},
        {"tx", {}, "\x80/V\r"},
        {"tx", {"--kind", "tx"}, ""},
    };
    for (const auto& c : cases) {
        // The window's own bytes, then one more identity read: the serial
        // after the check must be the one before the write.
        const std::string expected = c.probe + WindowRecording(c.kind) + "\x80/V\r/D\r";
        Fresh();
        ModSim sim(folder, c.kind);
        std::vector<std::string> args = {"write", "--channels", DefaultChannels(), "--port",
                                         folder + "/ports/COM1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Result r = Run(args);
        const std::string where = std::string(c.kind) + (c.extra.empty() ? " auto" : " --kind");
        EXPECT_EQ(r.code, 0) << where << r.err;
        EXPECT_EQ(sim.Recorded(), expected) << where;
        const std::vector<std::string> rows = Rows(Log());
        ASSERT_EQ(rows.size(), 1u) << Log();
        EXPECT_NE(rows[0].find(std::string(",") + c.kind + ",00074565,"), std::string::npos);
        EXPECT_NE(rows[0].find(",write,pass,,"), std::string::npos) << rows[0];
        sim.Stop();
    }
}

TEST_F(Modsetup, FailuresGiveTheirExitCodeAndAFailRow) {
    const std::string plan = DefaultChannels();
    const struct {
        const char* sim;  // "" for no module
        std::vector<std::string> simOptions;
        std::vector<std::string> args;
        int code;
        const char* message;
        bool failRow;
        bool nothingStored;
    } cases[] = {
        {"rx", {"--silent"}, {"write"}, 1, "Not Response!! (or target error)", true, true},
        {"tx", {"--wrong-channel", "2"}, {"write"}, 1, "Ch2", true, false},
        {"tx", {}, {"write", "--kind", "rx"}, 1, "Target error!!", true, true},
        {"rx", {}, {"--kind", "tx", "write"}, 1, "Target error!!", true, true},
        {"rx", {"--vanish-after", "1500"}, {"write"}, 3, "Com port Error!", true, false},
        // A read-back that does not come in time is said to be missing, not
        // taken for a module that holds other values.
        {"rx",
         {"--late", "/R 01:800"},
         {"write"},
         1,
         "(check: Ch1 did not answer in time)",
         true,
         false},
        {"", {}, {"write", "--port", "COM9"}, 3, "COM Not Open!", false, true},
        {"", {}, {"info", "--port", "/dev/no-such-device"}, 3, "no such device", false, true},
        {"rx",
         {},
         {"write", "--port", "COM1", "--plan", "missing.tbl"},
         2,
         "Table File Read Error!!",
         false,
         true},
        {"rx",
         {},
         {"write", "--kind", "tx", "--channels", "433.110,433.2,433.3,433.4"},
         2,
         "off the 25 kHz grid",
         false,
         true},
        {"rx", {}, {"write", "--frequency", "433.1"}, 2, "unknown option --frequency", false, true},
    };
    for (const auto& c : cases) {
        Fresh();
        std::unique_ptr<ModSim> sim;
        if (*c.sim) sim = std::make_unique<ModSim>(folder, c.sim, c.simOptions);
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--port") == args.end()) {
            args.insert(args.end(), {"--port", "COM1"});
        }
        if (std::find(args.begin(), args.end(), "--plan") == args.end() &&
            std::find(args.begin(), args.end(), "--channels") == args.end()) {
            args.insert(args.end(), {"--channels", plan});
        }
        const Result r = Run(args);
        const std::string where = std::string(c.sim) + " " + c.message;
        EXPECT_EQ(r.code, c.code) << where << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << where << "\n" << r.err;
        const std::vector<std::string> rows = Rows(Log());
        EXPECT_EQ(rows.size(), c.failRow ? 1u : 0u) << where << "\n" << Log();
        if (c.failRow && !rows.empty()) {
            EXPECT_NE(rows[0].find(",write,fail,"), std::string::npos) << rows[0];
        }
        if (sim && c.nothingStored) {
            EXPECT_EQ(Count(sim->Recorded(), "/W"), 0u) << where;
            EXPECT_EQ(Count(sim->Recorded(), "/T"), 0u) << where;
        }
    }
}

TEST_F(Modsetup, StationWritesEachModuleOnceAndSkipsOnesTheLogShowsAsPassed) {
    // The second module passed at another station before.
    e2e::WriteTextFile(folder + "/modsetup_log.csv",
                       "time,station,port,kind,serial,version,ch0,ch1,ch2,ch3,operation,result,"
                       "message,duration_ms,tool_version\r\n"
                       "2026-12-08T10:00:00+01:00,other,COM2,rx,00074566,R1.05,434.700,434.600,"
                       "433.920,434.075,write,pass,,4236,1.5.2\r\n");
    ModSim sim(folder, "rx", {"--fixture", "4", "--present", "6000", "--absent", "1200"});
    const Result r = Run({"station", "--count", "3", "--port", "COM1", "--station", "line,1",
                          "--channels", DefaultChannels()},
                         90000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Count(r.out, "PASS"), 3u) << r.out;
    EXPECT_NE(r.err.find("00074566 passed before (station other, 2026-12-08T10:00:00+01:00): "
                         "skipped"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("3 written, 3 passed, 0 failed, 1 skipped"), std::string::npos) << r.err;
    // The log an older version began gets this version's header once, before
    // its first row of the new shape.
    std::vector<std::string> rows = Rows(Log());
    ASSERT_EQ(rows.size(), 6u) << Log();
    EXPECT_EQ(rows[1].rfind("time,station,", 0), 0u) << rows[1];
    rows.erase(rows.begin() + 1);
    EXPECT_NE(rows[2].find(",00074566,R1.05,434.700,434.600,433.920,434.075,write,skipped,"),
              std::string::npos)
        << rows[2];
    for (const auto& [row, serial] :
         {std::pair<int, const char*>{1, "00074565"}, {3, "00074567"}, {4, "00074568"}}) {
        EXPECT_NE(rows[static_cast<std::size_t>(row)].find(std::string("\"line,1\",COM1,rx,") +
                                                           serial + ",R1.05,"),
                  std::string::npos)
            << rows[static_cast<std::size_t>(row)];
    }
    // Each written exactly once: one "/W 00" per module, none for the skipped.
    EXPECT_EQ(Count(sim.Recorded(), "/W 00\r"), 3u);
}

// The line's systems see the station and steer it: a status over HTTP, the
// PLC's start and its pass input over Modbus, a pause and a stop over HTTP.
TEST_F(Modsetup, StationDoorsShowTheSocketLetThePlcStartItAndStopIt) {
    using doorstest::Curl;
    const int http = FreeLoopbackPort();
    int modbus = FreeLoopbackPort();
    while (modbus == http) modbus = FreeLoopbackPort();
    const std::string base = "http://127.0.0.1:" + std::to_string(http);
    {
        // A door that cannot open stops the start before any module is read.
        ModSim sim(folder, "rx");
        e2e::WriteTextFile(folder + "/token", "a-token-long-enough-for-the-door\n");
        ::chmod((folder + "/token").c_str(), 0644);
        const Result r =
            Run({"station", "--port", "COM1", "--channels", DefaultChannels(), "--http",
                 "127.0.0.1:" + std::to_string(http), "--http-token-file", folder + "/token"});
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find("may be read by others"), std::string::npos) << r.err;
        EXPECT_EQ(sim.Recorded(), "");
        sim.Stop();
    }
    Fresh();
    ModSim sim(folder, "rx");
    const pid_t pid =
        child::Spawn(Argv({"station", "--port", "COM1", "--channels", DefaultChannels(), "--http",
                           "127.0.0.1:" + std::to_string(http), "--modbus",
                           "127.0.0.1:" + std::to_string(modbus), "--trigger", "plc"}),
                     {});
    // The module in the socket waits for the PLC's start.
    std::string status;
    EXPECT_TRUE(e2e::WaitFor(
        [&] {
            status = Curl(base + "/status").body;
            return status.find("\"state\":\"waiting for start\"") != std::string::npos;
        },
        15000))
        << status;
    EXPECT_NE(status.find("\"socket\":1,\"port\":\"COM1\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"waiting_for_trigger\":true"), std::string::npos) << status;
    EXPECT_EQ(Count(sim.Recorded(), "/W 00\r"), 0u);

    const std::string plc =
        doorstest::Plc(modbus,
                       "c.write_coil(1, True, slave=1)\n"
                       "print('busy', wait(0, 1, 15))\n"
                       "print('pass', wait(1, 1, 20))\n"
                       "print('after', bit(0), bit(2))\n"
                       "print('coil', int(c.read_coils(1, 1, slave=1).bits[0]))\n");
    EXPECT_NE(plc.find("busy True\npass True\nafter 0 0\ncoil 0\n"), std::string::npos) << plc;
    EXPECT_EQ(Count(sim.Recorded(), "/W 00\r"), 1u);

    const doorstest::Answer paused = Curl("-X POST " + base + "/pause");
    EXPECT_EQ(paused.code, 200);
    EXPECT_EQ(paused.body, "{\"ok\":true}");
    EXPECT_NE(Curl(base + "/status").body.find("\"state\":\"paused\""), std::string::npos);
    // The answer reaches the client, though the program ends with it.
    const doorstest::Answer stopped = Curl("-X POST " + base + "/stop");
    EXPECT_EQ(stopped.code, 200);
    EXPECT_EQ(stopped.body, "{\"ok\":true}");
    // As a SIGTERM after one pass: a normal end of the shift.
    EXPECT_EQ(child::WaitExit(pid, 15000), 0);
    const std::vector<std::string> rows = Rows(Log());
    ASSERT_EQ(rows.size(), 1u) << Log();
    EXPECT_NE(rows[0].find(std::string(",COM1,rx,") + kSerial + ","), std::string::npos) << rows[0];
    EXPECT_NE(rows[0].find(",write,pass,"), std::string::npos) << rows[0];
    const std::string err = e2e::ReadFile(folder + "/err");
    EXPECT_NE(err.find("modsetup: doors: HTTP on 127.0.0.1:" + std::to_string(http) +
                       "; Modbus on 127.0.0.1:" + std::to_string(modbus) + " (PLC trigger)\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("modsetup: pause by http 127.0.0.1\n"), std::string::npos) << err;
    EXPECT_NE(err.find("1 written, 1 passed, 0 failed, 0 skipped"), std::string::npos) << err;
    sim.Stop();
}

TEST_F(Modsetup, SigintMidWriteLogsAWholeFailRowAndASummary) {
    // A closed terminal (SIGHUP) ends the run as Ctrl-C does.
    for (const int sig : {SIGINT, SIGHUP}) {
        Fresh();
        ModSim sim(folder, "rx");
        const pid_t pid = child::Spawn(Argv({"station", "--port", "COM1", "--channels",
                                             DefaultChannels(), "--station", "line\n2"}),
                                       {});
        ASSERT_TRUE(e2e::WaitFor(
            [&] { return sim.Recorded().find("/W 01\r") != std::string::npos; }, 15000));
        kill(pid, sig);
        EXPECT_EQ(child::WaitExit(pid, 5000), 1) << sig;
        const std::string log = Log();
        const std::vector<std::string> rows = Rows(log);
        ASSERT_EQ(rows.size(), 1u) << log;
        EXPECT_NE(rows[0].find(",write,interrupted,interrupted,"), std::string::npos) << rows[0];
        EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
        const std::string err = e2e::ReadFile(folder + "/err");
        EXPECT_NE(err.find("1 written, 0 passed, 1 failed, 0 skipped"), std::string::npos) << sig;
        // A name with a line break stays on its line.
        EXPECT_NE(err.find("modsetup: station line\\n2 on COM1: waiting for modules\n"),
                  std::string::npos)
            << err;
        // Nothing more went out after the signal.
        const std::string recorded = sim.Recorded();
        EXPECT_EQ(Count(recorded, "/W 02"), 0u) << recorded;
        sim.Stop();
    }
}

}  // namespace

namespace {

// What a fixture script must be able to trust: a module is passed only when
// it was verified, and every exit status and row says what happened.
TEST_F(Modsetup, NothingUnverifiedPassesAndEveryOutcomeHasItsStatusAndRow) {
    const std::string plan = DefaultChannels();
    const struct {
        const char* name;
        std::vector<std::string> simOptions;
        std::vector<std::string> args;
        int code;
        const char* err;  // found on stderr
        const char* row;  // found in the only row; "" for no row
        bool written;     // any "/W" reached the module
    } cases[] = {
        {"swapped after the read-back",
         {"--swap-after", "/R 03"},
         {"write"},
         1,
         "the module changed during the write (serial 00074565 before, 00074566 after)",
         ",00074565,R1.05,434.700,434.600,433.920,434.075,write,fail,",
         true},
        {"garbled serial",
         {"--reply", "/D:*D ZZ 2026/11/30"},
         {"write"},
         1,
         "no serial number",
         ",write,fail,no serial number",
         false},
        {"no serial digits",
         {"--reply", "/D:*D"},
         {"write"},
         1,
         "no serial number",
         ",write,fail,no serial number",
         false},
        {"wrong kind keeps its serial",
         {"--kind", "tx"},
         {"write", "--kind", "rx"},
         1,
         "Target error!!",
         ",tx,00074565,T2.10,",
         false},
        {"unverified write is its own operation",
         {},
         {"write", "--no-check"},
         0,
         "",
         ",write-unverified,pass,",
         true},
        {"COM256 is a usage error",
         {},
         {"write", "--port", "COM256"},
         2,
         "neither COM1..COM255 nor a device path",
         "",
         false},
        {"com1 is a usage error",
         {},
         {"info", "--port", "com1"},
         2,
         "neither COM1..COM255 nor a device path",
         "",
         false},
        {"an unwritable log writes nothing",
         {},
         {"write", "--log", "/nonexistent/dir/log.csv"},
         2,
         "cannot open /nonexistent/dir/log.csv",
         "",
         false},
        {"one device under two names is a usage error",
         {},
         {"station", "--count", "1", "--port", "COM1", "--port", folder + "/ports/COM1"},
         2,
         "COM1 and /",
         "",
         false},
    };
    for (const auto& c : cases) {
        Fresh();
        ModSim sim(folder, "rx", c.simOptions);
        std::vector<std::string> args = c.args;
        if (std::find(args.begin(), args.end(), "--port") == args.end()) {
            args.insert(args.end(), {"--port", "COM1"});
        }
        args.insert(args.end(), {"--channels", plan});
        const Result r = Run(args);
        EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << "\n" << r.err;
        const std::vector<std::string> rows = Rows(Log());
        if (*c.row) {
            ASSERT_EQ(rows.size(), 1u) << c.name << "\n" << Log();
            EXPECT_NE(rows[0].find(c.row), std::string::npos) << c.name << "\n" << rows[0];
        } else {
            EXPECT_TRUE(rows.empty()) << c.name << "\n" << Log();
        }
        EXPECT_EQ(Count(sim.Recorded(), "/W") > 0, c.written) << c.name;
    }
}

TEST_F(Modsetup, AClosedOutputEndsTheStationAfterTheModulesRow) {
    ModSim sim(folder, "rx");
    const std::string line = "'" + folder + "/modsetup' station --json --port COM1 --channels " +
                             DefaultChannels() + " 2>/dev/null | head -1 >'" + folder + "/out'";
    const pid_t pid = child::Spawn({"/bin/sh", "-c", line}, {});
    EXPECT_EQ(child::WaitExit(pid, 30000), 0);
    EXPECT_NE(e2e::ReadFile(folder + "/out").find("\"result\":\"pass\""), std::string::npos);
    const std::vector<std::string> rows = Rows(Log());
    ASSERT_EQ(rows.size(), 1u) << Log();
    EXPECT_NE(rows[0].find(",write,pass,"), std::string::npos);
}

TEST_F(Modsetup, AWriteIsRecordedInTheDatabaseAndTheLogAlike) {
    ModSim sim(folder, "rx");
    const std::string db = "sqlite:" + folder + "/line.sqlite";
    ASSERT_EQ(Run({"db", "init", "--db", db}).code, 0);
    const Result r = Run({"write", "--port", "COM1", "--channels", DefaultChannels(), "--db", db,
                          "--log", folder + "/modsetup_log.csv", "--operator", "Ann", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"unsent\":0"), std::string::npos) << r.out;
    const Result exported = Run({"export", "--db", db, "--csv", folder + "/export.csv"});
    ASSERT_EQ(exported.code, 0) << exported.err;
    const std::vector<std::string> fromDb = Rows(e2e::ReadFile(folder + "/export.csv"));
    const std::vector<std::string> fromLog = Rows(Log());
    ASSERT_EQ(fromDb.size(), 1u);
    ASSERT_EQ(fromLog.size(), 1u);
    EXPECT_NE(fromDb[0].find(",rx,00074565,R1.05,434.700,434.600,433.920,434.075,write,pass,"),
              std::string::npos)
        << fromDb[0];
    // The same row but for how the time is written (the database keeps UTC).
    EXPECT_EQ(fromDb[0].substr(fromDb[0].find(',')), fromLog[0].substr(fromLog[0].find(',')));
}

// A kind of six channels the tests alone know (a copy of modsetup built
// with it), played by modsim: the whole plan goes to the module, the
// database and the log, and a plan of four is refused for it.
TEST_F(Modsetup, ASixChannelKindIsWrittenAndRecordedWhole) {
    fs::copy_file(e2e::BinDir() + "/../tests/modsetup_six_channels", folder + "/modsetup",
                  fs::copy_options::overwrite_existing);
    ModSim sim(folder, "rx", {"--channels", "6", "--version", "S1.05"});
    const std::string db = "sqlite:" + folder + "/line.sqlite";
    ASSERT_EQ(Run({"db", "init", "--db", db}).code, 0);
    // Not even --force writes a plan of four into six channels.
    const Result four = Run({"station", "--count", "1", "--port", "COM1", "--channels",
                             DefaultChannels(), "--force", "--db", db, "--log",
                             folder + "/modsetup_log.csv", "--json"});
    EXPECT_NE(four.out.find("the plan has 4 channels, the six-channel receiver 6"),
              std::string::npos)
        << four.out;
    EXPECT_EQ(Count(sim.Recorded(), "/W"), 0u);

    const std::string six = DefaultChannels() + ",433.920,434.700";
    const Result r = Run({"station", "--count", "1", "--port", "COM1", "--channels", six, "--db",
                          db, "--log", folder + "/modsetup_log.csv", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"kind\":\"rx6\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"result\":\"pass\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"ch5\":\"434.700\""), std::string::npos) << r.out;
    EXPECT_EQ(Count(sim.Stored(), "\n"), 6u) << sim.Stored();
    EXPECT_EQ(Count(sim.Recorded(), "/W 05"), 1u);

    // Ch4 and Ch5 after the columns of the four, in the export as in the log.
    ASSERT_EQ(Run({"export", "--db", db, "--csv", folder + "/export.csv"}).code, 0);
    for (const std::string& rows : {e2e::ReadFile(folder + "/export.csv"), Log()}) {
        const std::vector<std::string> all = Rows(rows);
        ASSERT_FALSE(all.empty()) << rows;
        const std::string& row = all.back();
        EXPECT_NE(row.find(",rx6,00074565,S1.05,434.700,434.600,433.920,434.075,write,pass,"),
                  std::string::npos)
            << row;
        EXPECT_NE(row.find(",433.920|434.700,"), std::string::npos) << row;
    }
}

TEST_F(Modsetup, VersionAndShortHelp) {
    const Result v = Run({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out.rfind("modsetup ", 0), 0u) << v.out;
    const Result h = Run({"-h"});
    EXPECT_EQ(h.code, 0);
    EXPECT_NE(h.out.find("--quiet"), std::string::npos);
    // The station's own help, with what modstation takes of it.
    const Result s = Run({"station", "--help"});
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.out.rfind("usage: modsetup station ", 0), 0u) << s.out;
    EXPECT_NE(s.out.find("set-up (modstation takes these too)"), std::string::npos) << s.out;
}

}  // namespace
