#pragma once

// What a door asks of the station, and the station's answer. The station's
// thread carries a command out when it drains the hub, and answers it then
// or later; the door waits for the answer without holding anything up.

#include <cstdint>
#include <string>

namespace doors {

enum class CommandKind {
    Pause,  // finish the running attempts, take no new module
    Resume,
    Stop,         // end as SIGTERM does
    Start,        // modstation: start with the current set-up
    StartSocket,  // the PLC's trigger: socket may read its next module
};

// "pause", "resume", "stop", "start", "start socket N".
std::string CommandText(CommandKind kind, int socket);

struct Command {
    CommandKind kind = CommandKind::Pause;
    int socket = 0;        // StartSocket: 1..N
    std::uint64_t id = 0;  // given by the hub; the answer names it
    std::string origin;    // "http 127.0.0.1", "modbus 10.0.0.7": for the log
};

struct Reply {
    bool ok = true;
    std::string error;  // why it was refused, in the station's own words

    static Reply Ok() { return {}; }
    static Reply Refused(std::string why) { return {false, std::move(why)}; }
};

}  // namespace doors
