#pragma once

// What the MES hears over MQTT: each attempt's start and end, shaped after
// the WorkStarted and UnitsTested messages of IPC-CFX, with the attempt id
// as the transaction id so that a consumer can drop a repeat.

#include <string>

#include "attempt.h"
#include "snapshot.h"

namespace doors {

// PREFIX/<station>/<leaf>; characters a topic may not hold in a name
// ("/", "+", "#") become "_".
std::string MqttTopic(const std::string& prefix, const std::string& station,
                      const std::string& leaf);

std::string WorkStartedJson(const record::Attempt& attempt);
std::string UnitsTestedJson(const record::Attempt& attempt);

// The retained status: the station's state word ("production", ...); the
// broker puts "offline" in its place when the station goes away.
std::string StatusWord(const Snapshot& snapshot);
extern const char kOfflineWord[];

}  // namespace doors
