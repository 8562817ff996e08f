// The probes' way of telling when their window is first on screen: the first
// expose event of a window, once it has been handled (a widget window paints
// and flushes its backing store while handling it).
#pragma once

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "bench_support.h"

namespace probe {

inline void Stage(const char* name, long long ns) {
    std::printf("stage %s %lld\n", name, ns);
}

// Watches every object for the first expose of a window; after it has been
// handled, prints the "first-frame" stage and ends the process at once (no
// teardown, which is no part of start-up).
class FirstFrame : public QObject {
  public:
    FirstFrame() { QCoreApplication::instance()->installEventFilter(this); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen_ && event->type() == QEvent::Expose) {
            auto* w = qobject_cast<QWindow*>(watched);
            if (w && w->isExposed()) {
                seen_ = true;
                Stage("exposed", bench::MonotonicNs());
                // Runs once the expose (and the paint it causes) is done.
                QTimer::singleShot(0, [] {
                    Stage("first-frame", bench::MonotonicNs());
                    std::fflush(stdout);
                    _exit(0);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    bool seen_ = false;
};

}  // namespace probe
