#pragma once

// The station as JSON: /status, the event stream's data lines and the
// answers to control requests.

#include <string>

#include "command.h"
#include "event.h"
#include "snapshot.h"

namespace doors {

std::string StatusJson(const Snapshot& snapshot);
std::string SocketJson(const SocketView& socket);
// An attempt as the event stream carries it.
std::string AttemptJson(const record::Attempt& attempt);
// {"ok":true} or {"ok":false,"error":"..."}
std::string ReplyJson(const Reply& reply);

// One Server-Sent Event: "event: NAME\nid: SEQ\ndata: JSON\n\n".
std::string SseEvent(const Event& event);
// The first event a client gets: the whole status.
std::string SseStatus(const Snapshot& snapshot);

}  // namespace doors
