#include "modbus_door.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QVariant>
#include <functional>

#include "modbus_map.h"

namespace doors {

namespace {

// The server owns its observer and deletes it, so the door lends it a
// small one of its own.
class Observer : public QModbusTcpConnectionObserver {
  public:
    explicit Observer(std::function<bool(QTcpSocket*)> accept) : accept_(std::move(accept)) {}
    bool acceptNewConnection(QTcpSocket* client) override { return accept_(client); }

  private:
    std::function<bool(QTcpSocket*)> accept_;
};

}  // namespace

ModbusDoor::ModbusDoor(Hub& hub, std::vector<Cidr> allow, bool triggerPlc)
    : hub_(hub), allow_(std::move(allow)), triggerPlc_(triggerPlc), client_(hub, 4096, [this] {
          QMetaObject::invokeMethod(
              this, [this] { Drain(); }, Qt::QueuedConnection);
      }) {
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::DiscreteInputs,
               QModbusDataUnit(QModbusDataUnit::DiscreteInputs, 0, kModbusInputs));
    map.insert(QModbusDataUnit::Coils, QModbusDataUnit(QModbusDataUnit::Coils, 0, kModbusCoils));
    map.insert(QModbusDataUnit::InputRegisters,
               QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, kModbusRegisters));
    server_.setMap(map);
    server_.setServerAddress(1);
    server_.installConnectionObserver(
        new Observer([this](QTcpSocket* client) { return Accept(client); }));
    connect(&server_, &QModbusServer::dataWritten, this,
            [this](QModbusDataUnit::RegisterType table, int address, int size) {
                OnWritten(table, address, size);
            });
    connect(&server_, &QModbusTcpServer::modbusClientDisconnected, this,
            [this](QTcpSocket*) { clients_ = std::max(0, clients_ - 1); });
}

ModbusDoor::~ModbusDoor() {
    server_.disconnect(this);
    server_.disconnectDevice();
}

bool ModbusDoor::Listen(const Endpoint& at, std::string* error) {
    loopbackOnly_ = at.Loopback();
    server_.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                   QString::fromStdString(at.host));
    server_.setConnectionParameter(QModbusDevice::NetworkPortParameter, at.port);
    if (!server_.connectDevice()) {
        *error =
            "Modbus: cannot listen on " + at.Text() + ": " + server_.errorString().toStdString();
        return false;
    }
    Update(*hub_.Current());
    return true;
}

bool ModbusDoor::Accept(QTcpSocket* client) {
    const std::optional<Address> a = ParseAddress(client->peerAddress().toString().toStdString());
    bool allowed = a && loopbackOnly_ && IsLoopback(*a);
    for (const Cidr& c : allow_) allowed = allowed || (a && c.Contains(*a));
    if (!allowed || clients_ >= kClients) return false;
    ++clients_;
    return true;
}

void ModbusDoor::SetCoil(int coil, bool value) {
    ownWrite_ = true;
    server_.setData(QModbusDataUnit::Coils, static_cast<quint16>(coil), value ? 1 : 0);
    ownWrite_ = false;
}

void ModbusDoor::Update(const Snapshot& s) {
    const std::vector<bool> inputs = DiscreteInputs(s);
    const std::vector<std::uint16_t> registers = InputRegisters(s);
    ownWrite_ = true;
    if (inputs != inputs_) {
        // Sockets that went away read 0 again.
        QList<quint16> values(static_cast<qsizetype>(std::max(inputs.size(), inputs_.size())), 0);
        for (std::size_t i = 0; i < inputs.size(); ++i)
            values[static_cast<qsizetype>(i)] = inputs[i];
        server_.setData(QModbusDataUnit(QModbusDataUnit::DiscreteInputs, 0, values));
        inputs_ = inputs;
    }
    if (registers != registers_) {
        QList<quint16> values(static_cast<qsizetype>(std::max(registers.size(), registers_.size())),
                              0);
        for (std::size_t i = 0; i < registers.size(); ++i) {
            values[static_cast<qsizetype>(i)] = registers[i];
        }
        server_.setData(QModbusDataUnit(QModbusDataUnit::InputRegisters, 0, values));
        registers_ = registers;
    }
    ownWrite_ = false;
    if (s.state != state_) {
        // Coil 0 follows a pause or resume made at another door too.
        if (s.state == StationState::Paused) SetCoil(0, true);
        if (state_ == StationState::Paused) SetCoil(0, false);
        state_ = s.state;
    }
}

void ModbusDoor::OnWritten(QModbusDataUnit::RegisterType table, int address, int size) {
    if (ownWrite_ || table != QModbusDataUnit::Coils) return;
    for (int coil = address; coil < address + size; ++coil) {
        quint16 value = 0;
        server_.data(QModbusDataUnit::Coils, static_cast<quint16>(coil), &value);
        std::optional<Command> command = CoilCommand(coil, value != 0, triggerPlc_);
        if (!command) continue;
        command->origin = "modbus";
        const std::uint64_t id = client_.Send(std::move(*command));
        if (coil > 0) triggers_[id] = coil;
    }
}

void ModbusDoor::Drain() {
    const Delivery d = client_.Take();
    for (const auto& [id, reply] : d.replies) {
        const auto it = triggers_.find(id);
        if (it == triggers_.end()) continue;
        // A start the station refused is no start: the PLC sees its coil
        // drop and may ask again.
        if (!reply.ok) SetCoil(it->second, false);
        triggers_.erase(it);
    }
    for (const Event& e : d.events) {
        if (e.kind == EventKind::AttemptBegun && triggerPlc_ && e.attempt.socket >= 1 &&
            e.attempt.socket <= kModbusSockets) {
            SetCoil(e.attempt.socket, false);
        }
    }
    if (d.snapshotChanged) Update(*hub_.Current());
}

}  // namespace doors
