#include "qt_listed_ports.h"

namespace wire {

std::vector<int> QtListedPorts::Known() const {
    listed_ = QSerialPortInfo::availablePorts();
    return {};
}

PortPlace QtListedPorts::PlaceOf(int n) const {
    PortPlace place = FixedPortDirectory().PlaceOf(n);
    const QString name = QString::fromStdString(place.path);
    for (const QSerialPortInfo& info : listed_) {
        if (info.portName() != name && info.systemLocation() != name) continue;
        place.usbAdapter = info.hasVendorIdentifier();
        place.description = info.description().toStdString();
        place.manufacturer = info.manufacturer().toStdString();
        place.serial = info.serialNumber().toStdString();
    }
    return place;
}

}  // namespace wire
