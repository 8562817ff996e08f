#pragma once

#include <memory>
#include <string>

#include "qt_serial_port.h"
#include "qt_timers.h"
#include "socket.h"

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

}  // namespace station
