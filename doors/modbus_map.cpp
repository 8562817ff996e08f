#include "modbus_map.h"

#include <algorithm>

namespace doors {

std::vector<bool> DiscreteInputs(const Snapshot& s) {
    int most = 0;
    for (const SocketView& sock : s.sockets) most = std::max(most, sock.number);
    most = std::min(most, kModbusSockets);
    std::vector<bool> bits(static_cast<std::size_t>(8 * most), false);
    for (const SocketView& sock : s.sockets) {
        if (sock.number < 1 || sock.number > kModbusSockets) continue;
        const auto base = static_cast<std::size_t>(8 * (sock.number - 1));
        const SocketFlags& f = sock.flags;
        const bool flags[8] = {f.busy,           f.passHeld, f.failHeld,      f.notRecorded,
                               f.adapterMissing, f.skipped,  f.modulePresent, f.paused};
        for (std::size_t i = 0; i < 8; ++i) bits[base + i] = flags[i];
    }
    return bits;
}

std::vector<std::uint16_t> InputRegisters(const Snapshot& s) {
    int most = 0;
    for (const SocketView& sock : s.sockets) most = std::max(most, sock.number);
    most = std::min(most, kModbusSockets);
    std::vector<std::uint16_t> r(static_cast<std::size_t>(kModbusSocketTimes + most), 0);
    const auto put32 = [&r](std::size_t at, long long v) {
        const auto u = static_cast<std::uint32_t>(std::clamp<long long>(v, 0, 0xffffffffLL));
        r[at] = static_cast<std::uint16_t>(u >> 16);
        r[at + 1] = static_cast<std::uint16_t>(u & 0xffff);
    };
    put32(0, s.counts.passed);
    put32(2, s.counts.failed);
    put32(4, s.counts.skipped);
    r[6] = static_cast<std::uint16_t>(std::clamp<long long>(s.unsent, 0, 0xffff));
    for (const SocketView& sock : s.sockets) {
        if (sock.number < 1 || sock.number > kModbusSockets) continue;
        // Rounded to the nearest 100 ms.
        const long long tenths = (sock.lastDurationMs + 50) / 100;
        r[static_cast<std::size_t>(kModbusSocketTimes + sock.number - 1)] =
            static_cast<std::uint16_t>(std::clamp<long long>(tenths, 0, 0xffff));
    }
    return r;
}

std::optional<Command> CoilCommand(int coil, bool value, bool triggerPlc) {
    Command c;
    if (coil == 0) {
        c.kind = value ? CommandKind::Pause : CommandKind::Resume;
        return c;
    }
    if (!triggerPlc || !value || coil < 1 || coil > kModbusSockets) return std::nullopt;
    c.kind = CommandKind::StartSocket;
    c.socket = coil;
    return c;
}

}  // namespace doors
