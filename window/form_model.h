#pragma once

#include <array>
#include <string>

#include "control.h"
#include "engine.h"
#include "seams.h"
#include "serial_port.h"
#include "tool_profile.h"

namespace window {

// Window sizes, twips.
constexpr long kNormalWidth = 6060;
constexpr long kDebugWidth = 12300;
constexpr long kWindowHeight = 7830;
constexpr long kFrame5NormalX = -6000;
constexpr long kFrame5DebugX = 6120;

// A frequency box's tooltip: the frequency the registers make, its error and
// the synthesizer's step ("Makes 434.700000 MHz, error 0.0 Hz\n...").
std::string SynthesisToolTip(const module::ChannelSynthesis& r, bool counters, char separator);

// The window Form1 as plain data plus its event handlers. Every control the
// behaviour reads or writes is a member named as the control; a handler runs
// to its end and changes only this state and the seams. The Qt adapter
// renders the state after every handler. The module's protocol is the
// engine's; the model shows what the engine reports in the colours and
// texts the operators know from the first version of the tool.
class FormModel : private module::Listener {
  public:
    FormModel(const ToolProfile& profile, wire::SerialPort& port, TimerBackend& timers,
              Dialogs& dialogs, const Platform& platform);

    const ToolProfile& Profile() const { return profile_; }
    const module::Engine& Engine() const { return engine_; }
    module::Engine& Engine() { return engine_; }

  private:
    // Declared first: the sequence timers below are the engine's.
    module::Engine engine_;

  public:

    // --- Window --------------------------------------------------------
    std::string Caption;
    long Width = kNormalWidth;  // outer size, twips
    long Height = kWindowHeight;
    // Where the settings or the window system put the window, twips; a
    // coordinate nobody set is left to the window system.
    bool TopSet = false;
    bool LeftSet = false;
    long Top = 0;
    long Left = 0;
    long Frame5Left = kFrame5NormalX;
    std::string DebugMode;  // "ON" in the debug layout

    // --- Frame1 "Port select" -------------------------------------------
    Control Combo1;
    Control ComStart;
    Control P_Message;

    // --- "Get Target Information" ---------------------------------------
    Control Version;
    Control Serial;
    Control GetInfoSW;
    Control C_Message;

    // --- "Ch Setting" ---------------------------------------------------
    std::array<Control, 4> Frequency;  // RxFrequency / ChFrequency, index = channel
    // What made a frequency box green, told in its tooltip while it is:
    // Write's green is the module's echo, Check's its read-back.
    std::array<std::string, 4> GreenMeaning;
    std::array<Control, 4> Fup;
    std::array<Control, 4> Fdown;
    std::array<Control, 4> ChTestSW;
    std::array<Control, 2> FreqLoadSaveSW;
    Control FreqDefaultSW;
    Control ChCheckSW;
    Control ChWriteSW;
    Control T_Message;
    struct FileDialogSetup {
        std::string filter;
        std::string initialFolder;
    } CommonDialog1;

    // --- Frame4 "Log File" ----------------------------------------------
    Control Check1;
    Control LogFileName;
    Control L_Message;

    // --- Frame5 "Debug" -------------------------------------------------
    Control FactoryDate;
    Control FOffsetV;
    Grid MSFlexGrid1;
    std::array<Control, 4> LoFrequency;
    std::array<Control, 4> ChStep;
    std::array<Control, 4> Rcounter;
    std::array<Control, 4> ProgramCounter;
    std::array<Control, 4> SwallowCounter;
    Control Term;

    // --- Timers ---------------------------------------------------------
    Timer IntervalTimer{TimerId::IntervalTimer, 50};
    Timer& GetInfoTimer;
    Timer& TestTimer;
    Timer& ReadAllTimer;
    Timer& WriteAllTimer;

    // Set while a channel test runs: the module buttons stay locked so that
    // no other sequence restarts the shared step counter under it.
    bool TestRunning = false;

    // --- Start-up and shutdown ------------------------------------------
    void StartUp();
    void ShutDown();

    // --- Event handlers -------------------------------------------------
    void OnComStartClick();
    void OnCombo1Change(const std::string& text);
    // The port list is about to drop down: it is discovered again.
    void OnCombo1DropDown();
    void OnGetInfoSWClick();
    void OnChTestSWClick(int index);
    void OnChCheckSWClick();
    void OnChWriteSWClick();
    void OnFreqDefaultSWClick();
    void OnFupClick(int index);
    void OnFdownClick(int index);
    void OnFreqLoadSaveSWClick(int index);
    void OnFrequencyChange(int index, const std::string& text);
    void OnFrequencyLostFocus(int index);
    void OnCheck1Click(int value);
    void OnLogFileNameChange(const std::string& text);
    void OnTimer(TimerId id);
    void OnMSComm1Receive(wire::CommEvent event);
    // Window moved by the operator or the window system.
    void OnFormMove(long top, long left);

    // --- Procedures -----------------------------------------------------
    void DisableModuleButtons();
    void EnableModuleButtons();
    void EnableGetInfoOnly();
    void SetDefaultFrequencies();
    // Sets a channel text as if typed: a change runs the box check.
    void SetFrequencyText(int index, const std::string& text);
    void ComputeChannelRegisters(int index);
    void ApplyDebugLayout();
    void PortDiscovery();
    void LoadSettings();
    void SaveSettings();
    void AppendLogRecord();
    int LineSpeed() const;

    std::string SettingsPath() const;
    std::string LogPath() const;

    Timer& TimerById(TimerId id);

  private:
    void ValidateChannelFrequency(int index);
    // Combo1's items (and their tooltips): every port that opens now.
    void ListOpenablePorts();
    void OnIntervalTimerTick();
    void PortErrorRecovery(const std::string& reason);
    // Get Info., Check, Write or a test is under way.
    bool SequenceRunning() const;
    // Ends every sequence where it stands: nothing more is sent or logged.
    void StopSequences();
    void EnableButtonsAfterSequence();
    void ClearIdentity();
    void ResetChannelColours();
    std::vector<std::string> ChannelValues(int channel) const;
    void OpenPort();
    void ClosePort();
    void SaveFrequencyTable();
    void LoadFrequencyTable();
    void ClearTableMessage();
    // What the engine reports.
    void OnReceived(const std::string& bytes) override;
    void OnStarted(module::Sequence sequence) override;
    void OnIdentityCleared() override;
    void OnVersion(const std::string& version, bool kindMatches) override;
    void OnIdentity(const module::Identity& identity) override;
    void OnChannelEchoed(int channel, bool matches) override;
    void OnChannelReadBack(int channel, bool matches,
                           const std::vector<std::string>& values) override;
    void OnMessage(module::Line line, const std::string& text) override;
    void OnPortFailed(const std::string& reason) override;
    void OnFinished(const module::Result& result) override;
    void MarkChannelConfirmed(int channel, const char* meaning);
    void AppendToTerm(const std::string& received);

    const ToolProfile& profile_;
    wire::SerialPort& port_;
    Dialogs& dialogs_;
    const Platform& platform_;
    std::size_t termChars_ = 0;  // characters in Term
    // LoadSettings stopped at a failure: the file may hold hand edits the
    // next save would overwrite, so it is kept as <program>.ini.bak first.
    bool settingsLoadFailed_ = false;
    bool settingsBackedUp_ = false;
};

}  // namespace window
