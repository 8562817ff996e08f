// A station put together from fake parts, as modsetup and modstation both get
// it: the record before any port, every port or none, and taken apart in the
// reverse order.
#include <gtest/gtest.h>

#include <set>

#include "csv_sink.h"
#include "fakes.h"
#include "station_assembly.h"

namespace {

using Log = std::vector<std::string>;

struct NamedPort : testing_support::FakeSerialPort {
    NamedPort(std::string n, Log* l) : name(std::move(n)), log(l) {}
    void Close() override {
        log->push_back("close " + name);
        FakeSerialPort::Close();
    }
    std::string name;
    Log* log;
};

struct Host : station::RecordHost {
    Host(record::RecordWorker::SinkFactory f, Log* l)
        : worker(std::move(f), nullptr, record::RecordWorker::Mode::Inline), log(l) {}
    ~Host() override { log->push_back("record gone"); }
    record::RecordWorker& Worker() override { return worker; }
    record::RecordWorker worker;
    Log* log;
};

struct Parts : station::StationParts, station::StationObserver {
    std::unique_ptr<station::RecordHost> MakeRecord(const record::SinkOptions& o) override {
        return std::make_unique<Host>(
            [this, o](std::string* why) -> std::unique_ptr<record::Sink> {
                if (recordRefuses) {
                    *why = "cannot write " + o.logPath + ": Permission denied";
                    return nullptr;
                }
                auto csv = std::make_unique<record::CsvSink>(o.logPath);
                if (!csv->Open(why)) return nullptr;
                return csv;
            },
            &log);
    }
    std::unique_ptr<wire::SerialPort> OpenPort(const std::string& name, std::string* why) override {
        log.push_back("open " + name);
        if (dead.count(name)) {
            *why = name + ": No such file or directory";
            return nullptr;
        }
        auto port = std::make_unique<NamedPort>(name, &log);
        port->Open();
        return port;
    }
    std::string DeviceOf(wire::SerialPort& port) override {
        return "/dev/fake/" + static_cast<NamedPort&>(port).name;
    }
    std::unique_ptr<module::TimerBackend> MakeTimers() override {
        return std::make_unique<testing_support::VirtualClock>();
    }
    void Connect(station::Socket& socket, wire::SerialPort&, module::TimerBackend&) override {
        log.push_back("connect socket " + std::to_string(socket.Config().number));
    }
    void Disconnect(wire::SerialPort& port, module::TimerBackend&) override {
        log.push_back("disconnect " + static_cast<NamedPort&>(port).name);
    }

    bool AcceptPlan(const station::Socket&, const module::Kind&) override { return true; }
    void OnAttempt(const station::Socket&, const record::Attempt&, bool, const std::string&) override {}
    void OnStationEnded(const station::Station&) override {}

    Log log;
    bool recordRefuses = false;
    std::set<std::string> dead;
};

TEST(StationAssembly, RecordFirstThenEveryPortOrNoneThenTakenApartInReverse) {
    const std::string folder = testing_support::MakeTempFolder();
    record::SinkOptions options;
    options.logPath = folder + "/log.csv";
    const std::vector<std::string> names = {"COM1", "COM2", "COM3"};
    std::string error, warning;
    {
        // A record that cannot take rows: no port is touched.
        Parts parts;
        parts.recordRefuses = true;
        station::StationAssembly assembly(parts);
        EXPECT_FALSE(assembly.OpenRecord(options, &error, &warning));
        EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
        EXPECT_EQ(parts.log, Log{"record gone"});
    }
    // One dead socket: it is named in its kind's words, and no port is kept.
    for (const auto& [kind, said] :
         {std::pair<const module::Kind*, std::string>{nullptr, "COM Not Open! (COM2: "},
          {&module::Receiver(), "COM Not Open! (COM2: "},
          {&module::Transmitter(), "COM Not Open!! (COM2: "}}) {
        Parts parts;
        parts.dead = {"COM2"};
        station::StationAssembly assembly(parts);
        ASSERT_TRUE(assembly.OpenRecord(options, &error, &warning)) << error;
        std::vector<std::string> problems;
        EXPECT_FALSE(assembly.OpenPorts(names, kind, &problems));
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind(said, 0), 0u) << problems[0];
        EXPECT_EQ(parts.log, (Log{"open COM1", "open COM2", "open COM3", "close COM1", "close COM3"}));
    }
    Parts parts;
    station::StationAssembly assembly(parts);
    ASSERT_TRUE(assembly.OpenRecord(options, &error, &warning)) << error;
    std::vector<std::string> problems;
    ASSERT_TRUE(assembly.OpenPorts(names, nullptr, &problems));
    station::SocketsSetup setup;
    setup.station = "line 4";
    station::Station& line = assembly.MakeStation(setup, parts);
    ASSERT_EQ(line.Sockets().size(), 3u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const station::SocketConfig& c = line.Sockets()[i]->Config();
        EXPECT_EQ(c.number, static_cast<int>(i + 1));
        EXPECT_EQ(c.port, names[i]);
        EXPECT_EQ(c.device, "/dev/fake/" + names[i]);
        EXPECT_EQ(c.station, "line 4");
    }
    parts.log.clear();
    assembly.TearDown();
    EXPECT_EQ(assembly.Line(), nullptr);
    EXPECT_EQ(parts.log, (Log{"disconnect COM1", "close COM1", "disconnect COM2", "close COM2",
                              "disconnect COM3", "close COM3", "record gone"}));
    testing_support::RemoveFolder(folder);
}

}  // namespace
