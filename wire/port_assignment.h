#pragma once

// COM names that stay with their USB serial adapter (Linux), one map for
// every program of the suite. A name is an entry COMn in a folder of links
// (store::PortFolders): the folder for every user, which an administrator
// fills, wins over the user's own. The first time an adapter is seen it gets
// the lowest free COM name from COM3 up (COM1 and COM2 are left to the
// built-in ports) as a link in the user's folder to the adapter's stable
// path under /dev/serial; adapters seen together are named in the order of
// the USB ports they sit in. Assignment only ever adds a link at a name that
// has no entry yet; it never changes or removes an entry, so a link made by
// hand stays exactly as made and an adapter a link already leads to gets no
// second name. Where the folder cannot be written nothing is made and the
// fixed names of FixedDevicePath stay in force.

#include <map>
#include <string>
#include <vector>

#include "device_facts.h"
#include "file_places.h"
#include "port_survey.h"

namespace wire {

constexpr int kFirstAssignedPort = 3;

// One COMn entry of a folder of COM names.
struct PortEntry {
    int number = 0;
    std::string path;    // <folder>/COMn
    std::string target;  // the link's text; empty when the entry is not a link
    std::string device;  // what it leads to now; empty when nothing is there
    bool forEveryUser = false;
};

// Every COMn entry of one folder, lowest number first.
std::vector<PortEntry> ReadPortFolder(const std::string& folder, bool forEveryUser = false);

// The entries in force, lowest number first: every one of the folder for
// every user, and those of the user's own that name neither a COM name nor a
// device that folder has.
std::vector<PortEntry> ReadPortMap(const store::PortFolders& folders);

// The path COMn is opened by: its entry in force, else its fixed name.
std::string PortPath(const store::PortFolders& folders, int n);

// The path an adapter is known by for life: its by-id name when it has a USB
// serial number no other adapter plugged in shares, else its by-path name
// (the USB port it sits in).
std::string StablePath(const UsbSerialDevice& device, const std::vector<UsbSerialDevice>& present);

// Adapters in the order of the USB ports they sit in (their by-path names
// compared with numbers as numbers: port 1.2 before 1.10).
void SortByUsbPort(std::vector<UsbSerialDevice>& devices);

struct Assignment {
    int number = 0;
    std::string stablePath;
};

struct AssignOutcome {
    std::vector<Assignment> made;
    std::string error;  // why the user's folder could not be written; empty when it could
};

// Gives each adapter plugged in that no entry in force leads to a COM name
// in the user's folder.
AssignOutcome AssignNewAdapters(const store::PortFolders& folders, const DeviceFacts& facts);

// The links of the per-program folders of earlier versions, taken over into
// the user's folder while that does not exist yet: a name two programs gave
// goes to the first program's adapter (store::PlacesFor's order), and an
// adapter gets no second name. The old folders stay as they are.
std::vector<Assignment> TakeOverEarlierLinks(const store::PortFolders& folders);

// Which folder the operator changes by hand.
enum class PortFolder { User, EveryUser };

// AssignPort links COMn to the stable path of device (a tty, a /dev/serial
// path, or any other character device, which is then linked as given);
// another name the same adapter had through /dev/serial in that folder is
// removed, so the adapter has one name. A COMn that is taken is refused.
// Both return an error text, empty on success; *moved gets the names given
// up.
std::string AssignPort(const store::PortFolders& folders, PortFolder where, int n,
                       const std::string& device, const DeviceFacts& facts,
                       std::vector<int>* moved);
std::string ForgetPort(const store::PortFolders& folders, PortFolder where, int n);

// The COM names as the programs see them, kept up to date cheaply: the
// folders are read again and new adapters named only when an adapter was
// plugged or pulled or a folder changed since the last Refresh, so probing
// 255 names costs one look at the device trees.
class PortNames : public PortDirectory {
  public:
    PortNames(store::PortFolders folders, const DeviceFacts& facts)
        : folders_(std::move(folders)), facts_(facts) {}

    void Refresh() { Update(); }
    // The path COMn is opened by, as of the last Refresh (the first
    // question asked before any reads the folders).
    std::string PathOf(int n) const;
    // COMn's entry in force, or nullptr when it goes by its fixed name.
    const PortEntry* EntryOf(int n) const;
    // The COM name whose entry leads to device now; 0 for none.
    int NumberOfDevice(const std::string& device) const;
    const store::PortFolders& Folders() const { return folders_; }

    std::vector<int> Known() const override;
    PortPlace PlaceOf(int n) const override;
    std::string DeviceAt(const std::string& path) const override { return ResolvedDevice(path); }

  private:
    std::string Stamp() const;
    void Update() const;
    void Loaded() const {
        if (stamp_.empty()) Update();
    }

    store::PortFolders folders_;
    const DeviceFacts& facts_;
    // What the last look found; a question asked before the first look
    // makes one.
    mutable std::string stamp_;
    mutable std::vector<PortEntry> map_;
    mutable std::vector<UsbSerialDevice> adapters_;
};

}  // namespace wire
