#pragma once

// One station socket on virtual time: modsim's module engine behind the fake
// port, and a CSV record in a folder of its own that answers between two
// ticks, as the worker's thread would. The socket's own tests and the doors'
// link tests build on it with the observer they need.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "csv_sink.h"
#include "fakes.h"
#include "frequency.h"
#include "module_engine.h"
#include "record_worker.h"
#include "station.h"

namespace testing_support {

// A record that writes log.csv in folder, answering on the caller's thread.
inline record::RecordWorker::SinkFactory CsvLogIn(const std::string& folder) {
    return [&folder](std::string*) -> std::unique_ptr<record::Sink> {
        auto csv = std::make_unique<record::CsvSink>(folder + "/log.csv");
        if (!csv->Open(nullptr)) return nullptr;
        return csv;
    };
}

struct OneSocketLine {
    OneSocketLine(station::StationObserver& observer, const station::SocketConfig& config,
                  int count = 0)
        : record(CsvLogIn(folder), nullptr, record::RecordWorker::Mode::Inline),
          line(record, observer, count) {
        socket = &line.AddSocket(config, port, clock);
        clock.SetTickHandler([this](module::TimerId id) {
            port.DeliverReplies();
            socket->OnTimer(id);
            if (!holdRecord) Answer();
        });
        port.SetReceiveHandler([this](wire::CommEvent e) { socket->OnPortEvent(e); });
        port.responder = [this](const std::string& bytes) {
            commands.push_back(bytes);
            if (onCommand) onCommand(bytes);
            return inSocket ? inSocket->Receive(bytes) : std::string();
        };
        port.Open();
    }
    virtual ~OneSocketLine() { RemoveFolder(folder); }
    OneSocketLine(const OneSocketLine&) = delete;
    OneSocketLine& operator=(const OneSocketLine&) = delete;

    // COM1 of `station`, rx only, the default plan.
    static station::SocketConfig Config(const std::string& station) {
        station::SocketConfig config;
        config.port = "COM1";
        config.station = station;
        config.fixedKind = &module::Receiver();
        config.plan.assign(std::begin(channel::kDefaultFrequencies), std::end(channel::kDefaultFrequencies));
        return config;
    }

    // The record is opened (reading the log as it is now), then the sockets.
    void Start() {
        record.Start([](const std::string& error) { EXPECT_EQ(error, ""); });
        Answer();
        line.Start();
    }
    void Answer() {
        do {
            record.RunQueued();
            record.Deliver();
        } while (record.State().waiting > 0);
    }
    void Put(modsim::EngineOptions o) { inSocket = std::make_unique<modsim::ModuleEngine>(o); }
    // Runs until the condition holds, at most limitMs of virtual time;
    // between runs each 10 ms step.
    bool RunUntil(const std::function<bool()>& done, long limitMs = 30000,
                  const std::function<void()>& between = {}) {
        for (long t = 0; t < limitMs; t += 10) {
            if (done()) return true;
            clock.Advance(10);
            if (between) between();
        }
        return done();
    }

    std::string folder = MakeTempFolder();
    FakeSerialPort port;
    VirtualClock clock;
    record::RecordWorker record;
    station::Station line;
    bool holdRecord = false;  // the record is slow: it answers only when the test says
    station::Socket* socket = nullptr;
    std::unique_ptr<modsim::ModuleEngine> inSocket;
    std::function<void(const std::string&)> onCommand;
    std::vector<std::string> commands;  // every command the socket sent
};

}  // namespace testing_support
