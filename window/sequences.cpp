// The four timer-driven conversations with the module. A tick writes at most
// one command and judges the answer on a later tick; the reply handler raises
// ReplyFlag in between. SeqStep 100 makes the next tick finish.
#include "commands.h"
#include "form_model.h"

namespace window {

namespace {

constexpr int kFinish = 100;
constexpr const char* kNotResponse = "Not Response!!";

}  // namespace

void FormModel::AbandonSequence() {
    SeqAbandoned = true;
    SeqStep = kFinish;
}

// The operator may close the port between a command and the tick that
// looks for its answer; that tick then finishes without writing, so no
// failed write runs the recovery. The buttons follow the port, not the
// sequence: with the port closed they all stay disabled.
void FormModel::EnableButtonsAfterSequence() {
    if (port_.IsOpen()) {
        EnableModuleButtons();
    } else {
        DisableModuleButtons();
    }
}

// --- Target information read ------------------------------------------------

void FormModel::OnGetInfoSWClick() {
    // The step counter is shared: a second sequence would take it over.
    if (SequenceRunning()) return;
    // Raising RTS also proves the port still works.
    if (!port_.SetRts(true)) {
        PortErrorRecovery(nullptr);
        return;
    }
    DisableModuleButtons();
    SeqStep = 0;
    SeqAbandoned = false;
    GetInfoTimer.Start();
}

void FormModel::OnGetInfoTimerTick() {
    switch (SeqStep) {
        case 0:
            ClearIdentity();
            C_Message.text.clear();
            ReplyFlag = 0;
            if (!Send(wire::kLeadInByte, &GetInfoTimer)) return;
            break;
        case 1:
            // A module that answered the lead-in byte with its version is not
            // asked again.
            if (ReplyFlag == 0 || Version.text.empty()) {
                if (!Send(wire::VersionCommand(), &GetInfoTimer)) return;
            }
            break;
        case 2:
            if (ReplyFlag == 0) {
                AbandonSequence();
                return;
            }
            ReplyFlag = 0;
            if (!Send(wire::IdentityCommand(), &GetInfoTimer)) return;
            break;
        default:
            if (!port_.IsOpen()) {
                DisableModuleButtons();
            } else if (SeqAbandoned || Serial.text.empty() || Serial.back != Colour::Ok) {
                EnableGetInfoOnly();
            } else {
                EnableModuleButtons();
            }
            GetInfoTimer.Stop();
            if (SeqAbandoned || ReplyFlag == 0 || Version.text.empty() || Serial.text.empty()) {
                C_Message.text = "Not Response!! (or target error)";
            }
            break;
    }
    ++SeqStep;
}

// --- Channel test -----------------------------------------------------------

void FormModel::OnChTestSWClick(int index) {
    CurChannel = index;
    T_Message.text.clear();
    SeqStep = 0;
    // Get Info., Check and Write wait until the test has ended, so none of
    // them restarts the step counter the test shares with them. The Test
    // buttons stay usable: a click restarts the test for that channel.
    GetInfoSW.enabled = false;
    ChCheckSW.enabled = false;
    ChWriteSW.enabled = false;
    TestRunning = true;
    TestTimer.SetInterval(50);
    TestTimer.Start();
}

void FormModel::OnTestTimerTick() {
    if (SeqStep == 0) {
        T_Message.text.clear();
        ReplyFlag = 0;
        if (!Send(wire::TestCommand(ChannelValues(CurChannel)), &TestTimer)) return;
        TestTimer.SetInterval(wire::TickPeriod(LineSpeed()));
        SeqStep = 1;
        return;
    }
    if (ReplyFlag == 0) T_Message.text = kNotResponse;
    if (profile_.testEndsWithStar) {
        if (!port_.SetRts(false)) {
            PortErrorRecovery(&TestTimer);
            return;
        }
        if (!Send(wire::kEndOfTest, &TestTimer)) return;
    }
    TestTimer.Stop();
    SeqStep = 2;
    if (TestRunning) EnableModuleButtons();
}

// --- Read-back check --------------------------------------------------------

void FormModel::OnChCheckSWClick() {
    if (SequenceRunning()) return;
    ResetChannelColours();
    DisableModuleButtons();
    SeqStep = 0;
    SeqAbandoned = false;
    ReadAllTimer.SetInterval(wire::TickPeriod(LineSpeed(), 0.7));
    ReadAllTimer.Start();
}

void FormModel::OnReadAllTimerTick() {
    // The transmitter reads its common parameters first.
    const int first = profile_.hasCommonParam ? 1 : 0;
    const int finish = first + 4;
    if (SeqStep < 0 || SeqStep >= finish) {
        EnableButtonsAfterSequence();
        ReadAllTimer.Stop();
        if (ReplyFlag == 0 || SeqAbandoned) T_Message.text = kNotResponse;
        ++SeqStep;
        return;
    }
    if (SeqStep == 0) {
        C_Message.text.clear();
        T_Message.text.clear();
    } else if (ReplyFlag == 0) {
        AbandonSequence();
        return;
    }
    ReplyFlag = 0;
    const std::string command =
        SeqStep < first ? wire::ReadCommonCommand() : wire::ReadCommand(SeqStep - first);
    if (!Send(command, &ReadAllTimer)) return;
    ++SeqStep;
}

// --- Channel write ----------------------------------------------------------

void FormModel::OnChWriteSWClick() {
    if (SequenceRunning()) return;
    ResetChannelColours();
    DisableModuleButtons();
    SeqStep = 0;
    SeqAbandoned = false;
    WriteAllTimer.SetInterval(wire::TickPeriod(LineSpeed()));
    WriteAllTimer.Start();
}

void FormModel::OnWriteAllTimerTick() {
    Timer* timer = &WriteAllTimer;
    const int step = SeqStep;
    switch (step) {
        case 0:
            ClearIdentity();
            C_Message.text.clear();
            T_Message.text.clear();
            L_Message.text.clear();
            ReplyFlag = 0;
            if (!Send(wire::kLeadInByte, timer)) return;
            break;
        case 1:
            if (Version.text.empty() && !Send(wire::VersionCommand(), timer)) return;
            break;
        case 2:
            if (!Send(wire::IdentityCommand(), timer)) return;
            break;
        case 3:
            if (ReplyFlag == 0 || Version.text.empty() || Serial.text.empty()) {
                T_Message.text = kNotResponse;
                AbandonSequence();
                return;
            }
            // A module of the other kind gets nothing stored; the version
            // reply has already said "Target error!!".
            if (Version.back != Colour::Ok) {
                SeqStep = kFinish;
                return;
            }
            if (profile_.hasCommonParam) {
                ReplyFlag = 0;
                if (!Send(wire::WriteCommonCommand(CommonParam), timer)) return;
            }
            break;
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 11: {
            if (ReplyFlag == 0) {
                AbandonSequence();
                return;
            }
            const int channel = (step - 4) / 2;
            const bool load = (step - 4) % 2 == 0;
            if (load) CurChannel = channel;
            ReplyFlag = 0;
            const std::string command =
                load ? wire::TestCommand(ChannelValues(channel)) : wire::WriteCommand(channel);
            if (!Send(command, timer)) return;
            break;
        }
        default:
            EnableButtonsAfterSequence();
            WriteAllTimer.Stop();
            // An answer that came after its tick had given up does not make
            // the write good: the channels after it were never written.
            if (ReplyFlag == 0 || SeqAbandoned) T_Message.text = kNotResponse;
            if (!SeqAbandoned && Check1.value == 1 && C_Message.text.empty() &&
                T_Message.text.empty()) {
                AppendLogRecord();
            }
            break;
    }
    ++SeqStep;
}

}  // namespace window
