#include "headless_seams.h"

#include <QDateTime>

namespace modsetup {

using window::TimerId;

HeadlessTimers::HeadlessTimers() {
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        const auto id = static_cast<TimerId>(i);
        // The sequences' ticks must come when the windows' come.
        timers_[i].setTimerType(id == TimerId::IntervalTimer ? Qt::CoarseTimer : Qt::PreciseTimer);
        QObject::connect(&timers_[i], &QTimer::timeout, [this, id] {
            if (tick_) tick_(id);
        });
    }
}

void HeadlessTimers::TimerChanged(TimerId id, bool enabled, int intervalMs) {
    QTimer& t = timers_[static_cast<std::size_t>(id)];
    if (enabled) {
        t.start(intervalMs);
        return;
    }
    t.stop();
    if (stopped_) stopped_(id);
}

window::ProgramVersion HeadlessPlatform::Version() const {
    return {SETUP_VERSION_MAJOR, SETUP_VERSION_MINOR, SETUP_VERSION_PATCH};
}

std::string HeadlessPlatform::DateText() const {
    return QDate::currentDate().toString(Qt::ISODate).toStdString();
}

std::string HeadlessPlatform::TimeText() const {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

std::string ToolVersionText() {
    return std::to_string(SETUP_VERSION_MAJOR) + "." + std::to_string(SETUP_VERSION_MINOR) + "." +
           std::to_string(SETUP_VERSION_PATCH);
}

}  // namespace modsetup
