// The yardstick for the tools: an empty Qt window of the tools' size,
// started the same way.
//
//   bare_window_probe                  prints CLOCK_MONOTONIC at each stage and
//                                      leaves when the window is first painted
//   bare_window_probe --with-text      the same with one line of text in the
//                                      tools' font, so the font set-up any
//                                      window with text pays is included
//   bare_window_probe --idle-timer MS  stays up with an idle MS ms timer until
//                                      killed, for the idle CPU comparison
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

#include "bench_support.h"
#include "first_frame.h"

int main(int argc, char** argv) {
    const long long entered = bench::MonotonicNs();
    int idleMs = 0;
    if (argc == 3 && std::strcmp(argv[1], "--idle-timer") == 0) idleMs = std::atoi(argv[2]);

    if (!idleMs) probe::Stage("main", entered);
    QApplication app(argc, argv);
    if (!idleMs) probe::Stage("application", bench::MonotonicNs());
    QWidget window;
    // The client size of the tools' normal layout.
    window.setFixedSize(398, 495);
    window.setWindowTitle(QStringLiteral("bare window"));

    if (idleMs) {
        QTimer timer;
        timer.setTimerType(Qt::CoarseTimer);  // as the tools' refresh
        QObject::connect(&timer, &QTimer::timeout, [] {});
        timer.start(idleMs);
        window.show();
        return app.exec();
    }

    if (argc == 2 && std::strcmp(argv[1], "--with-text") == 0) {
        QFont font;
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
        font.setPointSizeF(9.75);
        window.setFont(font);
        auto* label = new QLabel(QStringLiteral("Port select"), &window);
        label->move(10, 10);
    }

    probe::FirstFrame firstFrame;
    window.show();
    probe::Stage("started-and-shown", bench::MonotonicNs());
    return app.exec();
}
