#pragma once

#include <memory>
#include <string>

#include "sink.h"

namespace station {

// The one place that turns the operator's record target (a CSV path or a
// database URI) into a sink. target empty: the CSV file in the data folder. nullptr with the reason in *error when the
// record cannot be written; nothing is written without a record.
std::unique_ptr<record::Sink> MakeRecordSink(const std::string& target,
                                             const std::string& dataFolder,
                                             const std::string& station,
                                             const std::string& stationId, std::string* error);

// The CSV file an empty target stands for.
std::string DefaultRecordPath(const std::string& dataFolder);

}  // namespace station
