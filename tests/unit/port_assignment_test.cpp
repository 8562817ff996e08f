// COM names that stay with their USB adapter, over a fake /dev/serial and
// sysfs tree in a scratch folder; real pseudo-terminals stand in for the
// adapters' ttys. Also the texts that say why a port did not open.
#include "port_assignment.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device_facts.h"
#include "port_failure.h"
#include "port_survey.h"
#include "ports_command.h"
#include "scratch_folder.h"
#include "serial_port.h"

namespace fs = std::filesystem;

namespace {

// A fake device tree: each adapter plugged in is a pseudo-terminal with a
// by-path name for the USB port it sits in, a by-id name made of its USB
// facts (udev gives two adapters with the same facts one by-id name: the
// last one plugged gets it), and a sysfs USB device holding those facts.
class FakeTree {
  public:
    struct Adapter {
        std::string vendor, product, serial, model;
    };

    FakeTree() : facts_(Roots()) {}
    ~FakeTree() {
        for (auto& [port, p] : plugged_) ::close(p.master);
    }

    const std::string& Root() const { return root_; }
    // The COM name folders: for every user, the user's own, two earlier
    // programs' own.
    store::PortFolders Folders() const {
        return {root_ + "/system", User(), {root_ + "/old-a", root_ + "/old-b"}};
    }
    std::string User() const { return root_ + "/user"; }
    const wire::DeviceFacts& Facts() const { return facts_; }

    std::string ById(const Adapter& a) const {
        return root_ + "/dev/serial/by-id/usb-" + a.model +
               (a.serial.empty() ? "" : "_" + a.serial) + "-if00-port0";
    }
    std::string ByPath(const std::string& usbPort) const {
        return root_ + "/dev/serial/by-path/pci-0000:00:14.0-usb-0:" + usbPort + ":1.0-port0";
    }
    // The tty the adapter in that USB port has now.
    std::string Tty(const std::string& usbPort) const { return plugged_.at(usbPort).tty; }

    void Plug(const std::string& usbPort, const Adapter& a) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        const std::string tty = ::ptsname(master);
        plugged_[usbPort] = {master, tty, a};
        const fs::path usb = fs::path(root_) / "sys/devices/usb1" / ("1-" + usbPort);
        fs::create_directories(usb / ("1-" + usbPort + ":1.0"));
        for (const auto& [file, text] :
             std::map<std::string, std::string>{{"idVendor", a.vendor},
                                                {"idProduct", a.product},
                                                {"product", a.model},
                                                {"manufacturer", "maker " + a.vendor}}) {
            std::ofstream(usb / file) << text << "\n";
        }
        if (!a.serial.empty()) std::ofstream(usb / "serial") << a.serial << "\n";
        const fs::path cls = fs::path(root_) / "sys/class/tty" / fs::path(tty).filename();
        fs::create_directories(cls);
        fs::create_symlink(usb / ("1-" + usbPort + ":1.0"), cls / "device");
        Link(ByPath(usbPort), tty);
        Link(ById(a), tty);
    }

    void Unplug(const std::string& usbPort) {
        const auto p = plugged_.at(usbPort);
        fs::remove(ByPath(usbPort));
        if (wire::ResolvedDevice(ById(p.adapter)) == p.tty) fs::remove(ById(p.adapter));
        fs::remove_all(fs::path(root_) / "sys/class/tty" / fs::path(p.tty).filename());
        fs::remove_all(fs::path(root_) / "sys/devices/usb1" / ("1-" + usbPort));
        ::close(p.master);
        plugged_.erase(usbPort);
    }

    // A pseudo-terminal someone linked into /dev/serial: no USB facts.
    void LinkBareTerminal(const std::string& name) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        plugged_["bare"] = {master, ::ptsname(master), {}};
        Link(root_ + "/dev/serial/by-id/" + name, ::ptsname(master));
    }

  private:
    struct Plugged {
        int master;
        std::string tty;
        Adapter adapter;
    };
    static void Link(const std::string& link, const std::string& target) {
        fs::create_directories(fs::path(link).parent_path());
        fs::remove(link);
        fs::create_symlink(target, link);
    }
    wire::SystemDeviceFacts::Roots Roots() const {
        wire::SystemDeviceFacts::Roots r;
        r.dev = root_ + "/dev";
        r.sys = root_ + "/sys";
        return r;
    }

    ScratchFolder folder_{"port_assignment_test"};
    std::string root_ = folder_.Path();
    wire::SystemDeviceFacts facts_;
    std::map<std::string, Plugged> plugged_;
};

const FakeTree::Adapter kFtdi{"0403", "6001", "A10K1234", "FTDI_FT232R_USB_UART"};
const FakeTree::Adapter kCp2102{"10c4", "ea60", "0001", "Silicon_Labs_CP2102"};
const FakeTree::Adapter kCh340{"1a86", "7523", "", "1a86_USB_Serial"};
const FakeTree::Adapter kDualChip{"0403", "6010", "FT0001", "FTDI_Dual_RS232"};

std::map<int, std::string> Links(const std::string& folder) {
    std::map<int, std::string> links;
    for (const wire::PortEntry& e : wire::ReadPortFolder(folder)) links[e.number] = e.target;
    return links;
}

void MakeLink(const std::string& folder, const std::string& name, const std::string& target) {
    fs::create_directories(folder);
    fs::create_symlink(target, folder + "/" + name);
}

TEST(ComNameAssignment, StaysWithTheAdapter) {
    struct Case {
        const char* name;
        std::function<void(FakeTree&)> run;
        // COMn -> what the user's COMn must link to, and (where plugged)
        // the USB port of the adapter the name must reach now.
        std::function<std::map<int, std::string>(const FakeTree&)> links;
        std::map<int, std::string> reaches;
    };
    const auto assign = [](FakeTree& t) {
        EXPECT_EQ(wire::AssignNewAdapters(t.Folders(), t.Facts()).error, "");
    };
    const Case cases[] = {
        {"first sight: the lowest free name from COM3 up, by id",
         [&](FakeTree& t) {
             t.Plug("1", kFtdi);
             assign(t);
             assign(t);  // seen again: nothing new
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{3, t.ById(kFtdi)}};
         },
         {{3, "1"}}},
        {"replug into another USB port: the name comes back",
         [&](FakeTree& t) {
             t.Plug("1", kFtdi);
             t.Plug("2", kCp2102);
             assign(t);
             t.Unplug("1");
             t.Unplug("2");
             t.Plug("4", kCp2102);
             t.Plug("3", kFtdi);
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{3, t.ById(kFtdi)}, {4, t.ById(kCp2102)}};
         },
         {{3, "3"}, {4, "4"}}},
        {"two adapters without serial: told apart by their USB port, also after a replug",
         [&](FakeTree& t) {
             t.Plug("1", kCh340);
             t.Plug("2", kCh340);
             assign(t);
             t.Unplug("1");
             t.Unplug("2");
             t.Plug("2", kCh340);
             t.Plug("1", kCh340);
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{3, t.ByPath("1")}, {4, t.ByPath("2")}};
         },
         {{3, "1"}, {4, "2"}}},
        {"two dual-port chips sharing one serial number: by USB port",
         [&](FakeTree& t) {
             t.Plug("1", kDualChip);
             t.Plug("2", kDualChip);
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{3, t.ByPath("1")}, {4, t.ByPath("2")}};
         },
         {{3, "1"}, {4, "2"}}},
        {"a hand-made link keeps its name and its text; no second name for its adapter",
         [&](FakeTree& t) {
             t.Plug("1", kFtdi);
             t.Plug("2", kCp2102);
             MakeLink(t.User(), "COM3", t.Tty("1"));
             MakeLink(t.User(), "COM4", "/dev/gone-for-now");
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{
                 {3, t.Tty("1")}, {4, "/dev/gone-for-now"}, {5, t.ById(kCp2102)}};
         },
         {{3, "1"}, {5, "2"}}},
        {"adapters seen together: in the order of their USB ports, 1.2 before 1.10",
         [&](FakeTree& t) {
             t.Plug("1.10", kFtdi);
             t.Plug("1.2", kCp2102);
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{3, t.ById(kCp2102)}, {4, t.ById(kFtdi)}};
         },
         {{3, "1.2"}, {4, "1.10"}}},
        {"the folder for every user wins: its names are taken, its adapters named",
         [&](FakeTree& t) {
             t.Plug("1", kFtdi);
             t.Plug("2", kCp2102);
             MakeLink(t.Folders().system, "COM3", t.ById(kFtdi));
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{4, t.ById(kCp2102)}};
         },
         {{3, "1"}, {4, "2"}}},
        {"earlier programs' links are taken over once; the first program's wins a clash",
         [&](FakeTree& t) {
             MakeLink(t.Root() + "/old-a", "COM5", t.ById(kFtdi));
             MakeLink(t.Root() + "/old-a", "COM3", "/dev/pts/77");  // a simulator's
             MakeLink(t.Root() + "/old-b", "COM5", t.ById(kCp2102));
             MakeLink(t.Root() + "/old-b", "COM6", t.ById(kFtdi));
             MakeLink(t.Root() + "/old-b", "COM7", t.ByPath("9"));
             EXPECT_EQ(wire::TakeOverEarlierLinks(t.Folders()).size(), 2u);
             MakeLink(t.Root() + "/old-b", "COM8", t.ById(kCh340));
             EXPECT_TRUE(wire::TakeOverEarlierLinks(t.Folders()).empty());
             t.Plug("1", kFtdi);
             assign(t);
         },
         [](const FakeTree& t) {
             return std::map<int, std::string>{{5, t.ById(kFtdi)}, {7, t.ByPath("9")}};
         },
         {{5, "1"}}},
        {"a pseudo-terminal in the tree is not a USB adapter: no name",
         [&](FakeTree& t) {
             t.LinkBareTerminal("usb-not-really-if00");
             assign(t);
         },
         [](const FakeTree&) { return std::map<int, std::string>{}; },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTree t;
        c.run(t);
        EXPECT_EQ(Links(t.User()), c.links(t));
        for (const auto& [n, usbPort] : c.reaches) {
            EXPECT_EQ(wire::ResolvedDevice(wire::PortPath(t.Folders(), n)), t.Tty(usbPort))
                << "COM" << n;
        }
    }
}

TEST(ComNameAssignment, AFolderThatCannotBeWrittenKeepsTheFixedNames) {
    FakeTree t;
    t.Plug("1", kFtdi);
    // A file where the folder would be: also as root nothing can be made.
    std::ofstream(t.Root() + "/file") << "x";
    const store::PortFolders folders{"", t.Root() + "/file/ports", {}};
    const wire::AssignOutcome out = wire::AssignNewAdapters(folders, t.Facts());
    EXPECT_TRUE(out.made.empty());
    EXPECT_NE(out.error, "");
    EXPECT_EQ(wire::PortPath(folders, 3), "/dev/ttyS2");
    EXPECT_EQ(wire::PortPath(folders, 5), "/dev/ttyUSB0");
}

// The programs' own open, played on the fake tree: a name with an entry
// opens when its device is there; fixed names are left alone.
class TreeProbe : public wire::SerialPort {
  public:
    explicit TreeProbe(wire::PortNames& names) : names_(names) {}
    void SetPortNumber(int n) override { n_ = n; }
    bool SetDtr(bool) override { return true; }
    bool SetRts(bool) override { return true; }
    bool Open() override {
        if (n_ == 1) names_.Refresh();  // each pass starts with a fresh look
        const wire::PortPlace place = names_.PlaceOf(n_);
        open_ = place.inMap && !place.device.empty();
        why_ = open_ ? "" : place.path + ": no such device";
        return open_;
    }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    bool Write(const std::string&) override { return false; }
    std::string ReadAll() override { return {}; }
    wire::LineSettings Settings() const override { return {}; }
    std::string LastError() const override { return why_; }

  private:
    wire::PortNames& names_;
    int n_ = 1;
    bool open_ = false;
    std::string why_;
};

TEST(PortsCommand, ShowsAndChangesTheAssignment) {
    FakeTree t;
    t.Plug("1", kFtdi);
    t.LinkBareTerminal("not-usb");  // what modsim links by hand
    MakeLink(t.User(), "COM1", wire::ResolvedDevice(t.Root() + "/dev/serial/by-id/not-usb"));
    MakeLink(t.User(), "COM9", "/dev/serial/by-id/usb-gone-if00-port0");
    std::ofstream(t.Root() + "/file") << "root:x:0:0";
    const store::PortFolders folders = t.Folders();
    const auto run = [&](modsetup::PortsRequest request, std::string* out, std::string* err) {
        wire::PortNames names(folders, t.Facts());
        TreeProbe probe(names);
        std::ostringstream o, e;
        const int status = modsetup::RunPortsCommand(
            request, folders, false, o, e, [&] { return wire::SurveyPorts(probe, names); },
            t.Facts());
        *out = o.str();
        *err = e.str();
        return status;
    };
    const std::string ports = folders.user + "/";
    const std::string system = folders.system + "/";
    const std::string ftdi = "\tFTDI_FT232R_USB_UART, maker 0403, A10K1234";
    struct Case {
        modsetup::PortsRequest request;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{},
         0,
         "COM1\t" + ports + "COM1 -> " + t.Tty("bare") + "\n" + "COM3\t" + ports + "COM3 -> " +
             t.ById(kFtdi) + " -> " + t.Tty("1") + ftdi + "\n" + "COM9\t" + ports +
             "COM9 -> /dev/serial/by-id/usb-gone-if00-port0 (not plugged in)\t" + ports +
             "COM9: no such device\n",
         ""},
        {{"", "COM7", t.Tty("1")}, 0, "COM7 -> " + t.ById(kFtdi) + " (was COM3)\n", ""},
        {{"", "COM1", t.Tty("1")},
         2,
         "",
         "modsetup: ports --assign: COM1 is taken: " + ports + "COM1 -> " + t.Tty("bare") +
             "; modsetup ports --forget COM1 frees it\n"},
        {{"", "COM8", "/dev/no-such-tty"},
         3,
         "",
         "modsetup: ports --assign: /dev/no-such-tty: no such device\n"},
        {{"", "COM8", t.Root() + "/file"},
         2,
         "",
         "modsetup: ports --assign: " + t.Root() +
             "/file is no serial device: give a character device (/dev/ttyUSB0) or a path "
             "under " +
             t.Root() + "/dev/serial\n"},
        {{"COM9", "", ""}, 0, "COM9 forgotten\n", ""},
        {{"COM9", "", ""},
         2,
         "",
         "modsetup: ports --forget: COM9 is not assigned (" + ports + "COM9 is missing)\n"},
        // The adapter is still there: it gets a name again.
        {{"COM7", "", ""},
         0,
         "COM7 forgotten\n",
         "modsetup: the adapter is plugged in (" + t.Tty("1") +
             ") and gets the lowest free COM name when the ports are next looked up; --assign "
             "COMn DEVICE gives it a name of your choice\n"},
        // For every user: it wins over the user's own name for the adapter.
        {{"", "COM8", t.Tty("1"), true}, 0, "COM8 -> " + t.ById(kFtdi) + "\n", ""},
        {{},
         0,
         "COM1\t" + ports + "COM1 -> " + t.Tty("bare") + "\n" + "COM8\t" + system + "COM8 -> " +
             t.ById(kFtdi) + " -> " + t.Tty("1") + ftdi + "\n",
         ""},
        {{"COM8", "", ""},
         2,
         "",
         "modsetup: ports --forget: COM8 is set for every user (" + system +
             "COM8); modsetup ports --forget --system COM8 frees it\n"},
    };
    for (const Case& c : cases) {
        std::string out, err;
        EXPECT_EQ(run(c.request, &out, &err), c.status) << err;
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err);
    }
}

TEST(PortFailure, SaysTheReasonAndTheFix) {
    const auto failure = [](wire::PortProblem problem, std::string group, bool inGroup, long pid,
                            std::string name, bool self) {
        wire::PortFailure f;
        f.problem = problem;
        f.device = "/dev/ttyUSB0";
        f.access.group = std::move(group);
        f.access.userInGroup = inGroup;
        f.holder.pid = pid;
        f.holder.name = std::move(name);
        f.holder.self = self;
        return f;
    };
    using P = wire::PortProblem;
    struct Case {
        wire::PortFailure failure;
        const char* text;
    };
    const Case cases[] = {
        {failure(P::NoDevice, "", false, 0, "", false),
         "/dev/ttyUSB0: no such device; plug the adapter in, or pick another COM name"},
        {failure(P::NoPermission, "dialout", false, 0, "", false),
         "/dev/ttyUSB0: permission denied; the user must belong to the group 'dialout' that owns "
         "it: sudo usermod -aG dialout $USER, then log in again"},
        {failure(P::NoPermission, "dialout", true, 0, "", false),
         "/dev/ttyUSB0: permission denied; you were added to the group 'dialout' that owns it, "
         "but this login does not have it yet: log out and in again"},
        {failure(P::InUse, "", false, 4711, "minicom", false),
         "/dev/ttyUSB0: in use by another program (minicom, process 4711); close the port there "
         "first"},
        {failure(P::InUse, "", false, 0, "", false),
         "/dev/ttyUSB0: in use by another program; close the port there first"},
        {failure(P::InUse, "", false, 42, "recvsetup", true),
         "/dev/ttyUSB0: already open in this program (recvsetup, process 42); close it there "
         "first"},
        {failure(P::Gone, "", false, 0, "", false),
         "/dev/ttyUSB0: the device is gone; plug the adapter in again"},
    };
    for (const Case& c : cases) EXPECT_EQ(wire::PortFailureText(c.failure), c.text);
}

TEST(PortFailure, IsFoundOnTheRealSystem) {
    ScratchFolder folder("port_failure_test");
    wire::SystemDeviceFacts::Roots roots;
    roots.lockFolders = {folder.Path()};
    const wire::SystemDeviceFacts facts(roots);

    EXPECT_EQ(wire::DiagnosePortFailure(folder.Path() + "/gone", facts, false, "").problem,
              wire::PortProblem::NoDevice);

    // A lock file names the program that has the device: here the one that
    // started this test.
    const std::string device = folder.Path() + "/ttyFAKE0";
    std::ofstream(device) << "";
    std::ofstream(folder.Path() + "/LCK..ttyFAKE0") << "  " << ::getppid() << "\n";
    const wire::PortFailure busy = wire::DiagnosePortFailure(device, facts, true, "");
    EXPECT_EQ(busy.problem, wire::PortProblem::InUse);
    EXPECT_EQ(busy.holder.pid, ::getppid());
    std::string parent;
    std::getline(std::ifstream("/proc/" + std::to_string(::getppid()) + "/comm"), parent);
    EXPECT_EQ(busy.holder.name, parent);

    // Without a lock file, an open descriptor tells.
    fs::remove(folder.Path() + "/LCK..ttyFAKE0");
    const int fd = ::open(device.c_str(), O_RDONLY);
    const wire::PortFailure open = wire::DiagnosePortFailure(device, facts, true, "");
    EXPECT_EQ(open.holder.pid, ::getpid());
    EXPECT_TRUE(open.holder.self);
    ::close(fd);

    if (::geteuid() == 0) GTEST_SKIP() << "root may open any device";
    fs::permissions(device, fs::perms::none);
    EXPECT_EQ(wire::DiagnosePortFailure(device, facts, true, "").problem,
              wire::PortProblem::NoPermission);
}

}  // namespace
