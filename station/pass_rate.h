#pragma once

#include <chrono>
#include <deque>
#include <optional>

namespace station {

// Passes per hour over a sliding window: the passes of the last 15 minutes,
// or of the time since the start when that is shorter. A figure measured
// from the start would carry the first burst (every socket passing its first
// module at once, before any socket stood empty) long after the line
// settled; in the first minute that burst is all there is, so no figure is
// given yet.
class PassRate {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kWindow{15};
    static constexpr std::chrono::minutes kFirstFigure{1};

    void Start(Clock::time_point now);
    void AddPass(Clock::time_point now);
    // Nothing during the first minute after Start().
    std::optional<double> PerHour(Clock::time_point now) const;

  private:
    Clock::time_point started_{};
    std::deque<Clock::time_point> passes_;  // within the window, oldest first
};

}  // namespace station
