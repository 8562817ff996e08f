#include "setup_log.h"

namespace store {

std::string FormatLogRecord(const LogRecord& record) {
    // The log is read by people and spreadsheets as it stands: no quoting.
    std::string out;
    for (const std::string* field :
         {&record.serial, &record.version, &record.channels[3], &record.channels[2],
          &record.channels[1], &record.channels[0], &record.date, &record.time}) {
        out += *field;
        out += ',';
    }
    out += record.toolVersion;
    out += "\r\n";
    return out;
}

}  // namespace store
