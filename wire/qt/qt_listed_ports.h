#pragma once

#include <QList>
#include <QSerialPortInfo>

#include "port_survey.h"

namespace wire {

// The COM names by their fixed names, described from the system's port list
// where there are no device trees to read (Windows). The list is taken once
// a survey, when it asks which names are known: it costs some 15 ms.
class QtListedPorts : public PortDirectory {
  public:
    std::vector<int> Known() const override;
    PortPlace PlaceOf(int n) const override;

  private:
    mutable QList<QSerialPortInfo> listed_;
};

}  // namespace wire
