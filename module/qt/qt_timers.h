#pragma once

#include <QTimer>
#include <array>
#include <functional>

#include "timer.h"

namespace module {

// The timers of one front end as QTimers; sequence timers are precise ones. Only Qt
// Core: the windows and the command-line programmer tick on the same timers.
class QtTimers : public TimerBackend {
  public:
    QtTimers();
    void SetTickHandler(std::function<void(TimerId)> handler) { handler_ = std::move(handler); }
    // Told when a running timer stops: a sequence it drives has ended.
    void SetStoppedHandler(std::function<void(TimerId)> handler) { stopped_ = std::move(handler); }
    void TimerChanged(TimerId id, bool enabled, int intervalMs) override;
    void StopAll();

  private:
    std::array<QTimer, kTimerCount> timers_;
    std::function<void(TimerId)> handler_;
    std::function<void(TimerId)> stopped_;
};

}  // namespace module
