// modstation's rules without a widget: the station model over fake ports,
// each with modsim's module engine behind it, on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "csv_log.h"
#include "csv_sink.h"
#include "fakes.h"
#include "module_engine.h"
#include "six_channel_kind.h"
#include "station_model.h"

namespace {

using testing_support::FakeSerialPort;
using testing_support::VirtualClock;

// A CSV record whose disk can fill up.
struct FillingCsv : record::CsvSink {
    FillingCsv(const std::string& path, const bool* full) : CsvSink(path), full(full) {}
    bool Finish(const record::Attempt& a, std::string* error) override {
        if (*full) {
            *error = "cannot write line.csv: No space left on device";
            return false;
        }
        return CsvSink::Finish(a, error);
    }
    const bool* full;
};

struct Line : station::StationParts {
    struct Host : station::RecordHost {
        Host(record::RecordWorker::SinkFactory f, Host** self)
            : worker(std::move(f), nullptr, record::RecordWorker::Mode::Inline), self(self) {
            *self = this;
        }
        ~Host() override { *self = nullptr; }
        record::RecordWorker& Worker() override { return worker; }
        record::RecordWorker worker;
        Host** self;
    };

    std::unique_ptr<station::RecordHost> MakeRecord(const record::SinkOptions& o) override {
        auto host = std::make_unique<Host>(
            [this, o](std::string* why) -> std::unique_ptr<record::Sink> {
                auto csv = std::make_unique<FillingCsv>(o.logPath, &diskFull);
                if (!csv->Open(why)) return nullptr;
                return csv;
            },
            &host_);
        return host;
    }
    std::unique_ptr<wire::SerialPort> OpenPort(const std::string& name, std::string* why) override {
        ++opened;
        if (!offered.count(name)) {
            *why = name + ": No such file or directory";
            return nullptr;
        }
        auto port = std::make_unique<FakeSerialPort>();
        port->responder = [this, name](const std::string& bytes) {
            auto& module = modules[name];
            return module ? module->Receive(bytes) : std::string();
        };
        port->Open();
        names[port.get()] = name;
        return port;
    }
    std::string DeviceOf(wire::SerialPort& port) override { return "/dev/fake/" + names[&port]; }
    std::unique_ptr<module::TimerBackend> MakeTimers() override {
        return std::make_unique<VirtualClock>();
    }
    void Connect(station::Socket& socket, wire::SerialPort& p, module::TimerBackend& t) override {
        auto& port = static_cast<FakeSerialPort&>(p);
        auto& clock = static_cast<VirtualClock&>(t);
        clock.SetTickHandler([this, &port, &socket](module::TimerId id) {
            port.DeliverReplies();
            socket.OnTimer(id);
            Answer();
        });
        port.SetReceiveHandler([&socket](wire::CommEvent e) { socket.OnPortEvent(e); });
        clocks.push_back(&clock);
    }
    void Disconnect(wire::SerialPort& port, module::TimerBackend& t) override {
        static_cast<FakeSerialPort&>(port).SetReceiveHandler(nullptr);
        static_cast<VirtualClock&>(t).SetTickHandler(nullptr);
        clocks.erase(std::remove(clocks.begin(), clocks.end(), &t), clocks.end());
    }
    std::vector<wire::SurveyedPort> SurveyPorts() override {
        std::vector<wire::SurveyedPort> out;
        for (const std::string& name : offered) {
            wire::SurveyedPort p;
            p.number = std::stoi(name.substr(3));
            p.opens = true;
            out.push_back(p);
        }
        return out;
    }

    // The record answers between two ticks, as its thread would.
    void Answer() {
        if (!host_) return;
        do {
            host_->worker.RunQueued();
            host_->worker.Deliver();
        } while (host_ && host_->worker.State().waiting > 0);
    }
    void Put(const std::string& name, modsim::EngineOptions o) {
        modules[name] = std::make_unique<modsim::ModuleEngine>(o);
    }

    std::set<std::string> offered = {"COM1", "COM2", "COM3", "COM4"};
    std::map<std::string, std::unique_ptr<modsim::ModuleEngine>> modules;
    std::map<wire::SerialPort*, std::string> names;
    std::vector<VirtualClock*> clocks;
    Host* host_ = nullptr;
    bool diskFull = false;
    int opened = 0;
};

modsim::EngineOptions Module(const std::string& serial, bool transmitter = false) {
    modsim::EngineOptions o;
    o.serial = serial;
    if (transmitter) o.kind = modsim::ModuleKind::Transmitter;
    return o;
}

struct Station {
    Station() {
        model.timeOfDay = [] { return std::string("08:15:00"); };
        model.RefreshPorts();
    }
    ~Station() { testing_support::RemoveFolder(folder); }

    station::StationSetup Setup(const std::string& kind, const std::string& ch1,
                                std::vector<std::string> ports) {
        station::StationSetup s;
        s.channels = {"434.700", ch1, "433.920", "434.075"};
        s.kind = kind;
        s.ports = std::move(ports);
        s.record = folder + "/line.csv";
        s.station = "line 2";
        return s;
    }
    // Every socket's clock moves on together; what the station posted for
    // later runs between two steps, as Qt's loop would run it.
    bool RunUntil(const std::function<bool()>& done, long limitMs = 30000) {
        for (long t = 0; t < limitMs; t += 10) {
            if (done()) return true;
            for (VirtualClock* c : std::vector<VirtualClock*>(line.clocks)) c->Advance(10);
            while (!posted.empty()) {
                auto f = std::move(posted.front());
                posted.erase(posted.begin());
                f();
            }
        }
        return done();
    }
    const station::Tile& TileOf(int n) const {
        return model.Tiles().at(static_cast<std::size_t>(n - 1));
    }
    bool Shows(int n, station::TileLook look) const {
        return model.Tiles().size() >= static_cast<std::size_t>(n) && TileOf(n).words.look == look;
    }
    int FailuresOf(int socket) const {
        return static_cast<int>(std::count_if(model.Failures().begin(), model.Failures().end(),
                                              [&](const auto& f) { return f.socket == socket; }));
    }

    std::string folder = testing_support::MakeTempFolder();
    Line line;
    std::vector<std::function<void()>> posted;
    station::StationModel model{line,
                                {folder, "9.9.9", "bench-host"},
                                [this](std::function<void()> f) { posted.push_back(std::move(f)); }};
};

// Start is refused, with what to set up first, before any port is touched.
TEST(StationModel, StartRefusedWithWhatToSetUpFirst) {
    struct Case {
        const char* name;
        std::function<station::StationSetup(Station&)> setup;
        std::string said;
    };
    const Case cases[] = {
        {"a first start, no plan chosen",
         [](Station&) {
             station::StationSetup s;
             s.ports = {"COM1"};
             return s;
         },
         "No plan yet: load a plan file or type the four frequencies"},
        {"a channel left empty", [](Station& s) { return s.Setup("rx", "", {"COM1"}); },
         "Ch1 has no frequency"},
        {"not a number", [](Station& s) { return s.Setup("rx", "434.6x", {"COM1"}); },
         "\"434.6x\" is not a frequency in MHz"},
        {"off the chosen kind's band", [](Station& s) { return s.Setup("rx", "435.000", {"COM1"}); },
         "rx Ch1 435.000 MHz: "},
        {"refused by every kind", [](Station& s) { return s.Setup("", "435.000", {"COM1"}); },
         "(plan refused)"},
        {"no socket chosen", [](Station& s) { return s.Setup("rx", "434.600", {}); },
         "Choose the sockets first"},
        {"a socket that does not open",
         [](Station& s) { return s.Setup("tx", "434.600", {"COM1", "COM9"}); },
         "COM Not Open!! (COM9: No such file or directory)"},
    };
    for (const Case& c : cases) {
        Station s;
        s.model.Apply(c.setup(s));
        EXPECT_FALSE(s.model.Start()) << c.name;
        EXPECT_FALSE(s.model.Producing());
        EXPECT_TRUE(s.model.StartEnabled());
        EXPECT_TRUE(s.model.Message().problem) << c.name;
        EXPECT_NE(s.model.Message().text.find(c.said), std::string::npos)
            << c.name << ": " << s.model.Message().text;
        // Only a socket that does not open was tried: every port, then none kept.
        EXPECT_EQ(s.line.opened, c.said.rfind("COM Not Open", 0) == 0 ? 2 : 0) << c.name;
        if (c.setup(s).channels[0].empty()) {
            EXPECT_EQ(s.model.PlanText(), c.said);
            EXPECT_EQ(s.model.SetupHint(), c.said);
        }
    }
}

// Whichever kind answers, with a Ch1 only rx makes: the header says what tx
// refuses; a tx module is a FAIL with that reason in a row and its socket
// goes on; an unread serial is empty; a module that passed before is
// SKIPPED; and Stop asks while a module is being written.
TEST(StationModel, AShiftOfMixedModulesShowsEachAsItIs) {
    Station s;
    s.model.Apply(s.Setup("", "434.610", {"COM1", "COM2", "COM3", "COM4"}));
    EXPECT_NE(s.model.PlanNotes().find("tx Ch1 434.610 MHz: "), std::string::npos)
        << s.model.PlanNotes();
    EXPECT_EQ(s.model.PlanNotes().find("Every channel is made exactly"), std::string::npos);
    s.line.Put("COM1", Module("0A0001"));
    s.line.Put("COM2", Module("0B0002", true));
    modsim::EngineOptions garbled = Module("0C0003");
    garbled.replies = {{"/D", "*D ZZ"}};
    s.line.Put("COM3", garbled);
    ASSERT_TRUE(s.model.Start()) << s.model.Message().text;
    EXPECT_NE(s.model.Message().text.find("tx modules fail: tx Ch1 434.610 MHz"),
              std::string::npos)
        << s.model.Message().text;
    // A door's word joins the line; it does not hide what Start said.
    s.model.Say("pause by http 127.0.0.1");
    s.model.Say("resume by http 127.0.0.1");
    EXPECT_NE(s.model.Message().text.find("tx modules fail"), std::string::npos);
    EXPECT_EQ(s.model.Message().text.find("pause by"), std::string::npos);
    EXPECT_NE(s.model.Message().text.find("(resume by http 127.0.0.1)"), std::string::npos);
    ASSERT_EQ(s.model.Tiles().size(), 4u);
    EXPECT_EQ(s.TileOf(2).device, "/dev/fake/COM2");

    // Stop while socket 1 writes: the question names it, and no stop yet.
    ASSERT_TRUE(s.RunUntil([&] { return s.TileOf(1).view.phase == station::Phase::Writing; }));
    EXPECT_NE(s.model.StopQuestion().find("Socket 1 is writing a module. Stop anyway?"),
              std::string::npos)
        << s.model.StopQuestion();
    EXPECT_EQ(s.TileOf(1).words.progress.find(" of 4 written") != std::string::npos, true);

    ASSERT_TRUE(s.RunUntil([&] {
        return s.Shows(1, station::TileLook::Pass) && s.Shows(2, station::TileLook::Fail);
    })) << s.TileOf(1).words.description << " | " << s.TileOf(2).words.description;
    EXPECT_EQ(s.TileOf(1).words.headline, "\u2714 PASS");
    EXPECT_NE(s.TileOf(2).words.reason.find("434.610"), std::string::npos)
        << s.TileOf(2).words.reason;
    // The module that passed on socket 1 comes back on socket 4.
    s.line.Put("COM4", Module("0A0001"));
    ASSERT_TRUE(s.RunUntil([&] { return s.Shows(4, station::TileLook::Skipped); }))
        << s.TileOf(4).words.description;
    EXPECT_EQ(s.TileOf(4).words.headline, "\u21b7 SKIPPED");
    EXPECT_EQ(s.TileOf(4).words.reason.rfind("take it out: passed before (station line 2", 0), 0u)
        << s.TileOf(4).words.reason;
    ASSERT_TRUE(s.RunUntil([&] { return s.FailuresOf(3) >= 1; }))
        << s.TileOf(3).words.description;
    EXPECT_EQ(s.TileOf(3).view.serial, "");
    for (const auto& f : s.model.Failures()) {
        if (f.socket == 3) {
            EXPECT_EQ(f.serial, "");
        }
        if (f.socket == 2) {
            EXPECT_NE(f.reason.find("434.610"), std::string::npos) << f.reason;
        }
        EXPECT_EQ(f.time, "08:15:00");
    }
    // Socket 2 goes on: the next module there is a receiver and passes.
    s.line.Put("COM2", Module("0B0004"));
    ASSERT_TRUE(s.RunUntil([&] { return s.model.Line()->OfSocket(2).passed == 1; }));
    s.model.Refresh();
    EXPECT_EQ(s.model.Counters().passed, "2");
    EXPECT_EQ(s.model.Counters().skipped, "1");

    s.model.Stop();
    ASSERT_TRUE(s.RunUntil([&] { return !s.model.Producing(); }));
    EXPECT_EQ(s.model.Message().text, "Stopped: set-up mode");
    EXPECT_TRUE(s.model.Tiles().empty());
    EXPECT_EQ(s.model.Counters().passed, "2");  // the last session's, until Start
    EXPECT_TRUE(s.model.StartEnabled());

    // With a PLC's trigger every socket of the next production waits for it.
    s.model.SetTrigger(true);
    ASSERT_TRUE(s.model.Start()) << s.model.Message().text;
    for (const auto& socket : s.model.Line()->Sockets()) EXPECT_TRUE(socket->Config().trigger);
    s.model.Stop();
    ASSERT_TRUE(s.RunUntil([&] { return !s.model.Producing(); }));
}

// With the kind fixed, a module of the other kind is failed once and stays
// one row as it is pulled out; a disk that fills stops production, and the
// message line says why.
TEST(StationModel, WrongKindOnceAndWhyProductionStopped) {
    Station s;
    s.model.Apply(s.Setup("rx", "434.600", {"COM1", "COM2"}));
    s.line.Put("COM1", Module("0D0001", true));
    ASSERT_TRUE(s.model.Start()) << s.model.Message().text;
    EXPECT_EQ(s.model.RecordText().find("rows not yet sent"), std::string::npos)
        << s.model.RecordText();
    ASSERT_TRUE(s.RunUntil([&] { return s.FailuresOf(1) == 1; }));
    EXPECT_EQ(s.model.Failures().front().serial, "00851969");  // 0x0D0001
    s.line.modules["COM1"].reset();
    s.RunUntil([] { return false; }, 3000);
    EXPECT_EQ(s.FailuresOf(1), 1);
    EXPECT_EQ(s.model.Line()->Total().failed, 1);

    s.line.diskFull = true;
    s.line.Put("COM2", Module("0D0002"));
    ASSERT_TRUE(s.RunUntil([&] { return !s.model.Producing(); }));
    EXPECT_TRUE(s.model.Message().problem);
    EXPECT_NE(s.model.Message().text.find("Stopped: set-up mode (record: "), std::string::npos)
        << s.model.Message().text;
    EXPECT_NE(s.model.Message().text.find("No space left on device"), std::string::npos)
        << s.model.Message().text;
}

}  // namespace

// The tests' six-channel kind, from a plan file of six: its module is
// written channel by channel to the sixth and passes, its row holds all
// six; a receiver of four in the next socket is refused for the plan's
// count, and the header says so before Start.
TEST(StationModel, ASixChannelKindTakesItsCountFromTheKind) {
    const module::Kind& six = testing_support::SixChannelKind();
    Station s;
    const std::string plan = s.folder + "/six.tbl";
    {
        std::ofstream f(plan);
        const char* mhz[] = {"434.700", "434.600", "433.920", "434.075", "433.920", "434.700"};
        for (int ch = 0; ch < 6; ++ch) f << "CH" << ch << "F ," << mhz[ch] << ",\r\n";
    }
    station::StationSetup setup = s.Setup("", "434.600", {"COM1", "COM2"});
    s.model.Apply(setup);
    ASSERT_TRUE(s.model.LoadPlanFile(plan)) << s.model.Message().text;
    EXPECT_NE(s.model.PlanText().find("Ch5 434.700"), std::string::npos) << s.model.PlanText();
    EXPECT_NE(s.model.PlanNotes().find("rx: the plan has 6 channels, the receiver 4"),
              std::string::npos)
        << s.model.PlanNotes();
    modsim::EngineOptions o = Module("0E0001");
    o.channelCount = six.channelCount;
    o.version = std::string(1, six.letter) + "1.05";
    s.line.Put("COM1", o);
    s.line.Put("COM2", Module("0E0002"));
    ASSERT_TRUE(s.model.Start()) << s.model.Message().text;
    ASSERT_TRUE(s.RunUntil([&] { return s.TileOf(1).view.phase == station::Phase::Writing; }));
    EXPECT_NE(s.TileOf(1).words.progress.find(" of 6 written"), std::string::npos)
        << s.TileOf(1).words.progress;
    ASSERT_TRUE(s.RunUntil(
        [&] { return s.Shows(1, station::TileLook::Pass) && s.Shows(2, station::TileLook::Fail); }))
        << s.TileOf(1).words.description << " | " << s.TileOf(2).words.description;
    EXPECT_NE(s.TileOf(2).words.reason.find("the plan has 6 channels"), std::string::npos)
        << s.TileOf(2).words.reason;
    EXPECT_EQ(s.line.modules["COM1"]->Channel(5), s.line.modules["COM1"]->Channel(0));
    s.model.Stop();
    ASSERT_TRUE(s.RunUntil([&] { return !s.model.Producing(); }));
    const std::vector<record::Attempt> rows = record::ReadProductionRows(s.folder + "/line.csv");
    const auto passed = std::find_if(rows.begin(), rows.end(), [](const record::Attempt& a) {
        return a.result == record::Result::Pass;
    });
    ASSERT_NE(passed, rows.end());
    EXPECT_EQ(passed->kind, "rx6");
    EXPECT_EQ(passed->channels, (std::vector<std::string>{"434.700", "434.600", "433.920",
                                                          "434.075", "433.920", "434.700"}));
    ASSERT_EQ(passed->readBack.size(), 6u);
    EXPECT_EQ(passed->readBack[5], passed->readBack[0]);
}
