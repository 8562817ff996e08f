#include "qt_timers.h"

namespace module {

QtTimers::QtTimers() {
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        const auto id = static_cast<TimerId>(i);
        timers_[i].setTimerType(id == TimerId::IntervalTimer ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(&timers_[i], &QTimer::timeout, [this, id] {
            if (handler_) handler_(id);
        });
    }
}

void QtTimers::TimerChanged(TimerId id, bool enabled, int intervalMs) {
    QTimer& t = timers_[static_cast<std::size_t>(id)];
    if (enabled) {
        t.start(intervalMs);  // restarts the countdown
        return;
    }
    t.stop();
    if (stopped_) stopped_(id);
}

void QtTimers::StopAll() {
    for (QTimer& t : timers_) t.stop();
}

}  // namespace module
