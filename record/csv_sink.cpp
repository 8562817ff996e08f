#include "csv_sink.h"

namespace record {

store::ProductionRow ToProductionRow(const Attempt& a) {
    store::ProductionRow r;
    r.time = a.startedAt;
    r.station = a.station;
    r.port = a.port;
    r.kind = a.kind;
    r.serial = a.serial;
    r.version = a.version;
    r.channels = a.channels;
    r.operation = a.operation;
    r.result = a.result;
    r.message = a.message;
    r.durationMs = a.durationMs;
    r.toolVersion = a.toolVersion;
    r.socket = a.socket;
    return r;
}

Attempt FromProductionRow(const store::ProductionRow& r) {
    Attempt a;
    a.startedAt = r.time;
    a.station = r.station;
    a.socket = r.socket > 0 ? r.socket : 1;
    a.port = r.port;
    a.kind = r.kind;
    a.serial = r.serial;
    a.version = r.version;
    a.channels = r.channels;
    a.operation = r.operation;
    a.result = r.result;
    a.message = r.message;
    a.durationMs = r.durationMs;
    a.toolVersion = r.toolVersion;
    return a;
}

bool CsvSink::Open(std::string* error) const {
    return store::CanAppendProductionLog(path_, error);
}

BeginResult CsvSink::Begin(const Attempt&) {
    BeginResult b;
    b.ok = Open(&b.error);
    return b;
}

bool CsvSink::Finish(const Attempt& attempt, std::string* error) {
    return store::AppendProductionRow(path_, ToProductionRow(attempt), error);
}

std::optional<PriorPass> CsvSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::array<std::string, 4>& plan) {
    const auto row = store::FindPassedWrite(path_, kind, serial, plan);
    if (!row) return std::nullopt;
    return PriorPass{row->station, row->socket, row->time};
}

}  // namespace record
