#pragma once

#include <QEventLoop>
#include <array>
#include <memory>
#include <string>

#include "form_model.h"
#include "headless_seams.h"
#include "plan.h"
#include "qt_serial_port.h"
#include "qt_timers.h"

namespace modsetup {

// What one operation found out about the module in the fixture.
struct ModuleResult {
    std::string operation;
    bool pass = false;
    char kindLetter = 0;  // 'R' / 'T', 0 when unknown
    std::string serial, version, testDate, offset;
    std::string message;
    bool portFailed = false;   // the port failed: not the module's fault
    bool wrongKind = false;    // a module of the other kind answered
    bool interrupted = false;  // stopped by a signal
};

// The window model of one tool kind, driven as an operator would drive the
// window: the programmer presses its buttons and reads its boxes. The
// bytes on the wire and their timing are therefore the windows' own.
class ModuleSession {
  public:
    // profile: the kind to start with; fixedKind refuses modules of the other
    // kind instead of switching to a model of their kind.
    ModuleSession(const std::string& programFolder, const window::ToolProfile& profile,
                  bool fixedKind, const PlanTexts& plan);
    ~ModuleSession();

    // port: "COMn" or a device path.
    bool Open(const std::string& port, std::string* error);
    void Close();

    const window::ToolProfile& Profile() const { return *profile_; }

    // A module of the other kind switches to a model of its kind (once)
    // unless the kind is fixed.
    ModuleResult Identity(bool maySwitch = true);
    // After a passed identity read.
    ModuleResult WriteAndCheck(bool check);
    ModuleResult CheckOnly();
    ModuleResult Test(int channel);

    // Ends the running sequence (if any) at once; every later call returns
    // an interrupted result.
    void RequestStop();
    bool StopRequested() const { return stop_; }
    // Waits in the event loop (a stop ends the wait early).
    void Pause(int ms);

  private:
    void MakeModel(const window::ToolProfile& profile);
    // Presses a button and waits until the sequence's timer stops.
    void Run(window::TimerId timer, const std::function<void()>& press);
    ModuleResult Snapshot(const std::string& operation) const;
    bool PortFailed() const;
    bool AllChannelsConfirmed() const;
    std::string FirstUnconfirmed() const;

    std::string folder_;
    const window::ToolProfile* profile_;
    bool fixedKind_;
    PlanTexts plan_;
    wire::QtSerialPort port_;
    // The windows' own timers, so the sequences tick as they do there; a
    // sequence timer that stops tells that its sequence has ended.
    window::QtTimers timers_;
    HeadlessDialogs dialogs_;
    HeadlessPlatform platform_;
    std::unique_ptr<window::FormModel> model_;
    QEventLoop* waiting_ = nullptr;
    bool stop_ = false;
};

const window::ToolProfile& ProfileForLetter(char letter);
std::string KindName(char letter);  // "rx" / "tx"

}  // namespace modsetup
