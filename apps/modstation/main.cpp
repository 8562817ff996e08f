// modstation: the line operator's window over the station sockets. A desktop
// shortcut per product passes modsetup station's set-up options; --start goes
// straight into production.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "file_system.h"
#include "program_runtime.h"
#include "shortcut_options.h"
#include "station_window.h"
#include "tool_version.h"

namespace {

// A desktop shortcut has no terminal, so a mistake in its command line would
// go unseen on standard error: it is shown in a box as well, where there is a
// screen to show one on.
bool UsageBoxWanted() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) == 0;
#else
    if (::isatty(STDERR_FILENO) == 1) return false;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? platform : "";
    if (name.rfind("offscreen", 0) == 0 || name.rfind("minimal", 0) == 0) return false;
    // Without a display the X platform would end the program instead.
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
           (!name.empty() && name.rfind("xcb", 0) != 0 && name.rfind("wayland", 0) != 0);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const modstation::Options options = modstation::ParseOptions(args);
    if (!options.error.empty()) {
        std::cerr << "modstation: " << options.error << "\n" << modstation::kUsageText;
        if (UsageBoxWanted()) {
            QApplication app(argc, argv);
            QMessageBox::critical(nullptr, "modstation",
                                  QString::fromStdString("modstation: " + options.error +
                                                         "\n\n(see modstation --help)"));
        }
        return 2;
    }
    if (options.help) {
        std::cout << modstation::kUsageText;
        return 0;
    }
    const std::string version = kToolVersion;
    if (options.version) {
        std::cout << "modstation " << version << "\n";
        return 0;
    }
    QApplication app(argc, argv);
    app.setApplicationName("modstation");
    app.setDesktopFileName("io.github.setuptools.modstation");
    const std::string folder =
        QFileInfo(QCoreApplication::applicationFilePath()).absolutePath().toStdString();
    const store::FilePlaces places = runtime::ProgramPlaces(folder, "modstation");
    store::fsys::MakeFolders(places.config);

    station::StationWindow window(places, version);
    window.RefreshPorts();
    window.LoadSettings();
    window.Apply(modstation::Merge(window.Current(), options));
    window.show();
    // A signal ends production the way Stop does, without the question:
    // every running attempt gets its whole "interrupted" row.
    auto onSignal = runtime::OnTerminationSignals([&window] {
        window.SetConfirm([](const QString&) { return true; });
        window.close();
    });
    // A shortcut's table that cannot be read must not start production
    // with the plan remembered from before.
    const bool planMissing =
        !options.given.planFile.empty() && window.Current().planFile != options.given.planFile;
    if (options.start && planMissing) {
        std::cerr << "modstation: " << window.Message().toStdString() << " (not started)\n";
    } else if (options.start && !window.StartProduction()) {
        std::cerr << "modstation: " << window.Message().toStdString() << "\n";
    }
    return app.exec();
}
