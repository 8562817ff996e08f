#include "ports_command.h"

#include <ostream>
#include <vector>

#include "file_system.h"
#include "json_text.h"
#include "port_assignment.h"
#include "port_failure.h"
#include "serial_port.h"

namespace modsetup {

namespace {

int Refused(std::ostream& err, const std::string& what, const std::string& error) {
    err << "modsetup: ports " << what << ": " << error << "\n";
    const std::string gone = ": no such device";
    const bool noDevice = error.size() >= gone.size() &&
                          error.compare(error.size() - gone.size(), gone.size(), gone) == 0;
    return noDevice ? kExitPort : kExitUsage;
}

// A name that does not open is shown when it has an entry, or when it is a
// USB adapter there that may not be opened: the 32 built-in ttyS names a PC
// has, most with no chip behind them, are not news.
bool Shown(const wire::SurveyedPort& p, const wire::DeviceFacts& facts) {
    if (p.opens || p.place.inMap) return true;
    if (!p.place.usbAdapter) return false;
    const wire::PortProblem problem =
        wire::DiagnosePortFailure(p.place.device, facts, false, p.reason).problem;
    return problem == wire::PortProblem::NoPermission || problem == wire::PortProblem::InUse;
}

}  // namespace

PortsRequest PortsRequestFrom(const Options& options) {
    return {options.forget, options.assign, options.assignDevice, options.system};
}

int RunPortsCommand(const PortsRequest& request, const store::PortFolders& folders, bool json,
                    std::ostream& out, std::ostream& err, const PortSurveyor& survey,
                    const wire::DeviceFacts& facts) {
    const wire::PortFolder where =
        request.forEveryUser ? wire::PortFolder::EveryUser : wire::PortFolder::User;
    const std::string option = request.forEveryUser ? " --system" : "";
    if (!request.forget.empty()) {
        const int n = wire::PortNumberFromName(request.forget);
        const std::string device = wire::ResolvedDevice(wire::PortPath(folders, n));
        if (const std::string error = wire::ForgetPort(folders, where, n); !error.empty()) {
            return Refused(err, "--forget" + option, error);
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
                wire::AssignPort(folders, where, n, request.assignDevice, facts, &moved);
            !error.empty()) {
            return Refused(err, "--assign" + option, error);
        }
        const std::string& folder = request.forEveryUser ? folders.system : folders.user;
        const std::string target =
            store::fsys::LinkTarget(folder + "/" + request.assign).value_or("");
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

    const wire::AssignOutcome assigned = wire::AssignNewAdapters(folders, facts);
    if (!assigned.error.empty()) {
        err << "modsetup: new adapters get no COM name of their own (" << assigned.error
            << "); their fixed names stay\n";
    }
    for (const wire::SurveyedPort& p : survey()) {
        if (!Shown(p, facts)) continue;
        const wire::PortPlace& place = p.place;
        const std::string usbText = wire::UsbFactsText(place);
        if (json) {
            out << "{\"command\":\"ports\",\"port\":" << record::JsonText(p.Name())
                << ",\"device\":" << record::JsonText(place.path)
                << ",\"opens\":" << record::JsonText(p.opens ? place.device : "")
                << ",\"usb\":" << record::JsonText(usbText)
                << ",\"link\":" << record::JsonText(place.link)
                << ",\"now\":" << record::JsonText(place.device)
                << ",\"error\":" << record::JsonText(p.reason) << "}\n";
            continue;
        }
        out << p.Name() << "\t" << place.path;
        if (!place.link.empty() && place.link != place.device) out << " -> " << place.link;
        if (!place.device.empty() && place.device != place.path) out << " -> " << place.device;
        if (place.inMap && place.device.empty()) out << " (not plugged in)";
        if (!usbText.empty()) out << "\t" << usbText;
        if (!p.opens) out << "\t" << p.reason;
        out << "\n";
    }
    return kExitPass;
}

}  // namespace modsetup
