#include "record_choice.h"

#include "db_uri.h"
#include "file_system.h"
#include "sql_record.h"

namespace station {

std::string DefaultRecordPath(const std::string& dataFolder) {
    return dataFolder + "/modstation_log.csv";
}

std::unique_ptr<record::Sink> MakeRecordSink(const std::string& target,
                                             const std::string& dataFolder,
                                             const std::string& station,
                                             const std::string& stationId, std::string* error) {
    error->clear();
    store::fsys::MakeFolders(dataFolder);
    record::SinkOptions options;
    options.spoolFolder = dataFolder;
    options.station = station;
    options.stationId = stationId;
    std::string notUri;
    if (!target.empty() && record::ParseDbUri(target, &notUri)) {
        options.dbUri = target;
    } else {
        options.logPath = target.empty() ? DefaultRecordPath(dataFolder) : target;
    }
    auto sink = record::OpenSinks(options, error);
    if (!sink && error->empty()) *error = "the record cannot be opened";
    return sink;
}

}  // namespace station
