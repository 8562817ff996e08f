// station_screenshot: draws modstation as an operator sees it, against six
// simulated fixtures: set-up mode with a plan one channel of which the
// receiver cannot make, production with passed, failed and missing sockets,
// and the same on a dark theme.
//
//   station_screenshot <modsim> <program folder> <out folder> [sockets [WxH]]
//
// With a number of sockets other than six the pictures' names carry it; with
// a size, the window is drawn at that size (a maximized window on a screen
// of that size) and the names carry the size too.
#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "station_window.h"

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QString State(station::StationWindow& w, int n) {
    QWidget* tile = w.findChild<QWidget*>(QString("Socket_%1").arg(n));
    return tile ? tile->accessibleDescription() : QString();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "usage: station_screenshot MODSIM FOLDER OUTDIR [SOCKETS [WxH]]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString modsim = argv[1];
    const QString folder = argv[2];
    const int count = argc >= 5 ? std::max(1, std::min(24, std::atoi(argv[4]))) : 6;
    QSize size(1280, 760);
    if (argc == 6) {
        const QStringList wh = QString(argv[5]).split('x');
        if (wh.size() == 2) size = QSize(wh[0].toInt(), wh[1].toInt());
    }
    const QString out = QString(argv[3]) + "/modstation" +
                        (count == 6 ? QString() : QString("-%1").arg(count)) +
                        (argc == 6 ? QString("-%1").arg(argv[5]) : QString());

    // Socket 3 stores Ch1 wrongly (FAIL), socket 5's adapter is pulled.
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int com = 1; com <= count; ++com) {
        QStringList args = {"--kind",    "rx",       "--folder",
                            folder,      "--com",    QString::number(com),
                            "--fixture", "2",        "--present",
                            "20000",     "--serial", QString::number(100000 + com * 1000)};
        if (com == 3)
            args << "--wrong-channel"
                 << "1";
        if (com == 5)
            args << "--vanish-after"
                 << "2500";
        auto p = std::make_unique<QProcess>();
        p->start(modsim, args);
        if (!p->waitForReadyRead(5000)) {
            std::fprintf(stderr, "modsim did not start\n");
            return 1;
        }
        sims.push_back(std::move(p));
    }

    station::StationWindow w({folder.toStdString(), folder.toStdString()}, "1.5.2");
    w.resize(size);
    w.show();
    w.RefreshPorts();
    station::StationSetup s;
    s.kind = "rx";
    s.channels = {"434.700", "434.613", "433.920", "434.075"};
    for (int com = 1; com <= count; ++com) s.ports.push_back("COM" + std::to_string(com));
    s.station = "line 2";
    s.operatorName = "A. Operator";
    w.Apply(s);
    w.StartProduction();  // refused: Ch1 cannot be made exactly
    WaitFor([] { return false; }, 200);
    bool ok = w.grab().save(out + "-setup.png");

    s.channels = {"434.700", "434.600", "433.920", "434.075"};
    w.Apply(s);
    if (!w.StartProduction()) {
        std::fprintf(stderr, "%s\n", w.Message().toStdString().c_str());
        return 1;
    }
    // Production maximizes the window; the offscreen screen has a size of
    // its own, so the screen asked for is drawn instead.
    w.showNormal();
    w.resize(size);
    WaitFor(
        [&] {
            return State(w, 1) == "PASS" && State(w, 3).startsWith("FAIL") &&
                   State(w, 5) == "adapter missing";
        },
        15000);
    // One socket still at work, for the progress bar.
    WaitFor([] { return false; }, 100);
    ok = w.grab().save(out + "-production.png") && ok;

    QPalette p;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(49, 54, 59)},
                                {QPalette::WindowText, QColor(239, 240, 241)},
                                {QPalette::Base, QColor(35, 38, 41)},
                                {QPalette::AlternateBase, QColor(49, 54, 59)},
                                {QPalette::Text, QColor(239, 240, 241)},
                                {QPalette::Button, QColor(49, 54, 59)},
                                {QPalette::ButtonText, QColor(239, 240, 241)},
                                {QPalette::Highlight, QColor(61, 174, 233)},
                                {QPalette::Mid, QColor(120, 124, 128)}}) {
        p.setColor(role, colour);
    }
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(140, 143, 145));
    QApplication::setPalette(p);
    WaitFor([] { return false; }, 100);
    ok = w.grab().save(out + "-dark.png") && ok;

    w.SetConfirm([](const QString&) { return true; });
    w.StopProduction();
    WaitFor([&] { return !w.Producing(); }, 3000);
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(3000);
    }
    return ok ? 0 : 1;
}
