#include "ports_command.h"

#include <cstdio>
#include <map>
#include <ostream>
#include <vector>

#include "json_text.h"
#include "file_system.h"
#include "port_assignment.h"
#include "port_failure.h"
#include "serial_port.h"

namespace modsetup {

namespace {

std::string UsbText(const wire::UsbSerialDevice& d) {
    std::string usb;
    for (const std::string* fact : {&d.description, &d.manufacturer, &d.serial}) {
        if (!fact->empty()) usb += (usb.empty() ? "" : ", ") + *fact;
    }
    return usb;
}

int Refused(std::ostream& err, const std::string& what, const std::string& error) {
    err << "modsetup: ports " << what << ": " << error << "\n";
    const std::string gone = ": no such device";
    const bool noDevice = error.size() >= gone.size() &&
                          error.compare(error.size() - gone.size(), gone.size(), gone) == 0;
    return noDevice ? kExitPort : kExitUsage;
}

}  // namespace

PortsRequest PortsRequestFrom(const Options& options) {
    return {options.forget, options.assign, options.assignDevice};
}

int RunPortsCommand(const PortsRequest& request, const std::string& configFolder, bool json,
                    std::ostream& out, std::ostream& err, const PortProbe& probe,
                    const wire::DeviceFacts& facts) {
    if (!request.forget.empty()) {
        const int n = wire::PortNumberFromName(request.forget);
        const std::string device = wire::ResolvedDevice(wire::DevicePathForPort(n, configFolder));
        if (const std::string error = wire::ForgetPort(configFolder, n); !error.empty()) {
            return Refused(err, "--forget", error);
        }
        if (json) {
            out << "{\"command\":\"ports\",\"forget\":" << record::JsonText(request.forget)
                << ",\"result\":\"pass\"}\n";
        } else {
            out << request.forget << " forgotten\n";
        }
        // An adapter that is still there is given a name again the next time
        // the ports are looked up: say so rather than let it surprise.
        for (const wire::UsbSerialDevice& d : facts.UsbSerialDevices()) {
            if (d.device != device) continue;
            err << "modsetup: the adapter is plugged in (" << device
                << ") and gets the lowest free COM name when the ports are next looked up; "
                   "--assign COMn DEVICE gives it a name of your choice\n";
        }
        return kExitPass;
    }
    if (!request.assign.empty()) {
        const int n = wire::PortNumberFromName(request.assign);
        std::vector<int> moved;
        if (const std::string error =
                wire::AssignPort(configFolder, n, request.assignDevice, facts, &moved);
            !error.empty()) {
            return Refused(err, "--assign", error);
        }
        const std::string target =
            store::fsys::LinkTarget(configFolder + "/ports/" + request.assign).value_or("");
        std::string was;
        for (int m : moved) was += (was.empty() ? "" : ", ") + ("COM" + std::to_string(m));
        if (json) {
            out << "{\"command\":\"ports\",\"assign\":" << record::JsonText(request.assign)
                << ",\"link\":" << record::JsonText(target) << ",\"was\":" << record::JsonText(was)
                << ",\"result\":\"pass\"}\n";
        } else {
            out << request.assign << " -> " << target << (was.empty() ? "" : " (was " + was + ")")
                << "\n";
        }
        return kExitPass;
    }

    const wire::AssignOutcome assigned = wire::AssignNewAdapters(configFolder, facts);
    if (!assigned.error.empty()) {
        err << "modsetup: new adapters get no COM name of their own (" << assigned.error
            << "); their fixed names stay\n";
    }
    std::map<std::string, const wire::UsbSerialDevice*> usbByDevice;
    const std::vector<wire::UsbSerialDevice> usb = facts.UsbSerialDevices();
    for (const wire::UsbSerialDevice& d : usb) usbByDevice[d.device] = &d;
    std::map<int, wire::PortEntry> entries;
    for (wire::PortEntry& e : wire::ReadPortEntries(configFolder)) entries[e.number] = e;

    for (int n = 1; n <= 255; ++n) {
        std::string why;
        const bool opens = probe(n, &why);
        const std::string path = wire::DevicePathForPort(n, configFolder);
        const std::string device = wire::ResolvedDevice(path);
        const auto entry = entries.find(n);
        const bool linked = entry != entries.end();
        if (!opens && !linked) {
            // A fixed name is shown only for a USB adapter that is there and
            // may not be opened: the 32 built-in ttyS names a PC has, most
            // with no chip behind them, are not news.
            if (!usbByDevice.count(device)) continue;
            const wire::PortProblem problem =
                wire::DiagnosePortFailure(device, facts, false, why).problem;
            if (problem != wire::PortProblem::NoPermission && problem != wire::PortProblem::InUse) {
                continue;
            }
        }
        const std::string target = linked ? entry->second.target : std::string();
        const auto found = usbByDevice.find(device);
        const std::string usbText = found == usbByDevice.end() ? "" : UsbText(*found->second);
        const std::string name = "COM" + std::to_string(n);
        if (json) {
            out << "{\"command\":\"ports\",\"port\":" << record::JsonText(name)
                << ",\"device\":" << record::JsonText(path)
                << ",\"opens\":" << record::JsonText(opens ? device : "")
                << ",\"usb\":" << record::JsonText(usbText)
                << ",\"link\":" << record::JsonText(target)
                << ",\"now\":" << record::JsonText(device)
                << ",\"error\":" << record::JsonText(opens ? "" : why) << "}\n";
            continue;
        }
        out << name << "\t" << path;
        if (!target.empty() && target != device) out << " -> " << target;
        if (!device.empty() && device != path) out << " -> " << device;
        if (linked && device.empty()) out << " (not plugged in)";
        if (!usbText.empty()) out << "\t" << usbText;
        if (!opens) out << "\t" << why;
        out << "\n";
    }
    return kExitPass;
}

}  // namespace modsetup
