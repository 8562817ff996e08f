#pragma once

// modsetup ports: which COM name leads to which device, why a name that
// should open does not, and changing the names USB adapters keep.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "device_facts.h"
#include "file_places.h"
#include "options.h"
#include "port_survey.h"

namespace modsetup {

struct PortsRequest {
    std::string forget;        // COMn to forget, or empty
    std::string assign;        // COMn to assign, or empty
    std::string assignDevice;  // the device it is to lead to
    bool forEveryUser = false;  // in the folder for every user
};

PortsRequest PortsRequestFrom(const Options& options);

// The survey of the COM names, as the programs open them.
using PortSurveyor = std::function<std::vector<wire::SurveyedPort>()>;

// Without --forget or --assign, gives new adapters their COM names and lists
// every COM name that opens, every entry of the COM name folders that does
// not (with the reason), and every other USB adapter there that may not be
// opened: COM name, the path it is looked up by, the stable path and the
// device it leads to now, the USB facts. Returns the exit status.
int RunPortsCommand(const PortsRequest& request, const store::PortFolders& folders, bool json,
                    std::ostream& out, std::ostream& err, const PortSurveyor& survey,
                    const wire::DeviceFacts& facts);

}  // namespace modsetup
