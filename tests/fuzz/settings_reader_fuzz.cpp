// Feeds arbitrary bytes to the settings loader's reading steps: a settings
// file may be edited by hand, cut short by a crash, or be something else.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "field_reader.h"
#include "freq_table.h"
#include "settings_file.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// Whatever a field holds, saving it must give back the same text on the next
// load, and a window position must survive being saved.
void checkField(const std::string& field) {
    const auto list = store::ReadRecords("COM  ," + store::QuoteIfNeeded(field) + ",comment\r\n");
    require(!list.cutShort && list.records.size() == 1 && list.records[0].value == field);
    if (const auto twips = store::ParseTwips(field)) {
        require(store::ParseTwips(store::FormatTwips(*twips)) == twips);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto list = store::ReadRecords(text);

    // The records and the cut-short flag agree with the plain field count.
    store::FieldReader reader(text);
    std::size_t fields = 0;
    for (std::string field; reader.Next(field);) ++fields;
    require(reader.AtEnd());
    require(fields / 3 == list.records.size() && (fields % 3 != 0) == list.cutShort);

    // Load as the window does, then save and load again.
    store::SettingsValues values;
    for (const auto& record : list.records) {
        checkField(record.key);
        checkField(record.value);
        checkField(record.comment);
        const int channel = store::ChannelForKey(record.key);
        if (channel >= 0) {
            values.channels[static_cast<std::size_t>(channel)] = record.value;
        } else if (record.key == "TOP" || record.key == "LEFT") {
            const auto twips = store::ParseTwips(record.value);
            if (!twips) break;  // the load stops at a position that is not a number
            (record.key == "TOP" ? values.top : values.left) = *twips;
        } else if (record.key == "COM") {
            values.com = record.value;
        } else if (record.key == "LOGF") {
            values.logFileName = record.value;
        } else if (record.key == "DEBUG") {
            values.debug = record.value == "ON";
        }
    }

    const auto saved =
        store::ReadRecords(store::FormatSettings(values, store::kTransmitterSettingsComments));
    require(!saved.cutShort && saved.records.size() == (values.debug ? 9u : 8u));
    const auto& r = saved.records;
    require(store::ParseTwips(r[0].value) == values.top);
    require(store::ParseTwips(r[1].value) == values.left);
    require(r[2].value == values.com && r[3].value == values.logFileName);
    for (std::size_t line = 0; line < 4; ++line) {
        require(store::ChannelForKey(r[4 + line].key) == static_cast<int>(3 - line));
        require(r[4 + line].value == values.channels[3 - line]);
    }
    return 0;
}
