#pragma once

// COM names that stay with their USB serial adapter (Linux). The first time an
// adapter is seen it gets the lowest free COM name from COM3 up (COM1 and COM2
// are left to the built-in ports), kept as a link <config>/ports/COMn to the
// adapter's stable path under /dev/serial. Assignment only ever adds a link
// at a name that has no entry yet; it never changes or removes an entry, so a
// link made by hand stays exactly as made and an adapter a link already leads
// to gets no second name. Where ports/ cannot be written nothing is made and
// the fixed mapping of DevicePathForPort stays in force.

#include <map>
#include <string>
#include <vector>

#include "device_facts.h"

namespace wire {

constexpr int kFirstAssignedPort = 3;

// One COMn entry of ports/.
struct PortEntry {
    int number = 0;
    std::string path;    // <config>/ports/COMn
    std::string target;  // the link's text; empty when the entry is not a link
    std::string device;  // what it leads to now; empty when nothing is there
};

// Every COMn entry of <configFolder>/ports, lowest number first.
std::vector<PortEntry> ReadPortEntries(const std::string& configFolder);

// The path an adapter is known by for life: its by-id name when it has a USB
// serial number no other adapter plugged in shares, else its by-path name
// (the USB port it sits in).
std::string StablePath(const UsbSerialDevice& device, const std::vector<UsbSerialDevice>& present);

struct Assignment {
    int number = 0;
    std::string stablePath;
};

struct AssignOutcome {
    std::vector<Assignment> made;
    std::string error;  // why ports/ could not be written; empty when it could
};

// Gives each adapter plugged in that no entry of ports/ leads to a COM name.
AssignOutcome AssignNewAdapters(const std::string& configFolder, const DeviceFacts& facts);

// What the operator asks for by hand. AssignPort links COMn to the stable
// path of device (a tty, a /dev/serial path, or any other device, which is
// then linked as given); another name the same adapter had through
// /dev/serial is removed, so the adapter has one name. A COMn that is taken
// is refused. Both return an error text, empty on success; *moved gets the
// names given up.
std::string AssignPort(const std::string& configFolder, int n, const std::string& device,
                       const DeviceFacts& facts, std::vector<int>* moved);
std::string ForgetPort(const std::string& configFolder, int n);

// Assignment where ports are discovered and opened: it runs again only when
// an adapter was plugged or pulled or ports/ changed since the last time, so
// probing 255 names costs one look at the device trees.
class PortAssigner {
  public:
    PortAssigner(std::string configFolder, const DeviceFacts& facts)
        : configFolder_(std::move(configFolder)), facts_(facts) {}

    void Refresh();
    // The COM name whose ports/ entry leads to device now; 0 for none.
    int NumberOfDevice(const std::string& device) const;

  private:
    std::string Stamp() const;

    std::string configFolder_;
    const DeviceFacts& facts_;
    std::string stamp_;
    std::map<std::string, int> numbers_;
};

}  // namespace wire
