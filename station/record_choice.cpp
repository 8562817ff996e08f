#include "record_choice.h"

#include "db_uri.h"
#include "file_system.h"

namespace station {

std::string DefaultRecordPath(const std::string& dataFolder) {
    return dataFolder + "/modstation_log.csv";
}

record::SinkOptions RecordSinkOptions(const std::string& target, const std::string& dataFolder,
                                      const std::string& station, const std::string& stationId) {
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
    return options;
}

}  // namespace station
