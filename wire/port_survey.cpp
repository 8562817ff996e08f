#include "port_survey.h"

#include <algorithm>
#include <array>

namespace wire {

PortPlace FixedPortDirectory::PlaceOf(int n) const {
    PortPlace place;
    place.path = FixedDevicePath(n);
    place.device = place.path;
    return place;
}

std::vector<SurveyedPort> SurveyPorts(SerialPort& probe, const PortDirectory& directory) {
    std::array<bool, 256> opens{};
    std::array<std::string, 256> reasons;
    for (int n = 1; n <= 255; ++n) {
        probe.SetPortNumber(n);
        const auto i = static_cast<std::size_t>(n);
        opens[i] = probe.Open() && probe.IsOpen();
        if (!opens[i]) reasons[i] = probe.LastError();
        if (probe.IsOpen()) probe.Close();
    }
    // Asked after the pass: the first open gave new adapters their names.
    std::array<bool, 256> reported = opens;
    for (int n : directory.Known()) {
        if (n >= 1 && n <= 255) reported[static_cast<std::size_t>(n)] = true;
    }
    std::vector<SurveyedPort> survey;
    for (int n = 1; n <= 255; ++n) {
        const auto i = static_cast<std::size_t>(n);
        if (!reported[i]) continue;
        survey.push_back({n, opens[i], std::move(reasons[i]), directory.PlaceOf(n)});
    }
    return survey;
}

std::vector<std::string> OpenNames(const std::vector<SurveyedPort>& survey) {
    std::vector<std::string> names;
    for (const SurveyedPort& p : survey) {
        if (p.opens) names.push_back(p.Name());
    }
    return names;
}

std::string PortDescription(const PortPlace& place, const std::string& name) {
    std::string text = "Device: " + (place.device.empty() ? place.path : place.device);
    if (!place.link.empty()) {
        text += std::string("\nLinked ") + (place.forEveryUser ? "for every user " : "") +
                "as ports/" + name + " -> " + place.link;
    }
    for (const auto& [label, fact] :
         {std::pair<const char*, const std::string*>{"Description", &place.description},
          {"Manufacturer", &place.manufacturer},
          {"Serial number", &place.serial}}) {
        if (!fact->empty()) text += std::string("\n") + label + ": " + *fact;
    }
    return text;
}

std::string UsbFactsText(const PortPlace& place) {
    std::string text;
    for (const std::string* fact : {&place.description, &place.manufacturer, &place.serial}) {
        if (!fact->empty()) text += (text.empty() ? "" : ", ") + *fact;
    }
    return text;
}

std::string NamesOfOneDevice(const std::vector<std::string>& names,
                             const PortDirectory& directory) {
    std::vector<std::string> devices;
    for (const std::string& name : names) {
        const int n = PortNumberFromName(name);
        devices.push_back(n != 0 ? directory.PlaceOf(n).device : directory.DeviceAt(name));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (devices[i].empty()) continue;
        const auto same = std::find(devices.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                    devices.end(), devices[i]);
        if (same == devices.end()) continue;
        const std::string& other = names[static_cast<std::size_t>(same - devices.begin())];
        return names[i] + " and " + other + " are one device (" + devices[i] +
               "): give each device once";
    }
    return {};
}

}  // namespace wire
