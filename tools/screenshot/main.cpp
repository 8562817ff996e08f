// screenshot: draws a tool's window as an operator sees it after a complete
// setup (port open, identity read, channels written and checked) into a PNG.
// scripts/screenshots runs it against modsim for the pictures in docs/.
//
//   screenshot recvsetup|sendsetup normal|debug <program folder> <out.png>
//
// The program folder must hold ports/COM1 (modsim --folder <it>).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <functional>

#include "recv_profile.h"
#include "run_tool.h"
#include "send_profile.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: screenshot recvsetup|sendsetup normal|debug FOLDER OUT.png\n");
        return 2;
    }
    const std::string tool = argv[1];
    const bool debug = std::string(argv[2]) == "debug";
    const std::string folder = argv[3];
    QApplication app(argc, argv);

    const window::ToolProfile& profile =
        tool == "sendsetup" ? SendSetupProfile() : RecvSetupProfile();
    QFile settings(QString::fromStdString(folder + "/" + profile.programName + ".ini"));
    if (settings.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        settings.write(debug ? "COM  ,COM1,\r\nDEBUG,ON,\r\n" : "COM  ,COM1,\r\n");
        settings.close();
    }
    window::ToolSession session(profile, store::FilePlaces{folder, folder}, profile.programName);
    session.Start();
    window::FormModel& m = session.Model();
    window::FormWindow& w = session.Window();

    auto run = [&](void (window::FormModel::*handler)(), const char* what) {
        w.Handle([&] { (m.*handler)(); });
        if (!WaitFor([&] { return m.ChWriteSW.enabled || m.GetInfoSW.enabled; }, 100)) {
        }
        if (!WaitFor([&] { return m.GetInfoSW.enabled; }, 10000)) {
            std::fprintf(stderr, "screenshot: %s did not finish\n", what);
            return false;
        }
        return true;
    };
    w.Handle([&] { m.OnComStartClick(); });
    if (!session.Port().IsOpen()) {
        std::fprintf(stderr, "screenshot: COM1 does not open: %s\n", m.P_Message.toolTip.c_str());
        return 1;
    }
    if (!run(&window::FormModel::OnGetInfoSWClick, "Get Info.") ||
        !run(&window::FormModel::OnChWriteSWClick, "Write") ||
        !run(&window::FormModel::OnChCheckSWClick, "Check")) {
        return 1;
    }
    WaitFor([] { return false; }, 200);  // let the last replies and repaints land
    const bool saved = w.grab().save(QString::fromLocal8Bit(argv[4]));
    w.close();
    return saved ? 0 : 1;
}
