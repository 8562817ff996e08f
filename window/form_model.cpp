#include "form_model.h"

#include "frequency.h"

namespace window {

namespace {

constexpr const char* kDebugCaptionSuffix = " (Debug mode!!)";

}  // namespace

Rgb ColourValue(Colour colour) {
    switch (colour) {
        case Colour::Ok:
            return {192, 255, 192};
        case Colour::RangeError:
            return {255, 255, 192};
        case Colour::Blank:
            return {224, 224, 224};
        case Colour::Inexact:
            return {255, 192, 192};
        case Colour::Normal:
            break;
    }
    return {255, 255, 255};
}

FormModel::FormModel(const ToolProfile& profile, wire::SerialPort& port, TimerBackend& timers,
                     Dialogs& dialogs, const Platform& platform)
    : engine_(profile.Kind(), port, timers,
              [this](int channel) { return ChannelValues(channel); }, *this),
      GetInfoTimer(engine_.GetInfoTimer),
      TestTimer(engine_.TestTimer),
      ReadAllTimer(engine_.ReadAllTimer),
      WriteAllTimer(engine_.WriteAllTimer),
      profile_(profile),
      port_(port),
      dialogs_(dialogs),
      platform_(platform) {
    IntervalTimer.Attach(&timers);

    // The state the window has when it is created, before start-up runs.
    Caption = profile_.designCaption;
    ComStart.text = "Open";
    GetInfoSW.text = "Get Info.";
    GetInfoSW.enabled = false;
    for (auto& b : ChTestSW) {
        b.text = "Test";
        b.enabled = false;
    }
    FreqLoadSaveSW[0].text = "Load";
    FreqLoadSaveSW[1].text = "Save";
    FreqDefaultSW.text = "Default Set";
    ChCheckSW.text = "Check";
    ChCheckSW.enabled = false;
    ChWriteSW.text = "Write";
    ChWriteSW.enabled = false;
    for (Control* c : {&Version, &Serial, &FactoryDate, &FOffsetV}) c->back = Colour::Blank;
    FOffsetV.enabled = false;
    for (auto* row : {&LoFrequency, &ChStep, &Rcounter, &ProgramCounter, &SwallowCounter}) {
        for (auto& c : *row) c.back = Colour::Blank;
    }
    // Logging starts on: the log file name box starts enabled, which goes
    // with a checked box.
    Check1.value = 1;

    MSFlexGrid1.Resize(profile_.RegisterRows() + 1, 5);
}

Timer& FormModel::TimerById(TimerId id) {
    switch (id) {
        case TimerId::IntervalTimer:
            return IntervalTimer;
        case TimerId::GetInfoTimer:
            return GetInfoTimer;
        case TimerId::TestTimer:
            return TestTimer;
        case TimerId::ReadAllTimer:
            return ReadAllTimer;
        default:
            break;
    }
    return WriteAllTimer;
}

void FormModel::StartUp() {
    const ProgramVersion v = platform_.Version();
    Caption = profile_.designCaption + "   Ver.=" + std::to_string(v.major) + "." +
              std::to_string(v.minor) + "." + std::to_string(v.revision);

    Width = kNormalWidth;
    Height = kWindowHeight;
    Frame5Left = kFrame5NormalX;

    PortDiscovery();

    const std::vector<std::string> presets = channel::FrequencyPresetList();
    for (auto& box : Frequency) box.items = presets;

    SetDefaultFrequencies();

    MSFlexGrid1.colAlignment[0] = Alignment::Left;
    MSFlexGrid1.colWidth[0] = 1200;
    MSFlexGrid1.SetCell(0, 0, "Register");
    for (int c = 1; c <= 4; ++c) {
        MSFlexGrid1.colAlignment[static_cast<std::size_t>(c)] = Alignment::Centre;
        MSFlexGrid1.colWidth[static_cast<std::size_t>(c)] = 990;
        MSFlexGrid1.SetCell(0, c, "Ch." + std::to_string(c - 1));
    }
    for (int r = 1; r <= profile_.RegisterRows(); ++r) {
        MSFlexGrid1.SetCell(r, 0, profile_.Kind().registerNames[static_cast<std::size_t>(r - 1)]);
    }

    for (Control* m : {&P_Message, &C_Message, &T_Message, &L_Message}) m->text.clear();

    CommonDialog1.filter = "Freq. Table File(*.tbl)|*.tbl|All File|*.*|";
    CommonDialog1.initialFolder = platform_.DataFolder();

    ComStart.toolTip = "Port Open/Close.";
    Version.toolTip = "Program Version of Target-Module";
    GetInfoSW.toolTip = "Get Target-Module Information.";
    Serial.toolTip = "Identification code used in factory inspection.";

    LogFileName.text = platform_.ProgramName() + ".log";

    LoadSettings();

    IntervalTimer.Start();
}

void FormModel::ShutDown() {
    if (port_.IsOpen()) port_.Close();
    // Files are opened and closed within one operation; none is held here.
    for (int n = 0; n < 4; ++n) {
        SetFrequencyText(n, channel::CommasToPoints(Frequency[static_cast<std::size_t>(n)].text));
    }
    SaveSettings();
    IntervalTimer.Stop();
    engine_.Stop();
}

void FormModel::ApplyDebugLayout() {
    // Applying it twice (a settings file with two debug lines) must not grow
    // the caption twice.
    if (DebugMode == "ON") return;
    DebugMode = "ON";
    Width = kDebugWidth;
    Caption += kDebugCaptionSuffix;
    Frame5Left = kFrame5DebugX;
}

void FormModel::OnFormMove(long top, long left) {
    Top = top;
    Left = left;
    TopSet = true;
    LeftSet = true;
}

void FormModel::OnTimer(TimerId id) {
    if (id == TimerId::IntervalTimer) {
        OnIntervalTimerTick();
    } else {
        engine_.OnTimer(id);
    }
}

// --- Interlocks ------------------------------------------------------------
// Each sets the Test buttons in index order, then Get Info., Check, Write. Any
// of them also ends the lock a running test holds, so the test's end does not
// undo what they decided.

void FormModel::DisableModuleButtons() {
    TestRunning = false;
    for (auto& b : ChTestSW) b.enabled = false;
    GetInfoSW.enabled = false;
    ChCheckSW.enabled = false;
    ChWriteSW.enabled = false;
}

void FormModel::EnableModuleButtons() {
    TestRunning = false;
    for (auto& b : ChTestSW) b.enabled = true;
    GetInfoSW.enabled = true;
    ChCheckSW.enabled = true;
    ChWriteSW.enabled = true;
}

void FormModel::EnableGetInfoOnly() {
    TestRunning = false;
    for (auto& b : ChTestSW) b.enabled = false;
    GetInfoSW.enabled = true;
    ChCheckSW.enabled = false;
    ChWriteSW.enabled = false;
}

void FormModel::ClearIdentity() {
    Version.text.clear();
    Version.back = Colour::Blank;
    Serial.text.clear();
    Serial.back = Colour::Blank;
    FactoryDate.text.clear();
    FactoryDate.back = Colour::Blank;
    if (profile_.HasOffsetBox()) {
        FOffsetV.text.clear();
        FOffsetV.back = Colour::Blank;
    }
}

void FormModel::ResetChannelColours() {
    for (int i = 0; i < 4; ++i) {
        Frequency[static_cast<std::size_t>(i)].back = Colour::Normal;
        if (profile_.HasCounters()) ChStep[static_cast<std::size_t>(i)].back = Colour::Normal;
    }
}

}  // namespace window
