#include "run_tool.h"

#include <QApplication>
#include <QFileInfo>

#include "program_runtime.h"

namespace window {

ToolSession::ToolSession(const ToolProfile& profile, const store::FilePlaces& places,
                         const std::string& programName)
    : port_(places.ports), platform_(places, programName, port_.Names()) {
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

int RunTool(const ToolProfile& profile, int argc, char** argv) {
    QApplication app(argc, argv);
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const std::string name = exe.completeBaseName().toStdString();
    ToolSession session(
        profile, runtime::ProgramPlaces(QCoreApplication::applicationDirPath().toStdString(), name), name);

    // SIGINT and SIGTERM close every window, an open file dialog included,
    // so the main window's shutdown runs as if the operator closed it: the
    // port is closed and the settings are saved.
    const auto stopOnSignal = runtime::OnTerminationSignals([] { QApplication::closeAllWindows(); });

    session.Start();
    return app.exec();
}

}  // namespace window
