// modstation: the line operator's window over the station sockets. A desktop
// shortcut per product passes modsetup station's set-up options; --start goes
// straight into production.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "file_system.h"
#include "open_doors.h"
#include "program_runtime.h"
#include "shortcut_options.h"
#include "station_link.h"
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

int UsageError(int argc, char** argv, const std::string& error) {
    std::cerr << "modstation: " << error << "\n" << modstation::kUsageText;
    if (UsageBoxWanted()) {
        QApplication app(argc, argv);
        QMessageBox::critical(
            nullptr, "modstation",
            QString::fromStdString("modstation: " + error + "\n\n(see modstation --help)"));
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    doors::DoorsOptions doorOptions;
    std::string doorError;
    if (!doors::TakeDoorOptions(args, &doorOptions, &doorError))
        return UsageError(argc, argv, doorError);
    const modstation::Options options = modstation::ParseOptions(args);
    if (!options.error.empty()) return UsageError(argc, argv, options.error);
    if (options.help) {
        std::cout << modstation::kUsageText << doors::kDoorsUsageText;
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
    // A signal ends production the way Stop does, without the question:
    // every running attempt gets its whole "interrupted" row.
    const auto end = [&window] {
        window.SetConfirm([](const QString&) { return true; });
        window.close();
    };
    auto onSignal = runtime::OnTerminationSignals(end);

    // The doors see the window's station through the hub only. They open
    // before the window shows, so a door that cannot open is said at once;
    // they close before the link and the hub go.
    station::StationModel& model = window.Model();
    doors::Hub hub;
    QObject linkContext;
    std::unique_ptr<doors::StationLink> link;
    std::unique_ptr<doors::Doors> openDoors;
    QTimer linkRefresh;
    if (doorOptions.Any()) {
        model.SetTrigger(doorOptions.triggerPlc);
        if (doorOptions.mqtt && doorOptions.mqttOutbox.empty())
            doorOptions.mqttOutbox = places.data + "/modstation_mqtt.outbox";
        doors::LinkHooks hooks;
        // The hub wakes us from a door's thread with its lock held: only a
        // queued call onto the window's thread, which drains the commands.
        hooks.post = [&linkContext](std::function<void()> fn) {
            QMetaObject::invokeMethod(&linkContext, std::move(fn), Qt::QueuedConnection);
        };
        hooks.stop = end;
        // The Start button's own handler, refused for the same reason.
        hooks.start = [&window] {
            if (window.Producing()) return doors::Reply::Refused("production is running already");
            return window.StartProduction() ? doors::Reply::Ok()
                                            : doors::Reply::Refused(window.Message().toStdString());
        };
        hooks.notice = [&model](const std::string& text) {
            std::cerr << "modstation: " << text << "\n";
            model.Say(text);
        };
        link = std::make_unique<doors::StationLink>(
            hub, doors::StationFacts{model.StationName(), "", version}, std::move(hooks));
        model.alsoTell = link.get();
        model.onLine = [&link, &model, &version](station::Station* line) {
            if (!line) {
                link->Detach();
                return;
            }
            link->SetFacts({model.StationName(), line->Sockets().empty()
                                                     ? std::string()
                                                     : line->Sockets().front()->Config().stationId,
                            version});
            link->Attach(*line, model.Assembly().Record());
            link->Started();
        };
        QObject::connect(&linkRefresh, &QTimer::timeout, &linkContext, [&link] { link->Refresh(); });
        linkRefresh.start(1000);
        std::string error;
        openDoors = doors::OpenDoors(doorOptions, hub, &error);
        if (!openDoors) {
            model.alsoTell = nullptr;
            model.onLine = nullptr;
            std::cerr << "modstation: " << error << "\n";
            if (UsageBoxWanted())
                QMessageBox::critical(nullptr, "modstation",
                                      QString::fromStdString("modstation: " + error));
            return 2;
        }
        std::cerr << "modstation: doors: " << openDoors->Describe() << "\n";
    }
    window.show();
    // A shortcut's table that cannot be read must not start production
    // with the plan remembered from before.
    const bool planMissing =
        !options.given.planFile.empty() && window.Current().planFile != options.given.planFile;
    if (options.start && planMissing) {
        std::cerr << "modstation: " << window.Message().toStdString() << " (not started)\n";
    } else if (options.start && !window.StartProduction()) {
        std::cerr << "modstation: " << window.Message().toStdString() << "\n";
    }
    const int status = app.exec();
    // Every attempt's end has reached the hub by now.
    openDoors.reset();
    model.alsoTell = nullptr;
    model.onLine = nullptr;
    return status;
}
