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

std::string EntryPath(const std::string& folder, int n) {
    return folder + "/COM" + std::to_string(n);
}

std::string Name(int n) {
    return "COM" + std::to_string(n);
}

std::string Reason(int err) {
    return std::strerror(err);
}

bool Under(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string Shown(const PortEntry& e) {
    return e.path + " -> " + (e.target.empty() ? std::string("(not a link)") : e.target);
}

// Makes <folder>/COMn -> target. 0, or the errno value; EEXIST only when
// the name is taken.
int MakeLink(const std::string& folder, int n, const std::string& target) {
    if (const int err = store::fsys::MakeFolders(folder)) return err == EEXIST ? ENOTDIR : err;
    return ::symlink(target.c_str(), EntryPath(folder, n).c_str()) == 0 ? 0 : errno;
}

std::string ModifiedStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return "-";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "usb-0:1.2:1.0" before "usb-0:1.10:1.0": runs of digits compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!IsDigit(a[i]) || !IsDigit(b[j])) {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
            continue;
        }
        std::size_t endA = i, endB = j;
        while (endA < a.size() && IsDigit(a[endA])) ++endA;
        while (endB < b.size() && IsDigit(b[endB])) ++endB;
        while (i + 1 < endA && a[i] == '0') ++i;
        while (j + 1 < endB && b[j] == '0') ++j;
        if (endA - i != endB - j) return endA - i < endB - j;
        if (const int c = a.compare(i, endA - i, b, j, endB - j); c != 0) return c < 0;
        i = endA;
        j = endB;
    }
    return a.size() - i < b.size() - j;
}

const std::string& FolderOf(const store::PortFolders& folders, PortFolder where) {
    return where == PortFolder::EveryUser ? folders.system : folders.user;
}

constexpr const char* kNoFolderForEveryUser = "this build keeps no COM names for every user";

bool LeadsTo(const PortEntry& e, const std::string& device, const std::string& target) {
    return (!device.empty() && e.device == device) || (!target.empty() && e.target == target);
}

}  // namespace

std::vector<PortEntry> ReadPortFolder(const std::string& folder, bool forEveryUser) {
    std::vector<PortEntry> entries;
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (!dir) return entries;
    while (const dirent* e = ::readdir(dir)) {
        const int n = PortNumberFromName(e->d_name);
        if (n == 0) continue;
        PortEntry entry;
        entry.number = n;
        entry.path = EntryPath(folder, n);
        entry.target = store::fsys::LinkTarget(entry.path).value_or("");
        entry.device = ResolvedDevice(entry.path);
        entry.forEveryUser = forEveryUser;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return entries;
}

std::vector<PortEntry> ReadPortMap(const store::PortFolders& folders) {
    std::vector<PortEntry> map = ReadPortFolder(folders.system, true);
    const std::size_t forEveryUser = map.size();
    for (PortEntry& e : ReadPortFolder(folders.user)) {
        const auto end = map.begin() + static_cast<std::ptrdiff_t>(forEveryUser);
        const bool overruled = std::any_of(map.begin(), end, [&](const PortEntry& s) {
            return s.number == e.number || LeadsTo(s, e.device, e.target);
        });
        if (!overruled) map.push_back(std::move(e));
    }
    std::sort(map.begin(), map.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return map;
}

std::string PortPath(const store::PortFolders& folders, int n) {
    // A link whose device has gone still names the port: opening it fails
    // rather than falling back on some other device.
    for (const PortEntry& e : ReadPortMap(folders)) {
        if (e.number == n) return e.path;
    }
    return FixedDevicePath(n);
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

void SortByUsbPort(std::vector<UsbSerialDevice>& devices) {
    // One without a by-path name (rare) comes after those with one.
    std::stable_sort(devices.begin(), devices.end(),
                     [](const UsbSerialDevice& a, const UsbSerialDevice& b) {
                         if (a.byPath.empty() != b.byPath.empty()) return b.byPath.empty();
                         if (a.byPath != b.byPath) return NaturalLess(a.byPath, b.byPath);
                         if (a.byId != b.byId) return NaturalLess(a.byId, b.byId);
                         return NaturalLess(a.device, b.device);
                     });
}

AssignOutcome AssignNewAdapters(const store::PortFolders& folders, const DeviceFacts& facts) {
    AssignOutcome out;
    if (folders.user.empty()) return out;
    std::vector<UsbSerialDevice> present = facts.UsbSerialDevices();
    if (present.empty()) return out;
    SortByUsbPort(present);
    std::vector<PortEntry> inForce = ReadPortMap(folders);
    std::vector<bool> taken(256, false);
    for (const PortEntry& e : inForce) taken[static_cast<std::size_t>(e.number)] = true;
    // A name of the user's that the folder for every user overrules is not free either.
    for (const PortEntry& e : ReadPortFolder(folders.user)) {
        taken[static_cast<std::size_t>(e.number)] = true;
    }
    int next = kFirstAssignedPort;
    for (const UsbSerialDevice& d : present) {
        const std::string stable = StablePath(d, present);
        const bool named = std::any_of(inForce.begin(), inForce.end(), [&](const PortEntry& e) {
            return LeadsTo(e, d.device, stable);
        });
        if (named || stable.empty()) continue;
        while (true) {
            while (next <= 255 && taken[static_cast<std::size_t>(next)]) ++next;
            if (next > 255) return out;
            const int err = MakeLink(folders.user, next, stable);
            taken[static_cast<std::size_t>(next)] = true;
            if (err == 0) {
                out.made.push_back({next, stable});
                inForce.push_back({next, EntryPath(folders.user, next), stable, d.device, false});
                break;
            }
            // Another program assigning at the same moment may have taken
            // the name, perhaps for this very adapter.
            if (err == EEXIST) {
                if (store::fsys::LinkTarget(EntryPath(folders.user, next)).value_or("") == stable) {
                    break;
                }
                continue;
            }
            out.error = folders.user + ": " + Reason(err);
            return out;
        }
    }
    return out;
}

std::vector<Assignment> TakeOverEarlierLinks(const store::PortFolders& folders) {
    std::vector<Assignment> taken;
    if (folders.user.empty() || store::fsys::EntryExists(folders.user)) return taken;
    std::vector<PortEntry> kept;
    for (const std::string& old : folders.earlier) {
        if (old == folders.user) continue;
        for (PortEntry& e : ReadPortFolder(old)) {
            // What is not a link cannot be copied faithfully; a link to a
            // pseudo-terminal is a simulator's, and its number is handed
            // out again to any other program later.
            if (e.target.empty() || e.target.rfind("/dev/pts/", 0) == 0) continue;
            const std::string target = e.target[0] == '/' ? e.target : old + "/" + e.target;
            const bool clash = std::any_of(kept.begin(), kept.end(), [&](const PortEntry& k) {
                return k.number == e.number || LeadsTo(k, e.device, target);
            });
            if (clash) continue;
            if (MakeLink(folders.user, e.number, target) != 0) return taken;
            e.target = target;
            taken.push_back({e.number, target});
            kept.push_back(std::move(e));
        }
    }
    return taken;
}

std::string AssignPort(const store::PortFolders& folders, PortFolder where, int n,
                       const std::string& device, const DeviceFacts& facts,
                       std::vector<int>* moved) {
    const std::string& folder = FolderOf(folders, where);
    if (folder.empty()) return kNoFolderForEveryUser;
    const bool everyUser = where == PortFolder::EveryUser;
    const std::string name = Name(n);
    const std::string resolved = ResolvedDevice(device);
    if (resolved.empty()) return device + ": no such device";
    // A name leads to a serial line: a typo must not make COM8 a file.
    struct stat st {};
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return device +
               " is no serial device: give a character device (/dev/ttyUSB0) or a "
               "path under " +
               facts.SerialRoot();
    }
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
    if (!everyUser) {
        // The user's own link would be overruled: say so rather than make it.
        for (const PortEntry& e : ReadPortFolder(folders.system, true)) {
            if (e.number == n) {
                return name + " is taken for every user: " + Shown(e) +
                       "; modsetup ports --forget --system " + name + " frees it";
            }
            if (LeadsTo(e, resolved, stable)) {
                return device + " is COM" + std::to_string(e.number) + " for every user (" +
                       Shown(e) + "); modsetup ports --assign --system " + name + " " + device +
                       " renames it";
            }
        }
    }
    const std::vector<PortEntry> entries = ReadPortFolder(folder, everyUser);
    for (const PortEntry& e : entries) {
        if (e.number != n) continue;
        if (e.target == stable) return {};
        return name + " is taken: " + Shown(e) + "; modsetup ports --forget " +
               (everyUser ? "--system " : "") + name + " frees it";
    }
    if (const int err = MakeLink(folder, n, stable)) return folder + ": " + Reason(err);
    // The adapter's other names through /dev/serial go; links made by hand
    // to a tty are left alone.
    for (const PortEntry& e : entries) {
        if (!Under(e.target, facts.SerialRoot())) continue;
        if (e.target != stable && e.device != resolved) continue;
        if (::unlink(e.path.c_str()) == 0 && moved) moved->push_back(e.number);
    }
    return {};
}

std::string ForgetPort(const store::PortFolders& folders, PortFolder where, int n) {
    const std::string& folder = FolderOf(folders, where);
    if (folder.empty()) return kNoFolderForEveryUser;
    const std::string path = EntryPath(folder, n);
    const std::string name = Name(n);
    if (!store::fsys::EntryExists(path)) {
        if (where == PortFolder::User && !folders.system.empty() &&
            store::fsys::EntryExists(EntryPath(folders.system, n))) {
            return name + " is set for every user (" + EntryPath(folders.system, n) +
                   "); modsetup ports --forget --system " + name + " frees it";
        }
        return name + " is not assigned (" + path + " is missing)";
    }
    if (!store::fsys::LinkTarget(path)) return path + " is not a link; remove it by hand";
    if (::unlink(path.c_str()) != 0) return path + ": " + Reason(errno);
    return {};
}

std::string PortNames::Stamp() const {
    return facts_.ChangeStamp() + "/" + ModifiedStamp(folders_.system) + "/" +
           ModifiedStamp(folders_.user);
}

void PortNames::Update() const {
    const std::string before = Stamp();
    if (before == stamp_) return;
    // Before anything is named: a name given now would make the user's
    // folder, and the earlier links would not be taken over.
    TakeOverEarlierLinks(folders_);
    AssignNewAdapters(folders_, facts_);
    map_ = ReadPortMap(folders_);
    adapters_ = facts_.UsbSerialDevices();
    stamp_ = Stamp();
}

std::string PortNames::PathOf(int n) const {
    const PortEntry* e = EntryOf(n);
    return e ? e->path : FixedDevicePath(n);
}

const PortEntry* PortNames::EntryOf(int n) const {
    Loaded();
    for (const PortEntry& e : map_) {
        if (e.number == n) return &e;
    }
    return nullptr;
}

int PortNames::NumberOfDevice(const std::string& device) const {
    Loaded();
    for (const PortEntry& e : map_) {
        if (!e.device.empty() && e.device == device) return e.number;
    }
    return 0;
}

std::vector<int> PortNames::Known() const {
    Loaded();
    std::vector<int> known;
    for (const PortEntry& e : map_) known.push_back(e.number);
    // An adapter without a name of its own goes by its fixed one.
    for (int n = 1; n <= 255 && !adapters_.empty(); ++n) {
        if (EntryOf(n)) continue;
        const std::string fixed = FixedDevicePath(n);
        for (const UsbSerialDevice& d : adapters_) {
            if (d.device == fixed) known.push_back(n);
        }
    }
    return known;
}

PortPlace PortNames::PlaceOf(int n) const {
    PortPlace place;
    const PortEntry* e = EntryOf(n);
    place.path = e ? e->path : FixedDevicePath(n);
    if (e) {
        place.inMap = true;
        place.link = e->target;
        place.forEveryUser = e->forEveryUser;
    }
    // Looked up now: a pseudo-terminal comes and goes without a trace in the
    // device trees.
    place.device = ResolvedDevice(place.path);
    for (const UsbSerialDevice& d : adapters_) {
        if (place.device.empty() || d.device != place.device) continue;
        place.usbAdapter = true;
        place.description = d.description;
        place.manufacturer = d.manufacturer;
        place.serial = d.serial;
    }
    return place;
}

}  // namespace wire
