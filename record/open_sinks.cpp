#include "open_sinks.h"

#include <vector>

#include "csv_sink.h"
#include "fan_out_sink.h"

namespace record {

std::unique_ptr<Sink> OpenSinks(const SinkOptions& options, const DatabaseSinkFactory& openDatabase,
                                std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    std::vector<std::unique_ptr<Sink>> sinks;
    if (!options.dbUri.empty()) {
        if (!openDatabase) {
            *error = "this program keeps no database record: give --log FILE";
            return nullptr;
        }
        auto db = openDatabase(options, error);
        if (!db) return nullptr;
        sinks.push_back(std::move(db));
    }
    if (!options.logPath.empty()) {
        auto csv = std::make_unique<CsvSink>(options.logPath, options.stationId);
        if (!csv->Open(error)) return nullptr;
        sinks.push_back(std::move(csv));
    }
    if (sinks.empty()) {
        *error = "no record: give --log FILE or --db URI";
        return nullptr;
    }
    if (sinks.size() == 1) return std::move(sinks.front());
    return std::make_unique<FanOutSink>(std::move(sinks));
}

}  // namespace record
