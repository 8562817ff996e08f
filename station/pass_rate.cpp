#include "pass_rate.h"

#include <algorithm>

namespace station {

void PassRate::Start(Clock::time_point now) {
    started_ = now;
    passes_.clear();
}

void PassRate::AddPass(Clock::time_point now) {
    passes_.push_back(now);
    while (!passes_.empty() && passes_.front() <= now - kWindow) passes_.pop_front();
}

std::optional<double> PassRate::PerHour(Clock::time_point now) const {
    if (now - started_ < kFirstFigure) return std::nullopt;
    const Clock::duration span = std::min<Clock::duration>(now - started_, kWindow);
    const double hours = std::chrono::duration<double>(span).count() / 3600.0;
    const auto from = std::upper_bound(passes_.begin(), passes_.end(), now - kWindow);
    return static_cast<double>(passes_.end() - from) / hours;
}

}  // namespace station
