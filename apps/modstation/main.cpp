// modstation: the line operator's window over the station sockets. A desktop
// shortcut per product passes modsetup station's options; --start goes
// straight into production.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <iostream>

#include "file_system.h"
#include "options.h"
#include "program_runtime.h"
#include "station_window.h"
#include "tool_version.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const modstation::Options options = modstation::ParseOptions(args);
    if (!options.error.empty()) {
        std::cerr << "modstation: " << options.error << "\n" << modstation::kUsageText;
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
    const bool planMissing = options.hasPlan && !options.setup.planFile.empty() &&
                             window.Current().planFile != options.setup.planFile;
    if (options.start && planMissing) {
        std::cerr << "modstation: " << window.Message().toStdString() << " (not started)\n";
    } else if (options.start && !window.StartProduction()) {
        std::cerr << "modstation: " << window.Message().toStdString() << "\n";
    }
    return app.exec();
}
