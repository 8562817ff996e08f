#include "port_assignment.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_system.h"
#include "serial_port.h"

namespace wire {

namespace {

std::string PortsFolder(const std::string& configFolder) {
    return configFolder + "/ports";
}

std::string EntryPath(const std::string& configFolder, int n) {
    return PortsFolder(configFolder) + "/COM" + std::to_string(n);
}

std::string Reason(int err) {
    return std::strerror(err);
}

bool Under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

// Makes ports/COMn -> target. 0, or the errno value; EEXIST only when the
// name is taken.
int MakeLink(const std::string& configFolder, int n, const std::string& target) {
    if (const int err = store::fsys::MakeFolders(PortsFolder(configFolder))) {
        return err == EEXIST ? ENOTDIR : err;
    }
    return ::symlink(target.c_str(), EntryPath(configFolder, n).c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::vector<PortEntry> ReadPortEntries(const std::string& configFolder) {
    std::vector<PortEntry> entries;
    DIR* dir = ::opendir(PortsFolder(configFolder).c_str());
    if (!dir) return entries;
    while (const dirent* e = ::readdir(dir)) {
        const int n = PortNumberFromName(e->d_name);
        if (n == 0) continue;
        PortEntry entry;
        entry.number = n;
        entry.path = EntryPath(configFolder, n);
        entry.target = store::fsys::LinkTarget(entry.path).value_or("");
        entry.device = ResolvedDevice(entry.path);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return entries;
}

std::string StablePath(const UsbSerialDevice& d, const std::vector<UsbSerialDevice>& present) {
    if (d.byPath.empty()) return d.byId;
    if (d.byId.empty() || d.serial.empty()) return d.byPath;
    // Two chips made with one serial number get one by-id name between them;
    // only the USB port tells them apart.
    for (const UsbSerialDevice& other : present) {
        if (other.usbDevice != d.usbDevice && other.serial == d.serial &&
            other.vendorId == d.vendorId && other.productId == d.productId) {
            return d.byPath;
        }
    }
    return d.byId;
}

AssignOutcome AssignNewAdapters(const std::string& configFolder, const DeviceFacts& facts) {
    AssignOutcome out;
    const std::vector<UsbSerialDevice> present = facts.UsbSerialDevices();
    if (present.empty()) return out;
    std::vector<PortEntry> entries = ReadPortEntries(configFolder);
    std::vector<bool> taken(256, false);
    for (const PortEntry& e : entries) taken[static_cast<std::size_t>(e.number)] = true;
    int next = kFirstAssignedPort;
    for (const UsbSerialDevice& d : present) {
        const std::string stable = StablePath(d, present);
        const bool named = std::any_of(entries.begin(), entries.end(), [&](const PortEntry& e) {
            return e.device == d.device || (!e.target.empty() && e.target == stable);
        });
        if (named || stable.empty()) continue;
        while (true) {
            while (next <= 255 && taken[static_cast<std::size_t>(next)]) ++next;
            if (next > 255) return out;
            const int err = MakeLink(configFolder, next, stable);
            taken[static_cast<std::size_t>(next)] = true;
            if (err == 0) {
                out.made.push_back({next, stable});
                entries.push_back({next, EntryPath(configFolder, next), stable, d.device});
                break;
            }
            // Another program assigning at the same moment may have taken
            // the name, perhaps for this very adapter.
            if (err == EEXIST) {
                if (store::fsys::LinkTarget(EntryPath(configFolder, next)).value_or("") == stable) {
                    break;
                }
                continue;
            }
            out.error = PortsFolder(configFolder) + ": " + Reason(err);
            return out;
        }
    }
    return out;
}

std::string AssignPort(const std::string& configFolder, int n, const std::string& device,
                       const DeviceFacts& facts, std::vector<int>* moved) {
    const std::string name = "COM" + std::to_string(n);
    const std::string resolved = ResolvedDevice(device);
    if (resolved.empty()) return device + ": no such device";
    std::string stable = device;
    if (!Under(device, facts.SerialRoot())) {
        const std::vector<UsbSerialDevice> present = facts.UsbSerialDevices();
        for (const UsbSerialDevice& d : present) {
            if (d.device == resolved) stable = StablePath(d, present);
        }
        // Anything else (a built-in port, a pseudo-terminal) is linked as
        // given, as one would by hand.
        if (stable == device && device.rfind('/', 0) != 0) stable = resolved;
    }
    const std::vector<PortEntry> entries = ReadPortEntries(configFolder);
    for (const PortEntry& e : entries) {
        if (e.number != n) continue;
        if (e.target == stable) return {};
        return name + " is taken: " + e.path + " -> " +
               (e.target.empty() ? std::string("(not a link)") : e.target) +
               "; modsetup ports --forget " + name + " frees it";
    }
    if (const int err = MakeLink(configFolder, n, stable)) {
        return PortsFolder(configFolder) + ": " + Reason(err);
    }
    // The adapter's other names through /dev/serial go; links made by hand
    // to a tty are left alone.
    for (const PortEntry& e : entries) {
        if (!Under(e.target, facts.SerialRoot())) continue;
        if (e.target != stable && e.device != resolved) continue;
        if (::unlink(e.path.c_str()) == 0 && moved) moved->push_back(e.number);
    }
    return {};
}

std::string ForgetPort(const std::string& configFolder, int n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string path = EntryPath(configFolder, n);
    if (!store::fsys::EntryExists(path)) return name + " is not assigned (" + path + " is missing)";
    if (!store::fsys::LinkTarget(path)) return path + " is not a link; remove it by hand";
    if (::unlink(path.c_str()) != 0) return path + ": " + Reason(errno);
    return {};
}

std::string PortAssigner::Stamp() const {
    struct stat st {};
    std::string ports = "-";
    if (::stat(PortsFolder(configFolder_).c_str(), &st) == 0) {
        ports = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    return facts_.ChangeStamp() + "/" + ports;
}

void PortAssigner::Refresh() {
    const std::string before = Stamp();
    if (before == stamp_) return;
    AssignNewAdapters(configFolder_, facts_);
    numbers_.clear();
    for (const PortEntry& e : ReadPortEntries(configFolder_)) {
        if (!e.device.empty()) numbers_.emplace(e.device, e.number);
    }
    stamp_ = Stamp();
}

int PortAssigner::NumberOfDevice(const std::string& device) const {
    const auto it = numbers_.find(device);
    return it == numbers_.end() ? 0 : it->second;
}

}  // namespace wire
