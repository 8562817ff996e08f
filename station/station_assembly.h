#pragma once

#include <memory>
#include <string>
#include <vector>

#include "open_sinks.h"
#include "port_survey.h"
#include "record_worker.h"
#include "station.h"

namespace station {

// A station's record worker, with whoever runs its answers: Qt's loop in the
// programs, the test itself on virtual time.
class RecordHost {
  public:
    virtual ~RecordHost() = default;
    virtual record::RecordWorker& Worker() = 0;
};

// What a station is put together from: Qt's ports, timers and sinks in the
// programs, fakes in tests.
class StationParts {
  public:
    virtual ~StationParts() = default;
    // The record on its own thread; its sinks are opened there, from options.
    virtual std::unique_ptr<RecordHost> MakeRecord(const record::SinkOptions& options) = 0;
    // nullptr with the reason in *why ("COM3: ...") when it does not open.
    virtual std::unique_ptr<wire::SerialPort> OpenPort(const std::string& name,
                                                       std::string* why) = 0;
    // What the port leads to now ("/dev/ttyUSB0"): the operator tells two
    // adapters apart by it.
    virtual std::string DeviceOf(wire::SerialPort& port) = 0;
    virtual std::unique_ptr<module::TimerBackend> MakeTimers() = 0;
    // From now on the socket hears its port and its timers ...
    virtual void Connect(Socket& socket, wire::SerialPort& port, module::TimerBackend& timers) = 0;
    // ... and from now on no more, with every timer stopped.
    virtual void Disconnect(wire::SerialPort& port, module::TimerBackend& timers) = 0;
    // Every COM name that opens now, and those known that do not.
    virtual std::vector<wire::SurveyedPort> SurveyPorts() { return {}; }
    // Two of the names that lead to one device, said as a usage error; empty
    // when each leads to its own.
    virtual std::string NamesOfOneDevice(const std::vector<std::string>& names) {
        (void)names;
        return {};
    }
};

// Every socket's set-up but its port: the same for all of a station's.
struct SocketsSetup {
    Job job = Job::Station;
    PlanTexts plan;
    const module::Kind* fixedKind = nullptr;  // nullptr: whichever kind answers
    std::string station;                      // the name in the record
    std::string stationId;
    std::string operatorName;
    std::string toolVersion;
    int count = 0;  // no new module once this many are written or under way (0: never)
    bool again = false;
    bool verify = true;
    int testChannel = 0;
    bool autoPort = false;  // the one adapter found, not one named
    bool trigger = false;   // each new module waits for a start from outside (the PLC)
};

// What a port that does not open is called, as the kind's own bench window
// says it; without a kind, the receiver's words.
std::string ComNotOpen(const module::Kind* kind);

// One station, put together in three steps (record, ports, sockets) and
// taken apart in the reverse order, by TearDown or when it goes: no socket
// hears its port or its timers any more, the ports close, the station and its
// sockets go, then the record, once it has answered what it was given.
class StationAssembly {
  public:
    explicit StationAssembly(StationParts& parts) : parts_(parts) {}
    ~StationAssembly() { TearDown(); }
    StationAssembly(const StationAssembly&) = delete;
    StationAssembly& operator=(const StationAssembly&) = delete;

    // Before any port is touched: a module written without its row would be
    // lost to the records. False with the reason in *error; *warning: what to
    // say once at the start (rows spooled for another database).
    bool OpenRecord(const record::SinkOptions& options, std::string* error,
                    std::string* warning);
    // Every port opens, or none is kept: a fixture with a dead socket is set
    // up wrong. False with a line per port that did not open ("COM Not
    // Open! (COM3: ...)").
    bool OpenPorts(const std::vector<std::string>& names, const module::Kind* kind,
                   std::vector<std::string>* problems);
    // A socket on each open port, numbered 1..N in their order.
    Station& MakeStation(const SocketsSetup& setup, StationObserver& observer);

    record::RecordWorker& Record() { return record_->Worker(); }
    bool HasRecord() const { return record_ != nullptr; }
    Station* Line() { return line_.get(); }
    const Station* Line() const { return line_.get(); }
    // What each socket's port leads to, socket 1 first.
    const std::vector<std::string>& Devices() const { return devices_; }
    // Waits up to ms for the record to answer what it was given; false when
    // it did not.
    bool DrainRecord(int ms);
    void TearDown();

  private:
    StationParts& parts_;
    std::unique_ptr<RecordHost> record_;
    std::vector<std::string> names_;
    std::vector<std::unique_ptr<wire::SerialPort>> ports_;
    std::vector<std::string> devices_;
    std::vector<std::unique_ptr<module::TimerBackend>> timers_;
    std::unique_ptr<Station> line_;
    bool recordStuck_ = false;  // a drain ran out of time
};

}  // namespace station
