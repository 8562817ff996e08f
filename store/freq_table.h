#pragma once

#include <array>
#include <string>
#include <string_view>

namespace store {

// The four lines of a frequency table file, CH3F first, CR LF line ends.
// Channel texts are written as they stand (quoted only when they would not
// read back unchanged).
std::string FormatFrequencyTable(const std::array<std::string, 4>& channels);

// Channel index for a table or settings key ("CH0F" -> 0 ... "CH3F" -> 3),
// -1 for any other key. Exact and case-sensitive.
int ChannelForKey(std::string_view key);

}  // namespace store
