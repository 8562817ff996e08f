#pragma once

// /metrics in the Prometheus text format (version 0.0.4).

#include <cstdint>
#include <string>

#include "attempt_totals.h"
#include "snapshot.h"

namespace doors {

std::string MetricsText(const Snapshot& snapshot, const AttemptTotals& totals,
                        std::uint64_t eventsDropped);

}  // namespace doors
