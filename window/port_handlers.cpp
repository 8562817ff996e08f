// The serial line: discovery, open and close, and the port-error recovery.
#include "form_model.h"

namespace window {

namespace {

constexpr const char* kComPortError = "Com port Error!";

}  // namespace

int FormModel::LineSpeed() const {
    return port_.Settings().baudRate;
}

void FormModel::ListOpenablePorts() {
    Combo1.items.clear();
    Combo1.itemToolTips.clear();
    for (const wire::SurveyedPort& p : wire::SurveyPorts(port_, platform_.PortNames())) {
        if (!p.opens) continue;
        Combo1.items.push_back(p.Name());
        Combo1.itemToolTips.push_back(wire::PortDescription(p.place, p.Name()));
    }
}

void FormModel::PortDiscovery() {
    ListOpenablePorts();
    Combo1.text = Combo1.items.empty() ? std::string() : Combo1.items.front();
}

void FormModel::OnCombo1DropDown() {
    // Probing borrows the port; the list is locked while it is in use anyway.
    if (port_.IsOpen()) return;
    // Adapters come and go while the tool runs. What the operator typed
    // stays, listed or not.
    ListOpenablePorts();
}

void FormModel::OnCombo1Change(const std::string& text) {
    Combo1.text = text;
}

void FormModel::OnComStartClick() {
    if (port_.IsOpen()) {
        ClosePort();
    } else {
        OpenPort();
    }
}

void FormModel::OpenPort() {
    // Only a real port name selects a port. Any other text must not fall back
    // on whichever port was used before: the operator could write the flash
    // of the wrong module.
    const int n = wire::PortNumberFromName(Combo1.text);
    if (n == 0) {
        P_Message.text = profile_.comNotOpenMessage;
        P_Message.toolTip = "\"" + Combo1.text + "\" is not a port name (COM1 to COM255).";
        return;
    }
    port_.SetPortNumber(n);
    if (!port_.SetDtr(true) || !port_.SetRts(true) || !port_.Open()) {
        P_Message.text = profile_.comNotOpenMessage;
        P_Message.toolTip = Combo1.text + ": " + port_.LastError();
        return;
    }

    for (Control* m : {&P_Message, &C_Message, &T_Message, &L_Message}) m->text.clear();
    P_Message.toolTip.clear();
    ClearIdentity();
    for (int i = 3; i >= 0; --i) Frequency[static_cast<std::size_t>(i)].back = Colour::Normal;
    if (profile_.HasCounters()) {
        for (int i = 3; i >= 0; --i) ChStep[static_cast<std::size_t>(i)].back = Colour::Blank;
    }
    // A sequence left running by a Close must not carry on over the new
    // connection: it would write the flash of whatever module is there now
    // and log a record without its identity.
    engine_.PortOpened();
    TestRunning = false;
    ComStart.text = "Close";
    Combo1.enabled = false;
    Combo1.back = Colour::Ok;
    GetInfoSW.enabled = true;
}

void FormModel::ClosePort() {
    // A running sequence is not stopped here: its next write fails and the
    // port-error recovery ends it.
    port_.Close();
    ComStart.text = "Open";
    Combo1.enabled = true;
    Combo1.back = Colour::Normal;
    DisableModuleButtons();
}

// The engine has stopped every sequence and closed the port.
void FormModel::PortErrorRecovery(const std::string& reason) {
    TestRunning = false;
    P_Message.text = kComPortError;
    P_Message.toolTip = reason;
    ComStart.text = "Open";
    Combo1.enabled = true;
    Combo1.back = Colour::Normal;
    DisableModuleButtons();
}

void FormModel::OnMSComm1Receive(wire::CommEvent event) {
    engine_.OnPortEvent(event);
}

bool FormModel::SequenceRunning() const {
    return GetInfoTimer.Enabled() || ReadAllTimer.Enabled() || WriteAllTimer.Enabled() ||
           TestRunning;
}

void FormModel::StopSequences() {
    engine_.Stop();
    TestRunning = false;
}

}  // namespace window
