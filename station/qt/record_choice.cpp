#include "record_choice.h"

#include "csv_sink.h"
#include "file_system.h"

namespace station {

std::string DefaultRecordPath(const std::string& dataFolder) {
    return dataFolder + "/modstation_log.csv";
}

std::unique_ptr<record::Sink> MakeRecordSink(const std::string& target,
                                             const std::string& dataFolder, std::string* error) {
    error->clear();
    if (target.find("://") != std::string::npos) {
        *error = "a database record (" + target + ") is not built into this version";
        return nullptr;
    }
    std::string path = target;
    if (path.empty()) {
        store::fsys::MakeFolders(dataFolder);
        path = DefaultRecordPath(dataFolder);
    }
    auto sink = std::make_unique<record::CsvSink>(path);
    if (!sink->Writable(error)) return nullptr;
    return sink;
}

}  // namespace station
