#pragma once

// The PLC's view of the station over Modbus TCP. The addresses are the
// interface a fixture's program is written against, so they never move:
//   discrete inputs 8*(n-1)+0..7 for socket n: busy, pass, fail, not
//     recorded, adapter missing, skipped, module present, paused;
//   coil 0: pause (1) or resume (0); coil n: start socket n (--trigger plc);
//   input registers 0-1 passed, 2-3 failed, 4-5 skipped (32 bits, high word
//     first), 6 unsent records, 100+(n-1) socket n's last attempt in units
//     of 100 ms.

#include <cstdint>
#include <optional>
#include <vector>

#include "command.h"
#include "snapshot.h"

namespace doors {

// The most sockets the map has room for, one per COM name.
constexpr int kModbusSockets = 255;
constexpr int kModbusInputs = 8 * kModbusSockets;
constexpr int kModbusCoils = kModbusSockets + 1;
constexpr int kModbusSocketTimes = 100;
constexpr int kModbusRegisters = kModbusSocketTimes + kModbusSockets;

// Sized for the sockets the station has (8 per socket).
std::vector<bool> DiscreteInputs(const Snapshot& snapshot);
// Registers 0..99+N.
std::vector<std::uint16_t> InputRegisters(const Snapshot& snapshot);

// What a coil written by the PLC asks for; nothing for coils that mean
// nothing (a socket's coil without --trigger plc, or set to 0).
std::optional<Command> CoilCommand(int coil, bool value, bool triggerPlc);

}  // namespace doors
