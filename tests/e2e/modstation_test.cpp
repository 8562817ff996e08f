// modstation on a line of four fixtures: the real window, the real ports
// and modsim playing modules put in and taken out.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "child_process.h"
#include "client_programs.h"
#include "e2e_support.h"
#include "free_port.h"
#include "record_choice.h"
#include "station_window.h"

namespace fs = std::filesystem;

namespace {

using e2e::ModSim;

// One CSV line into its fields, quotes as the record writes them.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                out.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                out.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

struct Row {
    std::string socket, serial, operation, result, message;
};

std::vector<Row> Rows(const std::string& path, std::size_t* badRows) {
    const std::string log = e2e::ReadFile(path);
    std::vector<Row> rows;
    std::vector<std::string> header;
    std::size_t start = 0;
    for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const auto f = Fields(log.substr(start, end - start));
        if (header.empty()) {
            header = f;
            continue;
        }
        if (f.size() != header.size()) {
            ++*badRows;
            continue;
        }
        std::map<std::string, std::string> by;
        for (std::size_t i = 0; i < f.size(); ++i) by[header[i]] = f[i];
        rows.push_back({by["socket"], by["serial"], by["operation"], by["result"], by["message"]});
    }
    return rows;
}

std::vector<std::string> Fixture(int com, int modules) {
    // A serial range of its own for every fixture, so no module is skipped
    // as one another socket passed.
    return {"--fixture", std::to_string(modules),
            "--present", "7000",
            "--absent",  "1500",
            "--serial",  std::to_string(100000 + com * 1000)};
}

class ModstationLine : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int com = 1; com <= 4; ++com) {
            // Socket 2 stores Ch1 wrongly: every module there fails its check.
            auto options = Fixture(com, 3);
            if (com == 2) options.insert(options.end(), {"--wrong-channel", "1"});
            sims[com] = std::make_unique<ModSim>(folder, "rx", options, com);
        }
        e2e::WriteTextFile(
            folder + "/line.tbl",
            "CH0F ,434.700,\r\nCH1F ,434.600,\r\nCH2F ,433.920,\r\nCH3F ,434.075,\r\n");
        win = std::make_unique<station::StationWindow>(store::FilePlaces{folder, folder}, "9.9.9");
        win->show();
    }
    void TearDown() override {
        win.reset();
        sims.clear();
        fs::remove_all(folder);
    }
    QString TileState(int n) {
        QWidget* tile = win->findChild<QWidget*>(QString("Socket_%1").arg(n));
        return tile ? tile->accessibleDescription() : QString("(no tile)");
    }
    int Written(int n) { return win->Line() ? win->Line()->OfSocket(n).written : -1; }
    int Passed(int n) { return win->Line() ? win->Line()->OfSocket(n).passed : -1; }

    std::string folder = e2e::TempFolder();
    std::map<int, std::unique_ptr<ModSim>> sims;
    std::unique_ptr<station::StationWindow> win;
};

TEST_F(ModstationLine, FourSocketsWriteEveryModuleOnceSurviveAPulledAdapterAndStopWholly) {
    // Set-up mode: load the plan, choose the four sockets, Start.
    win->RefreshPorts();
    ASSERT_TRUE(win->LoadPlanFile(folder + "/line.tbl")) << win->Message().toStdString();
    auto* list = win->findChild<QListWidget*>("Sockets");
    ASSERT_NE(list, nullptr);
    for (const char* com : {"COM1", "COM2", "COM3", "COM4"}) {
        const auto items = list->findItems(com, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << com << " is not offered";
        items.front()->setCheckState(Qt::Checked);
    }
    auto* start = win->findChild<QPushButton*>("Start");
    auto* stop = win->findChild<QPushButton*>("Stop");
    QTest::mouseClick(start, Qt::LeftButton);
    ASSERT_TRUE(win->Producing()) << win->Message().toStdString();
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(list->isEnabled());

    // Socket 3's adapter is pulled while it writes: its tile says so, the
    // other three carry on.
    ASSERT_TRUE(e2e::WaitFor([&] { return TileState(3).startsWith("writing"); }, 8000))
        << TileState(3).toStdString();
    sims[3]->Kill();
    ASSERT_TRUE(e2e::WaitFor([&] { return TileState(3) == "adapter missing"; }, 3000))
        << TileState(3).toStdString();
    ASSERT_TRUE(
        e2e::WaitFor([&] { return Passed(1) >= 1 && Written(2) >= 1 && Passed(4) >= 1; }, 10000));
    EXPECT_EQ(TileState(3), "adapter missing");
    EXPECT_TRUE(e2e::WaitFor([&] { return TileState(1) == "PASS"; }, 1000));
    // A failed module keeps its FAIL through the identity polls while it
    // stays in the socket.
    EXPECT_TRUE(e2e::WaitFor([&] { return TileState(2).startsWith("FAIL: Discrepancy!!"); }, 1000))
        << TileState(2).toStdString();
    e2e::WaitFor([] { return false; }, 1500);
    EXPECT_TRUE(TileState(2).startsWith("FAIL")) << TileState(2).toStdString();

    // The adapter is back with a new module: the socket starts afresh.
    sims[3] = std::make_unique<ModSim>(folder, "rx", Fixture(30, 2), 3);
    ASSERT_TRUE(e2e::WaitFor([&] { return Passed(3) >= 1; }, 10000)) << TileState(3).toStdString();
    // The next module in the failing socket is written all the same.
    ASSERT_TRUE(e2e::WaitFor([&] { return Written(2) >= 2; }, 10000)) << TileState(2).toStdString();

    // Stop asks while modules are being written; no keeps production going.
    ASSERT_TRUE(e2e::WaitFor(
        [&] {
            for (int n = 1; n <= 4; ++n)
                if (TileState(n).startsWith("writing")) return true;
            return false;
        },
        12000));
    QString asked;
    win->SetConfirm([&](const QString& q) {
        asked = q;
        return false;
    });
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(asked.contains("writing a module")) << asked.toStdString();
    ASSERT_TRUE(win->Producing());
    // The sockets themselves say which are writing; a tile follows within 100 ms.
    std::set<std::string> busy;
    for (const auto& socket : win->Line()->Sockets()) {
        const station::Phase p = socket->CurrentPhase();
        if (p == station::Phase::Writing || p == station::Phase::Checking ||
            p == station::Phase::Confirming)
            busy.insert(std::to_string(socket->Config().number));
    }
    win->SetConfirm([](const QString&) { return true; });
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(e2e::WaitFor([&] { return !win->Producing(); }, 3000));
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(list->isEnabled());

    std::size_t bad = 0;
    const auto rows = Rows(station::DefaultRecordPath(folder), &bad);
    EXPECT_EQ(bad, 0u) << "a row is not whole";
    std::map<std::string, int> passes;
    std::set<std::string> interrupted;
    for (const Row& r : rows) {
        if (r.result == "pass") ++passes[r.serial];
        if (r.result == "interrupted") interrupted.insert(r.socket);
        EXPECT_NE(r.result, "running");
    }
    std::map<std::string, int> writes;
    for (const Row& r : rows) ++writes[r.serial];
    for (const auto& [serial, n] : writes) EXPECT_EQ(n, 1) << serial << " written twice";
    EXPECT_GE(passes.size(), 3u);
    // Every socket that was writing when Stop came has its whole row.
    for (const std::string& s : busy) EXPECT_TRUE(interrupted.count(s)) << "socket " << s;
    EXPECT_FALSE(busy.empty());
}

// A desktop shortcut has no terminal: a usage error is shown in a box, on
// the screen the window would have used; with no screen to show it on, the
// error goes to standard error only and the program ends at once.
TEST(ModstationShortcut, AUsageErrorWithoutATerminalIsShownInABox) {
    const std::string folder = e2e::TempFolder();
    const std::string err = folder + "/err";
    const auto start = [&](const std::string& environment) {
        return child::Spawn({"/bin/sh", "-c",
                             environment + " exec '" + e2e::BinDir() +
                                 "/modstation' --count 3 2>'" + err + "' </dev/null"},
                            {});
    };
    const pid_t offscreen = start("QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(child::WaitExit(offscreen, 10000), 2);
    {
        e2e::VirtualDisplay display;
        const pid_t pid = start("QT_QPA_PLATFORM=xcb DISPLAY=" + display.Display());
        std::string box;
        EXPECT_TRUE(e2e::WaitFor(
            [&] {
                // Only a mapped window takes the focus: the program's other
                // windows of that name are never shown.
                box = e2e::RunOnDisplay(
                    display, "xdotool search --onlyvisible --name '^modstation$' 2>/dev/null");
                return !box.empty();
            },
            15000));
        EXPECT_NE(child::WaitExit(pid, 500), 2) << "ended without waiting for the operator";
        // The operator reads it and presses Enter (again, on a machine so
        // busy that the box was not ready for the first key).
        int status = -1;
        for (int tries = 0; tries < 10 && status < 0; ++tries) {
            e2e::RunOnDisplay(display, "xdotool windowfocus --sync " +
                                           box.substr(0, box.find('\n')) + " key Return");
            status = child::WaitExit(pid, 1000);
        }
        if (status < 0) kill(pid, SIGKILL);
        EXPECT_EQ(status, 2);
    }
    EXPECT_NE(e2e::ReadFile(err).find("modstation: unknown option \"--count\" (it is modsetup "
                                      "station's alone)"),
              std::string::npos)
        << e2e::ReadFile(err);
    fs::remove_all(folder);
}

// POST /start is the Start button: refused for the button's reason (a first
// start has no plan), and once there is a plan it starts production; POST
// /stop then ends the program as SIGTERM does.
TEST(ModstationDoors, StartAtTheDoorIsTheStartButton) {
    using doorstest::Curl;
    const std::string folder = e2e::TempFolder();
    fs::copy_file(e2e::BinDir() + "/modstation", folder + "/modstation");
    ModSim sim(folder, "rx", Fixture(1, 2));
    const int port = FreeLoopbackPort();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const auto run = [&](std::vector<std::string> more) {
        std::vector<std::string> argv = {folder + "/modstation", "--http",
                                         "127.0.0.1:" + std::to_string(port), "--ports", "COM1",
                                         "--kind", "rx"};
        argv.insert(argv.end(), more.begin(), more.end());
        return child::Spawn(argv, {"QT_QPA_PLATFORM=offscreen"});
    };
    for (const bool plan : {false, true}) {
        const pid_t pid = run(plan ? std::vector<std::string>{"--channels", "434.700,434.600,433.920,434.075"}
                                   : std::vector<std::string>{});
        std::string status;
        ASSERT_TRUE(e2e::WaitFor(
            [&] {
                status = Curl(base + "/status").body;
                return status.find("\"state\":\"setup\"") != std::string::npos;
            },
            15000))
            << status;
        const doorstest::Answer start = Curl("-X POST " + base + "/start");
        EXPECT_EQ(start.code, plan ? 200 : 409);
        if (!plan) {
            EXPECT_EQ(start.body,
                      "{\"ok\":false,\"error\":\"No plan yet: load a plan file or type the four "
                      "frequencies\"}");
        } else {
            EXPECT_EQ(start.body, "{\"ok\":true}");
            EXPECT_TRUE(e2e::WaitFor(
                [&] {
                    status = Curl(base + "/status").body;
                    return status.find("\"state\":\"production\"") != std::string::npos &&
                           status.find("\"port\":\"COM1\"") != std::string::npos;
                },
                10000))
                << status;
        }
        EXPECT_EQ(Curl("-X POST " + base + "/stop").body, "{\"ok\":true}");
        EXPECT_EQ(child::WaitExit(pid, 15000), 0);
    }
    fs::remove_all(folder);
}

}  // namespace
