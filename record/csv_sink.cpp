#include "csv_sink.h"

#include "production_log.h"
#include "text_file.h"

namespace record {

namespace {

store::ProductionRow RowOf(const Attempt& a) {
    store::ProductionRow row;
    row.time = a.startedAt;
    row.station = a.station;
    row.port = a.port;
    row.kind = a.kind;
    row.serial = a.serial;
    row.version = a.version;
    row.channels = a.channels;
    row.operation = a.operation;
    row.result = a.result;
    row.message = a.message;
    row.durationMs = a.durationMs;
    row.toolVersion = a.toolVersion;
    row.socket = a.socket;
    return row;
}

}  // namespace

bool CsvSink::Writable(std::string* error) const {
    if (store::EnsureFileExists(path_)) return true;
    if (error) *error = "cannot write the production log " + path_;
    return false;
}

BeginResult CsvSink::Begin(const Attempt&) {
    BeginResult r;
    r.ok = Writable(&r.error);
    return r;
}

bool CsvSink::Finish(const Attempt& attempt, std::string* error) {
    return store::AppendProductionRow(path_, RowOf(attempt), error);
}

std::optional<PriorPass> CsvSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::array<std::string, 4>& plan) {
    const auto logged = store::FindVerifiedPass(path_, kind, serial, plan);
    if (!logged) return std::nullopt;
    return PriorPass{logged->station, logged->socket, logged->time};
}

}  // namespace record
