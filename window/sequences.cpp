// The module buttons start the engine's sequences; what the engine reports
// is shown here in the colours and texts the operators know.
#include "form_model.h"
#include "text_encoding.h"

namespace window {

namespace {

constexpr std::size_t kTermLimit = 1000;

constexpr const char* kEchoedGreen =
    "Green: the module echoed this frequency as it was written (Write).";
constexpr const char* kReadBackGreen =
    "Green: the module read back this frequency from its memory (Check).";

}  // namespace

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

void FormModel::OnGetInfoSWClick() {
    // The step counter is shared: a second sequence would take it over.
    if (SequenceRunning()) return;
    if (!engine_.StartIdentity()) return;  // the port failed; recovered
    DisableModuleButtons();
}

void FormModel::OnChTestSWClick(int index) {
    // Get Info., Check and Write wait until the test has ended, so none of
    // them restarts the step counter the test shares with them. The Test
    // buttons stay usable: a click restarts the test for that channel.
    engine_.StartTest(index);
    GetInfoSW.enabled = false;
    ChCheckSW.enabled = false;
    ChWriteSW.enabled = false;
    TestRunning = true;
}

void FormModel::OnChCheckSWClick() {
    if (SequenceRunning()) return;
    ResetChannelColours();
    DisableModuleButtons();
    engine_.StartCheck();
}

void FormModel::OnChWriteSWClick() {
    if (SequenceRunning()) return;
    ResetChannelColours();
    DisableModuleButtons();
    engine_.StartWrite();
}

// --- What the engine reports --------------------------------------------------

void FormModel::OnReceived(const std::string& bytes) {
    AppendToTerm(bytes);
}

void FormModel::AppendToTerm(const std::string& received) {
    // Term shows the received bytes one character each and keeps its last
    // 1000. Only the new bytes are converted; the oldest characters (one or
    // two UTF-8 bytes each) are cut from the front.
    AppendLatin1AsUtf8(Term.text, received);
    termChars_ += received.size();
    if (termChars_ > kTermLimit) {
        std::size_t cut = 0;
        for (std::size_t drop = termChars_ - kTermLimit; drop > 0; --drop) {
            cut += (static_cast<unsigned char>(Term.text[cut]) & 0x80) ? 2 : 1;
        }
        Term.text.erase(0, cut);
        termChars_ = kTermLimit;
    }
}

void FormModel::OnStarted(module::Sequence sequence) {
    if (sequence == module::Sequence::Write) L_Message.text.clear();
}

void FormModel::OnIdentityCleared() {
    ClearIdentity();
}

void FormModel::OnVersion(const std::string& version, bool kindMatches) {
    Version.text = Latin1ToUtf8(version);
    Serial.text.clear();
    Serial.back = Colour::Blank;
    if (kindMatches) {
        Version.back = Colour::Ok;
    } else {
        Version.back = Colour::Blank;
        EnableGetInfoOnly();
    }
}

void FormModel::OnIdentity(const module::Identity& identity) {
    Serial.text = identity.serial;
    Serial.back = Colour::Ok;
    FactoryDate.text = Latin1ToUtf8(identity.testDate);
    FactoryDate.back = Colour::Ok;
    if (profile_.HasOffsetBox()) {
        FOffsetV.text = Latin1ToUtf8(identity.offset);
        FOffsetV.back = Colour::Ok;
    }
}

void FormModel::MarkChannelConfirmed(int channel, const char* meaning) {
    const auto c = static_cast<std::size_t>(channel);
    Frequency[c].back = Colour::Ok;
    GreenMeaning[c] = meaning;
    if (profile_.HasCounters()) ChStep[c].back = Colour::Ok;
}

void FormModel::OnChannelEchoed(int channel, bool matches) {
    if (matches) MarkChannelConfirmed(channel, kEchoedGreen);
}

void FormModel::OnChannelReadBack(int channel, bool matches, const std::vector<std::string>&) {
    if (matches) MarkChannelConfirmed(channel, kReadBackGreen);
}

void FormModel::OnMessage(module::Line line, const std::string& text) {
    (line == module::Line::Identity ? C_Message : T_Message).text = text;
}

void FormModel::OnPortFailed(const std::string& reason) {
    PortErrorRecovery(reason);
}

void FormModel::OnFinished(const module::Result& r) {
    using module::Sequence;
    // A failed port has been recovered from already; a stopped sequence
    // ends silently.
    if (r.outcome == module::Outcome::PortError || r.outcome == module::Outcome::Stopped) return;
    switch (r.sequence) {
        case Sequence::Identity:
            if (!port_.IsOpen()) {
                DisableModuleButtons();
            } else if (r.abandoned || Serial.text.empty() || Serial.back != Colour::Ok) {
                EnableGetInfoOnly();
            } else {
                EnableModuleButtons();
            }
            break;
        case Sequence::Test:
            if (TestRunning) EnableModuleButtons();
            break;
        case Sequence::Check:
            EnableButtonsAfterSequence();
            break;
        case Sequence::Write:
            EnableButtonsAfterSequence();
            if (!r.abandoned && Check1.value == 1 && C_Message.text.empty() &&
                T_Message.text.empty()) {
                AppendLogRecord();
            }
            break;
    }
}

}  // namespace window
