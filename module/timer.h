#pragma once

namespace module {

// The timers of one front end. The sequence timers belong to the module
// engine; the refresh timer to a window, the poll timer to a station socket.
enum class TimerId { IntervalTimer, GetInfoTimer, TestTimer, ReadAllTimer, WriteAllTimer, PollTimer };
constexpr int kTimerCount = 6;

// Runs the countdowns. Every change restarts the countdown of an enabled
// timer, as a toolkit timer does on start and on a new interval.
class TimerBackend {
  public:
    virtual ~TimerBackend() = default;
    virtual void TimerChanged(TimerId id, bool enabled, int intervalMs) = 0;
};

class Timer {
  public:
    Timer(TimerId id, int intervalMs) : id_(id), interval_(intervalMs) {}

    void Attach(TimerBackend* backend) { backend_ = backend; }
    void Start() {
        enabled_ = true;
        Notify();
    }
    void Stop() {
        if (!enabled_) return;
        enabled_ = false;
        Notify();
    }
    void SetInterval(int ms) {
        interval_ = ms;
        if (enabled_) Notify();
    }
    bool Enabled() const { return enabled_; }
    int Interval() const { return interval_; }
    TimerId Id() const { return id_; }

  private:
    void Notify() {
        if (backend_) backend_->TimerChanged(id_, enabled_, interval_);
    }
    TimerId id_;
    int interval_;
    bool enabled_ = false;
    TimerBackend* backend_ = nullptr;
};

}  // namespace module
