#include "csv_sink.h"

#include "csv_log.h"

namespace record {

bool CsvSink::Open(std::string* error) const {
    return CanAppendProductionLog(path_, error);
}

BeginResult CsvSink::Begin(const Attempt&) {
    BeginResult b;
    b.ok = Open(&b.error);
    return b;
}

bool CsvSink::Finish(const Attempt& attempt, std::string* error) {
    return AppendProductionRow(path_, attempt, error);
}

std::optional<PriorPass> CsvSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::array<std::string, 4>& plan) {
    return FindPassedWrite(path_, kind, serial, plan);
}

}  // namespace record
