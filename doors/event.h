#pragma once

// What happened at the station, in the order it happened: what the event
// stream, the MES messages and the metrics are made of.

#include <cstdint>
#include <string>

#include "attempt.h"
#include "snapshot.h"

namespace doors {

enum class EventKind {
    SocketChanged,    // socket: the state word or a flag changed
    AttemptBegun,     // attempt: its row was made, result "running"
    AttemptFinished,  // attempt: finished once, with its result
};

struct Event {
    EventKind kind = EventKind::SocketChanged;
    std::uint64_t seq = 0;    // given by the hub, rising
    SocketView socket;        // SocketChanged
    record::Attempt attempt;  // AttemptBegun, AttemptFinished

    static Event Begun(record::Attempt attempt);
    static Event Finished(record::Attempt attempt);
};

}  // namespace doors
