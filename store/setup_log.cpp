#include "setup_log.h"

#include "field_reader.h"

namespace store {

std::string FormatLogRecord(const LogRecord& record) {
    // The log is read by people and spreadsheets as it stands. A field that
    // would not read back as one (a decimal comma in a frequency, a date
    // format with a comma) goes in double quotes, as in the settings file,
    // so that the record keeps its fields; all others are written bare.
    std::string out;
    for (const std::string* field :
         {&record.serial, &record.version, &record.channels[3], &record.channels[2],
          &record.channels[1], &record.channels[0], &record.date, &record.time}) {
        out += QuoteIfNeeded(*field);
        out += ',';
    }
    out += QuoteIfNeeded(record.toolVersion);
    out += "\r\n";
    return out;
}

}  // namespace store
