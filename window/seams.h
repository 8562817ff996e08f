#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port_survey.h"
#include "timer.h"

namespace window {

using module::kTimerCount;
using module::Timer;
using module::TimerBackend;
using module::TimerId;

// The file dialog and the one message box. A cancelled dialog gives nothing.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual std::optional<std::string> OpenFileName(const std::string& filter,
                                                    const std::string& initialFolder) = 0;
    virtual std::optional<std::string> SaveFileName(const std::string& filter,
                                                    const std::string& initialFolder) = 0;
    // OK/Cancel question with a warning icon; true for OK.
    virtual bool AskOkCancel(const std::string& title, const std::string& text) = 0;
};

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// Facts about the running program and the system it runs on.
class Platform {
  public:
    virtual ~Platform() = default;
    virtual std::string ProgramName() const = 0;
    // Where the settings file lives, and where the logs go and the file
    // dialog starts. Either may not exist yet.
    virtual std::string ConfigFolder() const = 0;
    virtual std::string DataFolder() const = 0;
    virtual ProgramVersion Version() const = 0;
    // The screen's full size, twips.
    virtual long ScreenWidth() const = 0;
    virtual long ScreenHeight() const = 0;
    virtual char DecimalSeparator() const = 0;
    // Now, in the system's short date format and its time format with seconds.
    virtual std::string DateText() const = 0;
    virtual std::string TimeText() const = 0;
    // What the COM names lead to, for the port list's tooltips: the map
    // the port opens through. By default the fixed names, nothing known.
    virtual const wire::PortDirectory& PortNames() const {
        static const wire::FixedPortDirectory fixed;
        return fixed;
    }
};

}  // namespace window
