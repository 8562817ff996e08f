#include "socket_port.h"

#include <QFileInfo>

#include "qt_record.h"
#include "sql_record.h"

namespace station {

std::unique_ptr<wire::QtSerialPort> OpenSocketPort(const std::string& name,
                                                   const store::PortFolders& names,
                                                   std::string* error) {
    auto port = std::make_unique<wire::QtSerialPort>(names);
    if (name.find('/') != std::string::npos) {
        port->SetDeviceOverride(name);
    } else {
        port->SetPortNumber(wire::PortNumberFromName(name));
    }
    if (!port->SetDtr(true) || !port->SetRts(true) || !port->Open()) {
        *error = name + ": " + port->LastError();
        return nullptr;
    }
    return port;
}

std::string SocketDevice(const wire::QtSerialPort& port) {
    const QString target = QFileInfo(QString::fromStdString(port.DevicePath())).canonicalFilePath();
    return target.isEmpty() ? port.DevicePath() : target.toStdString();
}

void ConnectSocket(Socket& socket, wire::QtSerialPort& port, module::QtTimers& timers) {
    timers.SetTickHandler([&socket](module::TimerId id) { socket.OnTimer(id); });
    port.SetReceiveHandler([&socket](wire::CommEvent e) { socket.OnPortEvent(e); });
}

std::unique_ptr<RecordHost> QtStationParts::MakeRecord(const record::SinkOptions& options) {
    return std::make_unique<QtRecord>(
        [options](std::string* why) { return record::OpenSinks(options, why); });
}

std::unique_ptr<wire::SerialPort> QtStationParts::OpenPort(const std::string& name,
                                                           std::string* why) {
    return OpenSocketPort(name, names_, why);
}

// The parts below are only ever given what this class made.
std::string QtStationParts::DeviceOf(wire::SerialPort& port) {
    return SocketDevice(static_cast<wire::QtSerialPort&>(port));
}

std::unique_ptr<module::TimerBackend> QtStationParts::MakeTimers() {
    return std::make_unique<module::QtTimers>();
}

void QtStationParts::Connect(Socket& socket, wire::SerialPort& port,
                             module::TimerBackend& timers) {
    ConnectSocket(socket, static_cast<wire::QtSerialPort&>(port),
                  static_cast<module::QtTimers&>(timers));
}

void QtStationParts::Disconnect(wire::SerialPort& port, module::TimerBackend& timers) {
    static_cast<wire::QtSerialPort&>(port).SetReceiveHandler(nullptr);
    auto& qtTimers = static_cast<module::QtTimers&>(timers);
    qtTimers.StopAll();
    qtTimers.SetTickHandler(nullptr);
}

std::vector<wire::SurveyedPort> QtStationParts::SurveyPorts() {
    wire::QtSerialPort probe(names_);
    return wire::SurveyPorts(probe, probe.Names());
}

std::string QtStationParts::NamesOfOneDevice(const std::vector<std::string>& names) {
    return wire::NamesOfOneDevice(names, wire::QtSerialPort(names_).Names());
}

}  // namespace station
