// The module's protocol: one command a tick, its answer judged on a later
// tick; the reply dispatch raises ReplyFlag in between. SeqStep 100 makes
// the next tick finish.
#include "engine.h"

#include <cmath>
#include <cstdio>

#include "commands.h"
#include "leading_number.h"
#include "reply_lines.h"

namespace module {

namespace {

constexpr int kFinish = 100;
constexpr const char* kNotResponse = "Not Response!!";
constexpr const char* kNoIdentity = "Not Response!! (or target error)";

bool StartsWith(const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
}

// A decimal channel field as a channel index, or -1 when it names no
// channel of the kind (too high, negative or not a whole number).
int DecimalChannel(std::string_view field, int channels) {
    const double c = channel::LeadingNumber(field);
    if (!(c >= 0 && c <= channels - 1) || c != std::floor(c)) return -1;
    return static_cast<int>(c);
}

int HexChannel(std::string_view field, int channels) {
    const long long c = channel::LeadingHexNumber(field);
    return c <= channels - 1 ? static_cast<int>(c) : -1;
}

bool TwoHexDigits(std::string_view field) {
    if (field.size() != 2) return false;
    for (const char c : field) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex) return false;
    }
    return true;
}

std::string Planned(const std::vector<std::string>& rows, int k) {
    const auto i = static_cast<std::size_t>(k - 1);
    return i < rows.size() ? rows[i] : std::string();
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok:
            return "ok";
        case Outcome::NoResponse:
            return "no response";
        case Outcome::Discrepancy:
            return "discrepancy";
        case Outcome::WrongKind:
            return "wrong kind";
        case Outcome::PortError:
            return "port error";
        case Outcome::Stopped:
            break;
    }
    return "stopped";
}

Engine::Engine(const Kind& kind, wire::SerialPort& port, TimerBackend& timers, Rows rows,
               Listener& listener)
    : kind_(&kind), port_(port), rows_(std::move(rows)), listener_(listener) {
    for (Timer* t : {&GetInfoTimer, &TestTimer, &ReadAllTimer, &WriteAllTimer}) t->Attach(&timers);
}

int Engine::LineSpeed() const {
    return port_.Settings().baudRate;
}

void Engine::Stop() {
    for (Timer* t : {&GetInfoTimer, &TestTimer, &ReadAllTimer, &WriteAllTimer}) t->Stop();
}

void Engine::PortOpened() {
    // A sequence left running by a close must not carry on over the new
    // connection: it would write the flash of whatever module is there now.
    Stop();
    version_.clear();
    kindMatches_ = false;
    hasSerial_ = false;
    identity_ = {};
}

void Engine::ClearIdentity() {
    version_.clear();
    kindMatches_ = false;
    hasSerial_ = false;
    identity_ = {};
    listener_.OnIdentityCleared();
}

void Engine::SetMessage(Line line, const std::string& text) {
    messages_[static_cast<std::size_t>(line)] = text;
    listener_.OnMessage(line, text);
}

void Engine::Begin(Sequence sequence) {
    state_.seqStep = 0;
    abandoned_ = false;
    late_ = false;
    wrongKind_ = false;
    if (sequence == Sequence::Check || sequence == Sequence::Write) confirmed_ = {};
}

void Engine::Abandon() {
    abandoned_ = true;
    state_.seqStep = kFinish;
}

bool Engine::Send(const std::string& bytes) {
    if (port_.Write(bytes)) return true;
    Fail();
    return false;
}

void Engine::Fail() {
    Sequence running = Sequence::Identity;
    bool wasRunning = false;
    for (auto [timer, sequence] : {std::pair<Timer*, Sequence>{&GetInfoTimer, Sequence::Identity},
                                   {&TestTimer, Sequence::Test},
                                   {&ReadAllTimer, Sequence::Check},
                                   {&WriteAllTimer, Sequence::Write}}) {
        if (timer->Enabled() && !wasRunning) {
            running = sequence;
            wasRunning = true;
        }
    }
    const std::string reason = port_.LastError();
    // A vanished device is noticed between ticks: whatever ran stops too.
    Stop();
    if (port_.IsOpen()) port_.Close();
    listener_.OnPortFailed(reason);
    if (wasRunning) {
        Result r;
        r.sequence = running;
        r.outcome = Outcome::PortError;
        r.channel = state_.curChannel;
        r.message = reason;
        r.confirmed = confirmed_;
        listener_.OnFinished(r);
    }
}

void Engine::Finish(Sequence sequence, Timer& timer) {
    timer.Stop();
    Result r;
    r.sequence = sequence;
    r.channel = state_.curChannel;
    r.abandoned = abandoned_;
    r.late = late_;
    r.confirmed = confirmed_;
    // Each sequence answers for the lines it clears when it starts: the
    // identity read leaves the channel line as an earlier check left it.
    const std::string none;
    const std::string& channels =
        sequence == Sequence::Identity ? none : messages_[static_cast<std::size_t>(Line::Channels)];
    const std::string& identity =
        sequence == Sequence::Test ? none : messages_[static_cast<std::size_t>(Line::Identity)];
    r.message = !channels.empty() ? channels : identity;
    bool allConfirmed = true;
    for (int c = 0; c < kind_->channelCount && c < kMaxChannels; ++c) {
        allConfirmed = allConfirmed && confirmed_[static_cast<std::size_t>(c)];
    }
    const bool answered = !abandoned_ && state_.replyFlag != 0;
    const bool needsIdentity = sequence == Sequence::Identity || sequence == Sequence::Write;
    if (wrongKind_ && needsIdentity) {
        r.outcome = Outcome::WrongKind;
    } else if (!answered || (needsIdentity && (version_.empty() || !hasSerial_))) {
        r.outcome = Outcome::NoResponse;
        if (r.message.empty()) r.message = kNotResponse;
    } else if (!channels.empty() || !identity.empty()) {
        r.outcome = Outcome::Discrepancy;
    } else if ((sequence == Sequence::Check || sequence == Sequence::Write) && !allConfirmed) {
        r.outcome = Outcome::Discrepancy;
        for (int c = 0; c < kind_->channelCount && c < kMaxChannels; ++c) {
            if (!confirmed_[static_cast<std::size_t>(c)]) {
                r.message = "Ch" + std::to_string(c) + " not confirmed";
                break;
            }
        }
    } else {
        r.outcome = Outcome::Ok;
    }
    listener_.OnFinished(r);
}

// --- Identity read ----------------------------------------------------------

bool Engine::StartIdentity() {
    // Raising RTS also proves the port still works.
    if (!port_.SetRts(true)) {
        Fail();
        return false;
    }
    Begin(Sequence::Identity);
    GetInfoTimer.Start();
    return true;
}

void Engine::OnGetInfoTick() {
    switch (state_.seqStep) {
        case 0:
            listener_.OnStarted(Sequence::Identity);
            ClearIdentity();
            SetMessage(Line::Identity, "");
            state_.replyFlag = 0;
            if (!Send(wire::kLeadInByte)) return;
            break;
        case 1:
            // A module that answered the lead-in byte with its version is not
            // asked again.
            if (state_.replyFlag == 0 || version_.empty()) {
                if (!Send(wire::VersionCommand())) return;
            }
            break;
        case 2:
            if (state_.replyFlag == 0) {
                Abandon();
                return;
            }
            state_.replyFlag = 0;
            if (!Send(wire::IdentityCommand())) return;
            break;
        default:
            if (abandoned_ || state_.replyFlag == 0 || version_.empty() || !hasSerial_) {
                SetMessage(Line::Identity, kNoIdentity);
            }
            ++state_.seqStep;
            Finish(Sequence::Identity, GetInfoTimer);
            return;
    }
    ++state_.seqStep;
}

// --- Channel test -----------------------------------------------------------

void Engine::StartTest(int channel) {
    state_.curChannel = channel;
    SetMessage(Line::Channels, "");
    Begin(Sequence::Test);
    TestTimer.SetInterval(50);
    TestTimer.Start();
}

void Engine::OnTestTick() {
    if (state_.seqStep == 0) {
        listener_.OnStarted(Sequence::Test);
        SetMessage(Line::Channels, "");
        state_.replyFlag = 0;
        if (!Send(wire::TestCommand(rows_(state_.curChannel)))) return;
        TestTimer.SetInterval(wire::TickPeriod(LineSpeed()));
        state_.seqStep = 1;
        return;
    }
    if (state_.replyFlag == 0) SetMessage(Line::Channels, kNotResponse);
    if (kind_->testEndsWithStar) {
        if (!port_.SetRts(false)) {
            Fail();
            return;
        }
        if (!Send(wire::kEndOfTest)) return;
    }
    state_.seqStep = 2;
    Finish(Sequence::Test, TestTimer);
}

// --- Read-back check --------------------------------------------------------

void Engine::StartCheck() {
    Begin(Sequence::Check);
    ReadAllTimer.SetInterval(wire::TickPeriod(LineSpeed(), 0.7));
    ReadAllTimer.Start();
}

void Engine::OnReadAllTick() {
    // The transmitter reads its common parameters first.
    const int first = kind_->hasCommonParam ? 1 : 0;
    const int finish = first + kind_->channelCount;
    if (state_.seqStep < 0 || state_.seqStep >= finish) {
        if (state_.replyFlag == 0 || abandoned_) SetMessage(Line::Channels, kNotResponse);
        ++state_.seqStep;
        Finish(Sequence::Check, ReadAllTimer);
        return;
    }
    if (state_.seqStep == 0) {
        listener_.OnStarted(Sequence::Check);
        SetMessage(Line::Identity, "");
        SetMessage(Line::Channels, "");
    } else if (state_.replyFlag == 0) {
        Abandon();
        return;
    }
    state_.replyFlag = 0;
    const std::string command = state_.seqStep < first ? wire::ReadCommonCommand()
                                                       : wire::ReadCommand(state_.seqStep - first);
    if (!Send(command)) return;
    ++state_.seqStep;
}

// --- Channel write ----------------------------------------------------------

void Engine::StartWrite() {
    Begin(Sequence::Write);
    WriteAllTimer.SetInterval(wire::TickPeriod(LineSpeed()));
    WriteAllTimer.Start();
}

void Engine::OnWriteAllTick() {
    const int step = state_.seqStep;
    // From tick 4 on each channel is handed over and stored, two ticks a
    // channel.
    if (step >= 4 && step < 4 + 2 * kind_->channelCount) {
        if (state_.replyFlag == 0) {
            Abandon();
            return;
        }
        const int channel = (step - 4) / 2;
        const bool load = (step - 4) % 2 == 0;
        if (load) state_.curChannel = channel;
        state_.replyFlag = 0;
        const std::string command =
            load ? wire::TestCommand(rows_(channel)) : wire::WriteCommand(channel);
        if (!Send(command)) return;
        ++state_.seqStep;
        return;
    }
    switch (step) {
        case 0:
            listener_.OnStarted(Sequence::Write);
            ClearIdentity();
            SetMessage(Line::Identity, "");
            SetMessage(Line::Channels, "");
            state_.replyFlag = 0;
            if (!Send(wire::kLeadInByte)) return;
            break;
        case 1:
            if (version_.empty() && !Send(wire::VersionCommand())) return;
            break;
        case 2:
            if (!Send(wire::IdentityCommand())) return;
            break;
        case 3:
            if (state_.replyFlag == 0 || version_.empty() || !hasSerial_) {
                SetMessage(Line::Channels, kNotResponse);
                Abandon();
                return;
            }
            // A module of another kind gets nothing stored; the version reply
            // has already said "Target error!!".
            if (!kindMatches_) {
                state_.seqStep = kFinish;
                return;
            }
            if (kind_->hasCommonParam) {
                state_.replyFlag = 0;
                if (!Send(wire::WriteCommonCommand(kind_->commonParam))) return;
            }
            break;
        default:
            // An answer that came after its tick had given up does not make
            // the write good: the channels after it were never written.
            if (state_.replyFlag == 0 || abandoned_) SetMessage(Line::Channels, kNotResponse);
            ++state_.seqStep;
            Finish(Sequence::Write, WriteAllTimer);
            return;
    }
    ++state_.seqStep;
}

void Engine::OnTimer(TimerId id) {
    switch (id) {
        case TimerId::GetInfoTimer:
            OnGetInfoTick();
            break;
        case TimerId::TestTimer:
            OnTestTick();
            break;
        case TimerId::ReadAllTimer:
            OnReadAllTick();
            break;
        case TimerId::WriteAllTimer:
            OnWriteAllTick();
            break;
        default:
            break;
    }
}

// --- Replies -----------------------------------------------------------------

void Engine::OnPortEvent(wire::CommEvent event) {
    if (event == wire::CommEvent::Lost) {
        // A pulled cable is a port error now, not a "Not Response!!" at the
        // next tick. The failure may have been handled already, through a
        // write that failed on the dead device.
        if (port_.IsOpen()) Fail();
        return;
    }
    const std::string received = port_.ReadAll();
    listener_.OnReceived(received);
    state_.rxBuffer += received;
    std::size_t consumed = 0;
    while (auto line = wire::CutReplyLine(state_.rxBuffer, consumed)) {
        if (!Dispatch(*line)) break;
    }
    state_.rxBuffer.erase(0, consumed);
    wire::BoundReceivedText(state_.rxBuffer);
}

// The order in which a line is offered to the handlers; false stops the
// line loop.
bool Engine::Dispatch(const std::string& line) {
    if (abandoned_) late_ = true;
    if (StartsWith(line, "*C")) OnFlashClearReply(line);
    if (StartsWith(line, "*D")) OnIdentityReply(line);
    if (kind_->hasCommonParam && StartsWith(line, "*M")) OnCommonParamReply(line);
    if (StartsWith(line, "*R") && !OnReadBackReply(line)) return false;
    if (StartsWith(line, "*T") && !OnTestEchoReply(line)) return false;
    if (StartsWith(line, "*V") && !OnVersionReply(line)) return false;
    if (StartsWith(line, "*W Err")) SetMessage(Line::Channels, kind_->writeErrorReplyMessage);
    if (StartsWith(line, "*W") && !OnWriteReply(line)) return false;
    return true;
}

void Engine::OnFlashClearReply(const std::string& line) {
    if (line.size() >= 8) {
        const Line on = kind_->flashClearOnChannelLine ? Line::Channels : Line::Identity;
        const std::string_view result = wire::Field(line, 4, 5);
        if (result == "00") SetMessage(on, "");
        if (result == "01") SetMessage(on, kind_->flashClearErrorMessage);
    }
    state_.replyFlag = 1;
}

void Engine::OnIdentityReply(const std::string& line) {
    const std::string_view high = wire::Field(line, 4, 5);
    const std::string_view middle = wire::Field(line, 6, 7);
    const std::string_view low = wire::Field(line, 8, 9);
    const long long serial = 65536 * channel::LeadingHexNumber(high) +
                             256 * channel::LeadingHexNumber(middle) +
                             channel::LeadingHexNumber(low);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%08lld", serial);
    identity_.serial = digits;
    // What a reply without the module's number shows is no number: a
    // station must never take it for one.
    identity_.serialValid = TwoHexDigits(high) && TwoHexDigits(middle) && TwoHexDigits(low);
    identity_.testDate = std::string(wire::Field(line, 11, 20));
    identity_.offset = kind_->hasOffset ? std::string(wire::Field(line, 25, 26)) : std::string();
    hasSerial_ = true;
    listener_.OnIdentity(identity_);
    state_.replyFlag = 1;
}

void Engine::OnCommonParamReply(const std::string& line) {
    if (StartsWith(line, "*M Err")) SetMessage(Line::Channels, "Flash Write Error!");
    if (line.compare(0, 11, "*M " + kind_->commonParam) != 0) {
        SetMessage(Line::Channels, "Common Parameter Error!");
    }
    state_.replyFlag = 1;
}

bool Engine::OnReadBackReply(const std::string& line) {
    const int c = HexChannel(wire::Field(line, 4, 5), kind_->channelCount);
    if (c < 0) return false;
    state_.replyFlag = 1;
    const std::vector<std::string> planned = rows_(c);
    std::vector<std::string> values;
    for (int k = 1; k <= kind_->RegisterRows(); ++k) {
        values.emplace_back(wire::Value(line, 7, k));
    }
    for (int k = 1; k <= kind_->RegisterRows(); ++k) {
        if (values[static_cast<std::size_t>(k - 1)] != Planned(planned, k)) {
            SetMessage(Line::Channels, "Discrepancy!!");
            listener_.OnChannelReadBack(c, false, values);
            return false;
        }
    }
    confirmed_[static_cast<std::size_t>(c)] = true;
    listener_.OnChannelReadBack(c, true, values);
    return true;
}

bool Engine::OnTestEchoReply(const std::string& line) {
    state_.replyFlag = 1;
    const std::vector<std::string> planned = rows_(state_.curChannel);
    for (int k = 1; k <= kind_->testEchoValues; ++k) {
        if (wire::Value(line, static_cast<std::size_t>(kind_->testEchoFirstPos), k) !=
            Planned(planned, k)) {
            SetMessage(Line::Channels, "Test Data error!!");
            return false;
        }
    }
    return true;
}

bool Engine::OnVersionReply(const std::string& line) {
    if (line.size() < 19) return true;
    version_ = std::string(wire::Field(line, 4, 8));
    hasSerial_ = false;
    identity_ = {};
    kindMatches_ = line[3] == kind_->letter;
    wrongKind_ = !kindMatches_;
    listener_.OnVersion(version_, kindMatches_);
    if (kindMatches_) {
        state_.replyFlag = 1;
        SetMessage(Line::Identity, "");
    } else {
        SetMessage(Line::Identity, "Target error!!");
    }
    return true;
}

bool Engine::OnWriteReply(const std::string& line) {
    const std::string_view field = wire::Field(line, 4, 5);
    const int c = kind_->writeChannelHex ? HexChannel(field, kind_->channelCount)
                                         : DecimalChannel(field, kind_->channelCount);
    if (c < 0) return false;
    state_.replyFlag = 1;
    const std::vector<std::string> planned = rows_(state_.curChannel);
    for (int k = 1; k <= kind_->writeEchoValues; ++k) {
        if (wire::Value(line, 7, k) != Planned(planned, k)) {
            SetMessage(Line::Channels, "Flash Write Error!!");
            listener_.OnChannelEchoed(c, false);
            return false;
        }
    }
    confirmed_[static_cast<std::size_t>(c)] = true;
    listener_.OnChannelEchoed(c, true);
    return true;
}

}  // namespace module
