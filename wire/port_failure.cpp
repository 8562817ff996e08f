#include "port_failure.h"

namespace wire {

PortFailure DiagnosePortFailure(const std::string& device, const DeviceFacts& facts, bool refused,
                                const std::string& systemReason) {
    PortFailure f;
    f.device = device;
    f.systemReason = systemReason;
    f.access = facts.AccessOf(device);
    if (!f.access.exists) {
        f.problem = PortProblem::NoDevice;
    } else if (!f.access.mayOpen) {
        f.problem = PortProblem::NoPermission;
    } else {
        f.holder = facts.HolderOf(ResolvedDevice(device).empty() ? device : ResolvedDevice(device));
        // The serial library reports a held lock as a permission error; with
        // the permission there, somebody else has it.
        if (f.holder.pid != 0 || refused) f.problem = PortProblem::InUse;
    }
    return f;
}

std::string PortFailureText(const PortFailure& f) {
    const std::string& d = f.device;
    switch (f.problem) {
        case PortProblem::NoDevice:
            return d + ": no such device; plug the adapter in, or pick another COM name";
        case PortProblem::NoPermission:
            if (f.access.userInGroup) {
                return d + ": permission denied; you were added to the group '" + f.access.group +
                       "' that owns it, but this login does not have it yet: log out and in again";
            }
            return d + ": permission denied; the user must belong to the group '" +
                   (f.access.group.empty() ? std::string("dialout") : f.access.group) +
                   "' that owns it: sudo usermod -aG " +
                   (f.access.group.empty() ? std::string("dialout") : f.access.group) +
                   " $USER, then log in again";
        case PortProblem::InUse:
            if (f.holder.pid == 0) {
                return d + ": in use by another program; close the port there first";
            }
            if (f.holder.self) {
                return d + ": already open in this program (" + f.holder.name + ", process " +
                       std::to_string(f.holder.pid) + "); close it there first";
            }
            return d + ": in use by another program (" +
                   (f.holder.name.empty() ? std::string("?") : f.holder.name) + ", process " +
                   std::to_string(f.holder.pid) + "); close the port there first";
        case PortProblem::Gone:
            // However it was noticed (a read, a write, a modem line), one
            // text: the system's own words differ by the call that failed.
            return d + ": the device is gone; plug the adapter in again";
        case PortProblem::Other:
            break;
    }
    return d + ": " + (f.systemReason.empty() ? std::string("cannot be opened") : f.systemReason);
}

}  // namespace wire
