#include "device_facts.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>

namespace wire {

namespace {

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    // udev may give one tty two names in a tree (by-path has a usb- and a
    // usbv2- form); the first in order is taken, the same one every time.
    std::sort(names.begin(), names.end());
    return names;
}

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string Stamp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "-";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string ProcessName(const std::string& procRoot, long pid) {
    return FirstLine(procRoot + "/" + std::to_string(pid) + "/comm");
}

bool Alive(long pid) {
    return pid > 0 && pid <= INT_MAX && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

long LeadingPid(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return 0;
    long pid = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && pid < INT_MAX; ++i) {
        pid = pid * 10 + (text[i] - '0');
    }
    return pid;
}

}  // namespace

std::string ResolvedDevice(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return {};
    return resolved;
}

void SystemDeviceFacts::AddUsbFacts(UsbSerialDevice& d) const {
    // The tty's interface sits a level or two below the USB device itself.
    std::string dir = ResolvedDevice(roots_.sys + "/class/tty/" + BaseName(d.device) + "/device");
    const std::string sysRoot = ResolvedDevice(roots_.sys);
    for (int up = 0; !dir.empty() && dir != "/" && dir != sysRoot && up < 4; ++up) {
        if (::access((dir + "/idVendor").c_str(), F_OK) == 0) {
            d.usbDevice = dir;
            d.vendorId = FirstLine(dir + "/idVendor");
            d.productId = FirstLine(dir + "/idProduct");
            d.serial = FirstLine(dir + "/serial");
            d.description = FirstLine(dir + "/product");
            d.manufacturer = FirstLine(dir + "/manufacturer");
            return;
        }
        dir = Parent(dir);
    }
}

std::vector<UsbSerialDevice> SystemDeviceFacts::UsbSerialDevices() const {
    std::map<std::string, UsbSerialDevice> byDevice;
    for (const char* tree : {"by-path", "by-id"}) {
        const std::string folder = SerialRoot() + "/" + tree;
        for (const std::string& name : Entries(folder)) {
            const std::string link = folder + "/" + name;
            const std::string device = ResolvedDevice(link);
            if (device.empty()) continue;
            UsbSerialDevice& d = byDevice[device];
            d.device = device;
            std::string& stable = tree[3] == 'p' ? d.byPath : d.byId;
            if (stable.empty()) stable = link;
        }
    }
    std::vector<UsbSerialDevice> devices;
    for (auto& [device, d] : byDevice) {
        AddUsbFacts(d);
        if (!d.usbDevice.empty()) devices.push_back(std::move(d));
    }
    return devices;
}

std::string SystemDeviceFacts::ChangeStamp() const {
    const std::string root = SerialRoot();
    return Stamp(root) + "/" + Stamp(root + "/by-id") + "/" + Stamp(root + "/by-path");
}

DeviceAccess SystemDeviceFacts::AccessOf(const std::string& device) const {
    DeviceAccess a;
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return a;
    a.exists = true;
    a.mayOpen = ::access(device.c_str(), R_OK | W_OK) == 0;
    const group* g = ::getgrgid(st.st_gid);
    a.group = g ? g->gr_name : std::to_string(st.st_gid);
    const passwd* user = ::getpwuid(::getuid());
    if (user && user->pw_gid == st.st_gid) a.userInGroup = true;
    if (user && g) {
        for (char** member = g->gr_mem; member && *member; ++member) {
            if (std::string(*member) == user->pw_name) a.userInGroup = true;
        }
    }
    return a;
}

DeviceHolder SystemDeviceFacts::HolderOf(const std::string& device) const {
    DeviceHolder h;
    // A lock file names its holder: "LCK..ttyUSB0" with the process number
    // first, as text (the old UUCP form pads it with spaces).
    // The name is the device's path below /dev with '/' made '_'
    // (LCK..pts_3); a device elsewhere goes by its last part.
    std::string lockName = device.rfind("/dev/", 0) == 0 ? device.substr(5) : BaseName(device);
    std::replace(lockName.begin(), lockName.end(), '/', '_');
    for (const std::string& folder : roots_.lockFolders) {
        const long pid = LeadingPid(FirstLine(folder + "/LCK.." + lockName));
        if (Alive(pid)) {
            h.pid = pid;
            h.name = ProcessName(roots_.proc, pid);
            h.self = pid == ::getpid();
            return h;
        }
    }
    // Otherwise a process that has the device among its open files; only
    // our own user's processes can be seen, which is who usually has it.
    for (const std::string& entry : Entries(roots_.proc)) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fds = roots_.proc + "/" + entry + "/fd";
        for (const std::string& fd : Entries(fds)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
            if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != device) continue;
            h.pid = std::strtol(entry.c_str(), nullptr, 10);
            h.name = ProcessName(roots_.proc, h.pid);
            h.self = h.pid == ::getpid();
            return h;
        }
    }
    return h;
}

}  // namespace wire
