#pragma once

// One look at the COM names: which of them open, the device each leads to,
// and why a name that should open does not. Every program of the suite
// lists its ports through it, so a name stands for the same device in each,
// and the operator reads the same description of it everywhere.

#include <string>
#include <vector>

#include "serial_port.h"

namespace wire {

// What a COM name leads to, as far as the system tells.
struct PortPlace {
    // What the name is looked up by: its entry in a folder of COM names
    // (<folder>/COM3), or its fixed name (/dev/ttyUSB0; COM3 on Windows).
    std::string path;
    bool inMap = false;         // it has an entry (not only a fixed name)
    std::string link;           // the entry's link text; empty without one
    std::string device;         // the device it leads to now; empty when nothing is there
    bool forEveryUser = false;  // the entry is in the folder for every user
    // A USB serial adapter, and what its maker wrote into it.
    bool usbAdapter = false;
    std::string description;
    std::string manufacturer;
    std::string serial;
};

// What a program knows of its COM names besides opening them.
class PortDirectory {
  public:
    virtual ~PortDirectory() = default;
    // Names worth a report even when they do not open: the entries of the
    // COM name folders, and the fixed names of USB adapters plugged in.
    virtual std::vector<int> Known() const { return {}; }
    virtual PortPlace PlaceOf(int n) const = 0;
    // The device a path given in place of a COM name leads to.
    virtual std::string DeviceAt(const std::string& path) const { return path; }
};

// The fixed names only (Windows' own names), nothing known of the devices.
class FixedPortDirectory : public PortDirectory {
  public:
    PortPlace PlaceOf(int n) const override;
};

struct SurveyedPort {
    int number = 0;
    bool opens = false;
    std::string reason;  // why it did not open; empty when it did
    PortPlace place;
    std::string Name() const { return "COM" + std::to_string(number); }
};

// Opens and closes COM1 to COM255 through probe, exactly as the programs
// open a port, and reports, lowest number first, each name that opened and
// each known one that did not.
std::vector<SurveyedPort> SurveyPorts(SerialPort& probe, const PortDirectory& directory);

// The names that opened.
std::vector<std::string> OpenNames(const std::vector<SurveyedPort>& survey);

// For a tooltip, a line each: "Device: /dev/ttyUSB0", "Linked as
// ports/COM3 -> /dev/serial/by-id/...", "Description: ...",
// "Manufacturer: ...", "Serial number: ...".
std::string PortDescription(const PortPlace& place, const std::string& name);

// The USB facts on one line ("FT232R USB UART, FTDI, A10K1234"); empty for
// any other device.
std::string UsbFactsText(const PortPlace& place);

// Why two of the names (COM names or device paths) may not be used together:
// they lead to one device. Empty when each has a device of its own.
std::string NamesOfOneDevice(const std::vector<std::string>& names, const PortDirectory& directory);

}  // namespace wire
