#pragma once

// The PLC's door: a Modbus TCP server over QtSerialBus holding the map of
// modbus_map.h. It reads the station only from the hub's snapshot and
// sends the coils' commands through the hub, like every door.

#include <QModbusTcpServer>
#include <QObject>
#include <string>
#include <vector>

#include "door_options.h"
#include "hub.h"

namespace doors {

class ModbusDoor : public QObject {
  public:
    ModbusDoor(Hub& hub, std::vector<Cidr> allow, bool triggerPlc);
    ~ModbusDoor() override;

    bool Listen(const Endpoint& at, std::string* error);

  private:
    bool Accept(QTcpSocket* client);
    void Drain();
    void Update(const Snapshot& snapshot);
    void OnWritten(QModbusDataUnit::RegisterType table, int address, int size);
    void SetCoil(int coil, bool value);

    static constexpr int kClients = 16;

    Hub& hub_;
    std::vector<Cidr> allow_;
    bool loopbackOnly_ = true;
    bool triggerPlc_;
    QModbusTcpServer server_;
    int clients_ = 0;
    bool ownWrite_ = false;  // the door's own setData, not the PLC's
    std::vector<bool> inputs_;
    std::vector<std::uint16_t> registers_;
    StationState state_ = StationState::Setup;
    std::unordered_map<std::uint64_t, int> triggers_;  // command id -> its coil
    Hub::Client client_;
};

}  // namespace doors
