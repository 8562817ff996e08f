#pragma once

// Why a serial device that an operator asked for did not open, or why an
// open one stopped working, in words that say what to do about it.

#include <string>

#include "device_facts.h"

namespace wire {

// Gone: the device went away while the port was open (cable or adapter
// pulled, its hub dropped, the other end of a pseudo-terminal closed).
enum class PortProblem { NoDevice, NoPermission, InUse, Gone, Other };

struct PortFailure {
    PortProblem problem = PortProblem::Other;
    std::string device;        // as the operator knows it (a ports/ link, a tty)
    DeviceAccess access;       // NoPermission: the group and whether the user is in it
    DeviceHolder holder;       // InUse: who has it, when known
    std::string systemReason;  // Other: the system's own words
};

// Looks at the device after a failed open. refused: the open was refused
// although the device is there (a lock or exclusive use); systemReason is
// what the serial library said.
PortFailure DiagnosePortFailure(const std::string& device, const DeviceFacts& facts, bool refused,
                                const std::string& systemReason);

// One line: the device, the reason and the fix.
std::string PortFailureText(const PortFailure& failure);

}  // namespace wire
