#include "module_session.h"

#include <QTimer>

#include "recv_profile.h"
#include "send_profile.h"

namespace modsetup {

using window::Colour;
using window::TimerId;

namespace {

constexpr const char* kComPortError = "Com port Error!";
constexpr const char* kInterrupted = "interrupted";

}  // namespace

const window::ToolProfile& ProfileForLetter(char letter) {
    return letter == 'T' ? SendSetupProfile() : RecvSetupProfile();
}

std::string KindName(char letter) {
    return letter == 'T' ? "tx" : letter == 'R' ? "rx" : "";
}

ModuleSession::ModuleSession(const std::string& programFolder, const window::ToolProfile& profile,
                             bool fixedKind, const PlanTexts& plan)
    : folder_(programFolder),
      profile_(&profile),
      fixedKind_(fixedKind),
      plan_(plan),
      port_(programFolder),
      platform_(programFolder, programFolder, "modsetup") {
    timers_.SetTickHandler([this](TimerId id) { model_->OnTimer(id); });
    timers_.SetStoppedHandler([this](TimerId) {
        if (waiting_) waiting_->quit();
    });
    port_.SetReceiveHandler([this](wire::CommEvent e) { model_->OnMSComm1Receive(e); });
    MakeModel(profile);
}

ModuleSession::~ModuleSession() {
    port_.SetReceiveHandler(nullptr);
    timers_.SetStoppedHandler(nullptr);
    Close();
}

void ModuleSession::MakeModel(const window::ToolProfile& profile) {
    profile_ = &profile;
    model_ = std::make_unique<window::FormModel>(profile, port_, timers_, dialogs_, platform_);
    auto& m = *model_;
    // What start-up would set that the sequences use; start-up itself would
    // probe every port and read and write a settings file.
    m.CommonParam = profile.commonParam;
    // The programmer keeps its own production log, not the window's.
    m.OnCheck1Click(0);
    for (int i = 0; i < 4; ++i) {
        m.SetFrequencyText(i, plan_[static_cast<std::size_t>(i)]);
        m.ComputeChannelRegisters(i);
    }
    if (port_.IsOpen()) {
        m.ComStart.text = "Close";
        m.Combo1.enabled = false;
        m.EnableGetInfoOnly();
    }
}

bool ModuleSession::Open(const std::string& port, std::string* error) {
    auto& m = *model_;
    if (port.find('/') != std::string::npos) {
        port_.SetDeviceOverride(port);
        // Any port number does; the device is given.
        m.Combo1.text = "COM1";
    } else {
        m.Combo1.text = port;
    }
    m.OnComStartClick();
    if (port_.IsOpen()) return true;
    *error = m.P_Message.text;
    if (!port_.LastError().empty()) *error += " (" + port + ": " + port_.LastError() + ")";
    if (m.P_Message.toolTip.find("not a port name") != std::string::npos) {
        *error += " (\"" + port + "\" is neither COM1..COM255 nor a device path)";
    }
    return false;
}

void ModuleSession::Close() {
    for (TimerId id : {TimerId::GetInfoTimer, TimerId::TestTimer, TimerId::ReadAllTimer,
                       TimerId::WriteAllTimer}) {
        model_->TimerById(id).Stop();
    }
    if (port_.IsOpen()) model_->OnComStartClick();
}

void ModuleSession::RequestStop() {
    stop_ = true;
    if (waiting_) waiting_->quit();
}

void ModuleSession::Pause(int ms) {
    if (stop_ || ms <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
}

void ModuleSession::Run(TimerId id, const std::function<void()>& press) {
    if (stop_) return;
    press();
    window::Timer& timer = model_->TimerById(id);
    if (!timer.Enabled()) return;  // it failed at once (the port)
    QEventLoop loop;
    waiting_ = &loop;
    while (timer.Enabled() && !stop_) loop.exec();
    waiting_ = nullptr;
    if (stop_) timer.Stop();
}

bool ModuleSession::PortFailed() const {
    return model_->P_Message.text == kComPortError;
}

bool ModuleSession::AllChannelsConfirmed() const {
    for (const auto& box : model_->Frequency) {
        if (box.back != Colour::Ok) return false;
    }
    return true;
}

std::string ModuleSession::FirstUnconfirmed() const {
    for (int i = 0; i < 4; ++i) {
        if (model_->Frequency[static_cast<std::size_t>(i)].back != Colour::Ok) {
            return "Ch" + std::to_string(i);
        }
    }
    return {};
}

ModuleResult ModuleSession::Snapshot(const std::string& operation) const {
    const auto& m = *model_;
    ModuleResult r;
    r.operation = operation;
    r.kindLetter = m.Version.back == Colour::Ok ? profile_->kindLetter : 0;
    r.version = m.Version.text;
    r.serial = m.Serial.text;
    r.testDate = m.FactoryDate.text;
    if (profile_->hasOffsetBox) r.offset = m.FOffsetV.text;
    r.portFailed = PortFailed();
    r.interrupted = stop_;
    if (r.portFailed) {
        r.message = std::string(kComPortError) + " (" + port_.LastError() + ")";
    } else if (stop_) {
        r.message = kInterrupted;
    }
    return r;
}

ModuleResult ModuleSession::Identity(bool maySwitch) {
    Run(TimerId::GetInfoTimer, [this] { model_->OnGetInfoSWClick(); });
    ModuleResult r = Snapshot("info");
    if (r.portFailed || r.interrupted) return r;
    const auto& m = *model_;
    // A module of the other kind names itself in the version reply the model
    // refused ("Target error!!").
    const char other = profile_->kindLetter == 'R' ? 'T' : 'R';
    if (m.Version.back != Colour::Ok && !m.Version.text.empty() && m.Version.text[0] == other) {
        if (fixedKind_ || !maySwitch) {
            r.wrongKind = true;
            r.kindLetter = other;
            r.message = "Target error!! (the module is a " +
                        std::string(other == 'T' ? "transmitter" : "receiver") + ", not a " +
                        std::string(other == 'T' ? "receiver" : "transmitter") + ")";
            return r;
        }
        MakeModel(ProfileForLetter(other));
        return Identity(false);
    }
    r.pass = m.C_Message.text.empty() && m.Version.back == Colour::Ok &&
             m.Serial.back == Colour::Ok && !m.Serial.text.empty();
    if (!r.pass) {
        r.message =
            m.C_Message.text.empty() ? "Not Response!! (or target error)" : m.C_Message.text;
        r.message += " (no identity from the module)";
    }
    return r;
}

ModuleResult ModuleSession::WriteAndCheck(bool check) {
    Run(TimerId::WriteAllTimer, [this] { model_->OnChWriteSWClick(); });
    ModuleResult r = Snapshot("write");
    if (r.portFailed || r.interrupted) return r;
    const auto& m = *model_;
    r.kindLetter = profile_->kindLetter;
    if (!m.T_Message.text.empty() || !m.C_Message.text.empty() || !AllChannelsConfirmed()) {
        std::string what = !m.T_Message.text.empty()   ? m.T_Message.text
                           : !m.C_Message.text.empty() ? m.C_Message.text
                                                       : "Not Response!!";
        r.message = what + " (write: " +
                    (FirstUnconfirmed().empty() ? "refused" : FirstUnconfirmed() + " not stored") +
                    ")";
        return r;
    }
    if (!check) {
        r.pass = true;
        return r;
    }
    ModuleResult c = CheckOnly();
    c.operation = "write";
    return c;
}

ModuleResult ModuleSession::CheckOnly() {
    Run(TimerId::ReadAllTimer, [this] { model_->OnChCheckSWClick(); });
    ModuleResult r = Snapshot("check");
    if (r.portFailed || r.interrupted) return r;
    const auto& m = *model_;
    r.kindLetter = profile_->kindLetter;
    r.pass = m.T_Message.text.empty() && AllChannelsConfirmed();
    if (!r.pass) {
        r.message = (m.T_Message.text.empty() ? std::string("Not Response!!") : m.T_Message.text) +
                    " (check: " + FirstUnconfirmed() + " does not read back as planned)";
    }
    return r;
}

ModuleResult ModuleSession::Test(int channel) {
    Run(TimerId::TestTimer, [this, channel] { model_->OnChTestSWClick(channel); });
    ModuleResult r = Snapshot("test");
    if (r.portFailed || r.interrupted) return r;
    r.kindLetter = profile_->kindLetter;
    r.pass = model_->T_Message.text.empty();
    if (!r.pass)
        r.message = model_->T_Message.text + " (test of Ch" + std::to_string(channel) + ")";
    return r;
}

}  // namespace modsetup
