#include "serial_port.h"

#include <climits>
#include <cmath>
#include <sstream>

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

std::vector<std::string> ExpandPortNames(const std::string& text, std::string* error) {
    std::vector<std::string> names;
    // getline gives no part after a last comma; an empty name is no name.
    if (text.empty() || text.back() == ',') {
        *error = "\"" + text + "\" ends without a COM name";
        return {};
    }
    std::istringstream parts(text);
    for (std::string part; std::getline(parts, part, ',');) {
        const std::size_t dash = part.find('-');
        if (dash == std::string::npos) {
            if (PortNumberFromName(part) == 0) {
                *error = "\"" + part + "\" is not a COM name (COM1 to COM255)";
                return {};
            }
            names.push_back(part);
            continue;
        }
        const int first = PortNumberFromName(part.substr(0, dash));
        const int last = PortNumberFromName(part.substr(dash + 1));
        if (first == 0 || last == 0 || last < first) {
            *error = "\"" + part + "\" is not a range of COM names such as COM5-COM12";
            return {};
        }
        for (int n = first; n <= last; ++n) names.push_back("COM" + std::to_string(n));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j) {
            if (names[i] == names[j]) {
                *error = names[i] + " is given twice";
                return {};
            }
        }
    }
    return names;
}

std::string FixedDevicePath(int n) {
#ifdef _WIN32
    // The system's own names; the serial port adapter adds the device
    // prefix COM10 and above need.
    return "COM" + std::to_string(n);
#else
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
