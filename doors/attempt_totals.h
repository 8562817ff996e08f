#pragma once

// Finished attempts counted by socket and result, with their durations in
// the buckets of a histogram: what /metrics serves. Kept by the hub as the
// attempts are pushed, so no slow reader can make it miss one.

#include <array>
#include <map>
#include <string>
#include <utility>

#include "attempt.h"

namespace doors {

// Upper bounds in seconds; a write with its read-back takes about 5 s.
constexpr std::array<double, 12> kDurationBuckets = {0.5, 1, 2, 3, 4, 5, 6, 8, 10, 15, 30, 60};

struct AttemptTally {
    long long count = 0;
    double seconds = 0;                                        // sum of the durations
    std::array<long long, kDurationBuckets.size()> buckets{};  // cumulative
};

struct AttemptTotals {
    // (socket, result) -> tally
    std::map<std::pair<int, std::string>, AttemptTally> bySocket;

    void Add(const record::Attempt& attempt);
};

}  // namespace doors
