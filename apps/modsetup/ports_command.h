#pragma once

// modsetup ports: which COM name leads to which device, why a name that
// should open does not, and changing the names USB adapters keep.

#include <functional>
#include <iosfwd>
#include <string>

#include "device_facts.h"
#include "options.h"

namespace modsetup {

struct PortsRequest {
    std::string forget;        // COMn to forget, or empty
    std::string assign;        // COMn to assign, or empty
    std::string assignDevice;  // the device it is to lead to
};

PortsRequest PortsRequestFrom(const Options& options);

// Opens and closes COMn as the programs do: true when it opens, else false
// with the reason in *why.
using PortProbe = std::function<bool(int n, std::string* why)>;

// Without --forget or --assign, gives new adapters their COM names and lists
// every COM name that opens, every ports/ entry that does not (with the
// reason), and every other device there that may not be opened: COM name,
// the path it is looked up by, the stable path and the device it leads to
// now, the USB facts. Returns the exit status.
int RunPortsCommand(const PortsRequest& request, const std::string& configFolder, bool json,
                    std::ostream& out, std::ostream& err, const PortProbe& probe,
                    const wire::DeviceFacts& facts);

}  // namespace modsetup
