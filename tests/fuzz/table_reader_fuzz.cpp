// Feeds arbitrary bytes to the frequency table loader's reading steps: table
// files are swapped between sites and edited by hand.

#include <array>
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

void checkField(const std::string& field) {
    const auto list = store::ReadRecords("CH0F ," + store::QuoteIfNeeded(field) + ",comment\r\n");
    require(!list.cutShort && list.records.size() == 1 && list.records[0].value == field);
    if (const auto twips = store::ParseTwips(field)) {
        require(store::ParseTwips(store::FormatTwips(*twips)) == twips);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto list = store::ReadRecords(text);

    std::array<std::string, 4> channels;
    for (const auto& record : list.records) {
        checkField(record.key);
        checkField(record.value);
        checkField(record.comment);
        const int channel = store::ChannelForKey(record.key);
        if (channel >= 0) channels[static_cast<std::size_t>(channel)] = record.value;
    }

    // Saving the loaded plan and loading it again gives the same plan.
    const auto saved = store::ReadRecords(store::FormatFrequencyTable(channels));
    require(!saved.cutShort && saved.records.size() == 4);
    for (std::size_t line = 0; line < 4; ++line) {
        const int channel = store::ChannelForKey(saved.records[line].key);
        require(channel == static_cast<int>(3 - line));
        require(saved.records[line].value == channels[static_cast<std::size_t>(channel)]);
    }
    return 0;
}
