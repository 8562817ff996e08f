#pragma once

#include <memory>
#include <string>

#include "file_places.h"
#include "form_model.h"
#include "form_window.h"
#include "qt_seams.h"
#include "qt_serial_port.h"
#include "tool_profile.h"

namespace window {

// One tool's window with the real port, timers, dialogs and platform, as the
// program runs it. Needs a QApplication.
class ToolSession {
  public:
    ToolSession(const ToolProfile& profile, const store::FilePlaces& places,
                const std::string& programName);
    ~ToolSession();

    // Start-up, then the window is shown.
    void Start();

    FormModel& Model() { return *model_; }
    FormWindow& Window() { return *window_; }
    wire::QtSerialPort& Port() { return port_; }

  private:
    wire::QtSerialPort port_;
    QtPlatform platform_;  // lists the COM names the port opens by
    module::QtTimers timers_;
    QtDialogs dialogs_;
    std::unique_ptr<FormModel> model_;
    std::unique_ptr<FormWindow> window_;
};

// main() of recvsetup and sendsetup: the program folder is the executable's.
int RunTool(const ToolProfile& profile, int argc, char** argv);

}  // namespace window
