#include "serial_port.h"

#include <climits>
#include <cmath>

#include "file_system.h"
#include "leading_number.h"

namespace wire {

int TickPeriod(int lineSpeed, double factor) {
    if (lineSpeed <= 0) return INT_MAX;
    const double ms = std::nearbyint(1e6 / lineSpeed * factor);
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int PortNumberFromName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) return 0;
    if (name[3] == '0') return 0;  // no leading zeros: "COM03" is not a port name
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

std::string DevicePathForPort(int n, const std::string& programFolder) {
#ifdef _WIN32
    // The system's own names; the serial port adapter adds the device
    // prefix COM10 and above need.
    (void)programFolder;
    return "COM" + std::to_string(n);
#else
    // A link whose device has gone still names the port: opening it fails
    // rather than falling back on some other device.
    const std::string linked = programFolder + "/ports/COM" + std::to_string(n);
    if (store::fsys::EntryExists(linked)) return linked;

    // Beyond COM16 the names continue through the three families in turn:
    // COM17 ttyS4, COM18 ttyUSB8, COM19 ttyACM4, COM20 ttyS5, ...
    if (n >= 1 && n <= 4) return "/dev/ttyS" + std::to_string(n - 1);
    if (n >= 5 && n <= 12) return "/dev/ttyUSB" + std::to_string(n - 5);
    if (n >= 13 && n <= 16) return "/dev/ttyACM" + std::to_string(n - 13);
    const int k = n - 17;
    switch (k % 3) {
        case 0:
            return "/dev/ttyS" + std::to_string(4 + k / 3);
        case 1:
            return "/dev/ttyUSB" + std::to_string(8 + k / 3);
        default:
            return "/dev/ttyACM" + std::to_string(4 + k / 3);
    }
#endif
}

}  // namespace wire
