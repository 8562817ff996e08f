#pragma once

#include <memory>
#include <string>

#include "qt_serial_port.h"
#include "qt_timers.h"
#include "socket.h"
#include "station_assembly.h"

namespace station {

// The port of a socket, given as "COMn" (mapped as the windows map it) or a
// device path, opened with DTR and RTS raised. nullptr with the reason in
// *error ("COM3: ...") when it does not open.
std::unique_ptr<wire::QtSerialPort> OpenSocketPort(const std::string& name,
                                                   const store::PortFolders& names,
                                                   std::string* error);

// What the port leads to now ("/dev/ttyUSB0", "/dev/pts/3"): the operator
// tells two adapters apart by it.
std::string SocketDevice(const wire::QtSerialPort& port);

// The socket hears its port and its timers from now on.
void ConnectSocket(Socket& socket, wire::QtSerialPort& port, module::QtTimers& timers);

// A station's parts on Qt: QtSerialPort and QtTimers, and the record on its
// thread with its answers on Qt's loop, its sinks opened as the options say.
class QtStationParts : public StationParts {
  public:
    explicit QtStationParts(store::PortFolders names) : names_(std::move(names)) {}
    std::unique_ptr<RecordHost> MakeRecord(const record::SinkOptions& options) override;
    std::unique_ptr<wire::SerialPort> OpenPort(const std::string& name, std::string* why) override;
    std::string DeviceOf(wire::SerialPort& port) override;
    std::unique_ptr<module::TimerBackend> MakeTimers() override;
    void Connect(Socket& socket, wire::SerialPort& port, module::TimerBackend& timers) override;
    void Disconnect(wire::SerialPort& port, module::TimerBackend& timers) override;
    std::vector<wire::SurveyedPort> SurveyPorts() override;
    std::string NamesOfOneDevice(const std::vector<std::string>& names) override;

  private:
    store::PortFolders names_;
};

}  // namespace station
