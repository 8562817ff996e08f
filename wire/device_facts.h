#pragma once

// What the system knows of the serial devices plugged in: the stable names
// udev gives USB serial adapters under /dev/serial, the USB facts sysfs has of
// them, and who holds a device open. Linux only. The roots are parameters so
// that tests can hand over a fake tree made in a temporary folder.

#include <string>
#include <vector>

namespace wire {

// One tty device of a USB serial adapter, as it is plugged in now.
struct UsbSerialDevice {
    std::string device;  // what it resolves to now, e.g. /dev/ttyUSB0
    std::string byId;    // <serial root>/by-id/... leading to it, or empty
    std::string byPath;  // <serial root>/by-path/... leading to it, or empty
    // The USB device the tty belongs to (its sysfs folder): the interfaces of
    // one dual-port chip share it, two chips never do.
    std::string usbDevice;
    std::string vendorId, productId;  // four hex digits each
    std::string serial;               // the USB serial number; empty when it has none
    std::string description;          // the USB product text
    std::string manufacturer;
};

// Who has a device open, as far as a lock file or /proc tells.
struct DeviceHolder {
    long pid = 0;  // 0: nobody known
    std::string name;
    bool self = false;  // this very process
};

// Whether this process may open a device for reading and writing, and if
// not, what the group that owns it is and whether the user is listed in it.
struct DeviceAccess {
    bool exists = false;
    bool mayOpen = false;
    std::string group;         // the owning group's name (or number)
    bool userInGroup = false;  // listed in that group, though this login may not have it yet
};

class DeviceFacts {
  public:
    virtual ~DeviceFacts() = default;
    // Every USB serial tty that has a stable name under the serial root, with
    // its USB facts. A device the system does not know as USB (a
    // pseudo-terminal linked there by someone) is left out.
    virtual std::vector<UsbSerialDevice> UsbSerialDevices() const = 0;
    // The folder holding by-id/ and by-path/ (/dev/serial).
    virtual std::string SerialRoot() const = 0;
    // Changes whenever an adapter is plugged or pulled, so that callers can
    // skip work when nothing changed.
    virtual std::string ChangeStamp() const = 0;
    virtual DeviceAccess AccessOf(const std::string& device) const = 0;
    virtual DeviceHolder HolderOf(const std::string& device) const = 0;
};

// The real system, with configurable roots.
class SystemDeviceFacts : public DeviceFacts {
  public:
    struct Roots {
        std::string dev = "/dev";
        std::string sys = "/sys";
        std::string proc = "/proc";
        // Where serial programs leave their LCK..<device> files (the serial
        // library falls back on /tmp where /var/lock is not writable).
        std::vector<std::string> lockFolders = {"/var/lock", "/run/lock", "/tmp"};
    };
    SystemDeviceFacts() = default;
    explicit SystemDeviceFacts(Roots roots) : roots_(std::move(roots)) {}

    std::vector<UsbSerialDevice> UsbSerialDevices() const override;
    std::string SerialRoot() const override { return roots_.dev + "/serial"; }
    std::string ChangeStamp() const override;
    DeviceAccess AccessOf(const std::string& device) const override;
    DeviceHolder HolderOf(const std::string& device) const override;

  private:
    void AddUsbFacts(UsbSerialDevice& d) const;
    Roots roots_;
};

// The device a path leads to after every link (empty when it leads nowhere).
std::string ResolvedDevice(const std::string& path);

}  // namespace wire
