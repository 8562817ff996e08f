#pragma once

#include <string>

#include "open_sinks.h"

namespace station {

// The one place that turns the operator's record target (a CSV path or a
// database URI) into the sinks to open. target empty: modstation_log.csv in
// the data folder. The data folder, which also holds a database's spool, is
// made if it is not there yet.
record::SinkOptions RecordSinkOptions(const std::string& target, const std::string& dataFolder,
                                      const std::string& station, const std::string& stationId);

// The CSV file an empty target stands for.
std::string DefaultRecordPath(const std::string& dataFolder);

}  // namespace station
