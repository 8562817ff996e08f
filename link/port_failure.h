#pragma once

// Why a serial device that an operator asked for did not open, in words that
// say what to do about it.

#include <string>

#include "device_facts.h"

namespace wire {

enum class PortProblem { NoDevice, NoPermission, InUse, Other };

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
