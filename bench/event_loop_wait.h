#pragma once

#include <QEventLoop>
#include <QTimer>
#include <functional>

#include "bench_support.h"

namespace bench {

// Runs the event loop until the condition holds, looking every millisecond;
// the moment it was first seen to hold, or -1 on time-out.
inline long long WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    long long seen = -1;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (condition()) {
            seen = MonotonicNs();
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return seen;
}

// Runs the event loop for a while with no timer of its own, so what it
// costs is the program's.
inline void IdleFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace bench
