#include "run_tool.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>

namespace window {

ToolSession::ToolSession(const ToolProfile& profile, const store::FilePlaces& places,
                         const std::string& programName)
    : platform_(places, programName), port_(places.config) {
    model_ = std::make_unique<FormModel>(profile, port_, timers_, dialogs_, platform_);
    window_ = std::make_unique<FormWindow>(*model_);
    dialogs_.SetParent(window_.get());
    timers_.SetTickHandler(
        [this](TimerId id) { window_->Handle([this, id] { model_->OnTimer(id); }); });
    port_.SetReceiveHandler([this](wire::CommEvent event) {
        window_->Handle([this, event] { model_->OnMSComm1Receive(event); });
    });
    window_->SetClosedHandler([this] { timers_.StopAll(); });
}

ToolSession::~ToolSession() {
    timers_.StopAll();
    port_.SetReceiveHandler(nullptr);
}

void ToolSession::Start() {
    // Start-up runs to its end before any tick or receive event is handled.
    model_->StartUp();
    window_->Render();
    window_->show();
}

#ifndef _WIN32
namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

}  // namespace
#endif

store::FilePlaces ProgramPlaces(const std::string& programFolder, const std::string& programName) {
#ifdef SETUP_PER_USER_FILES
    return store::PlacesFor(store::FilePlacement::PerUser, programFolder, programName);
#else
    return store::PlacesFor(store::FilePlacement::BesideProgram, programFolder, programName);
#endif
}

int RunTool(const ToolProfile& profile, int argc, char** argv) {
    QApplication app(argc, argv);
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const std::string name = exe.completeBaseName().toStdString();
    ToolSession session(
        profile, ProgramPlaces(QCoreApplication::applicationDirPath().toStdString(), name), name);

#ifndef _WIN32
    // SIGINT and SIGTERM close the window as the operator would, so the port
    // is closed and the settings are saved. (Windows asks a window to close
    // with a message, which Qt turns into the same close.)
    std::unique_ptr<QSocketNotifier> notifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
            // Close every window, an open file dialog included, so the
            // main window's shutdown runs as if the operator closed it.
            QApplication::closeAllWindows();
        });
        struct sigaction action = {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
#endif

    session.Start();
    return app.exec();
}

}  // namespace window
