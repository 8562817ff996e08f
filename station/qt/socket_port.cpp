#include "socket_port.h"

#include <QFileInfo>

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

}  // namespace station
