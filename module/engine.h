#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "kinds.h"
#include "serial_port.h"
#include "timer.h"

namespace module {

// The four timer-driven conversations with a module.
enum class Sequence { Identity, Test, Check, Write };

enum class Outcome {
    Ok,
    NoResponse,   // the module did not answer in time
    Discrepancy,  // it answered, but not with what was written or planned
    WrongKind,    // a module of another kind answered
    PortError,    // the port failed; not the module's fault
    Stopped,      // ended by the front end (Stop, a reopened port)
};

const char* OutcomeName(Outcome outcome);  // "ok", "no response", ...

// The two lines the protocol reports on: the module's identity, and its
// channels.
enum class Line { Identity, Channels };

// What the identity reply said.
struct Identity {
    std::string serial;    // eight decimal digits, as the windows show it
    bool serialValid = false;  // the reply held six hex digits where the serial goes
    std::string testDate;  // raw bytes of the reply (Latin-1)
    std::string offset;    // kinds with an offset only
};

struct Result {
    Sequence sequence = Sequence::Identity;
    Outcome outcome = Outcome::Ok;
    int channel = -1;  // the channel a test ran on
    // A reply check gave up on the module (the sequence went to its finish).
    bool abandoned = false;
    // ... and an answer came after all, too late to count.
    bool late = false;
    // What went wrong, as the module's messages say it ("Flash Write Error!!").
    std::string message;
    std::array<bool, kMaxChannels> confirmed{};  // channels echoed or read back as planned
};

// What the engine tells its front end, in the order it happens. Every
// handler is called from within an engine call; none may call back into a
// Start... of the same engine except OnFinished.
class Listener {
  public:
    virtual ~Listener() = default;
    virtual void OnReceived(const std::string& bytes) { (void)bytes; }
    // Tick 0 of a sequence.
    virtual void OnStarted(Sequence sequence) { (void)sequence; }
    virtual void OnIdentityCleared() {}
    // version: the reply's raw bytes at positions 4-8.
    virtual void OnVersion(const std::string& version, bool kindMatches) {
        (void)version;
        (void)kindMatches;
    }
    virtual void OnIdentity(const Identity& identity) { (void)identity; }
    virtual void OnChannelEchoed(int channel, bool matches) {
        (void)channel;
        (void)matches;
    }
    virtual void OnChannelReadBack(int channel, bool matches, const std::vector<std::string>& values) {
        (void)channel;
        (void)matches;
        (void)values;
    }
    // A line's text changed; empty clears it.
    virtual void OnMessage(Line line, const std::string& text) {
        (void)line;
        (void)text;
    }
    // The port failed (a write, RTS, or the device went away): every
    // sequence has stopped and the port is closed.
    virtual void OnPortFailed(const std::string& reason) { (void)reason; }
    virtual void OnFinished(const Result& result) { (void)result; }
};

// One module on one port: the receive buffer, the reply dispatch and the
// four sequences, each writing one command a tick and judging the answer on
// a later tick. It knows no window and no station; a front end passes the
// register rows to write or compare and maps the events to what it shows.
class Engine {
  public:
    // rows(channel): the register values of a channel as they stand now;
    // asked when a command goes out and again when its answer is compared.
    using Rows = std::function<std::vector<std::string>(int channel)>;

    Engine(const Kind& kind, wire::SerialPort& port, TimerBackend& timers, Rows rows,
           Listener& listener);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    const Kind& ModuleKind() const { return *kind_; }
    // Talks to modules of another kind from the next sequence on.
    void SetKind(const Kind& kind) { kind_ = &kind; }

    // Raises RTS (which also proves the port works) and starts the identity
    // read; false when the port failed.
    bool StartIdentity();
    // Restarts a running test on another channel.
    void StartTest(int channel);
    void StartCheck();
    void StartWrite();

    void OnTimer(TimerId id);
    void OnPortEvent(wire::CommEvent event);

    // Ends every sequence where it stands: nothing more is sent or reported.
    void Stop();
    // A new connection: what the module said before is forgotten.
    void PortOpened();

    // What the module has said since the last identity was cleared.
    const std::string& Version() const { return version_; }
    bool KindMatches() const { return kindMatches_; }
    const Identity& LastIdentity() const { return identity_; }
    bool HasSerial() const { return hasSerial_; }

    // The sequence timers, named as the windows name them.
    Timer GetInfoTimer{TimerId::GetInfoTimer, 200};
    Timer TestTimer{TimerId::TestTimer, 200};
    Timer ReadAllTimer{TimerId::ReadAllTimer, 100};
    Timer WriteAllTimer{TimerId::WriteAllTimer, 100};

    // The sequence state as the windows name it; open for tests and the
    // fuzz target, which start a reply handler from a given state.
    struct SequenceState {
        std::string rxBuffer;  // RxBuffer
        int replyFlag = 0;     // ReplyFlag
        int seqStep = 0;       // SeqStep
        int curChannel = 0;    // CurChannel
    };
    SequenceState& State() { return state_; }
    const SequenceState& State() const { return state_; }

  private:
    void OnGetInfoTick();
    void OnTestTick();
    void OnReadAllTick();
    void OnWriteAllTick();
    void Begin(Sequence sequence);
    void Finish(Sequence sequence, Timer& timer);
    void Abandon();
    bool Send(const std::string& bytes);
    void Fail();
    void ClearIdentity();
    void SetMessage(Line line, const std::string& text);
    int LineSpeed() const;

    bool Dispatch(const std::string& line);
    void OnFlashClearReply(const std::string& line);
    void OnIdentityReply(const std::string& line);
    void OnCommonParamReply(const std::string& line);
    bool OnReadBackReply(const std::string& line);
    bool OnTestEchoReply(const std::string& line);
    bool OnVersionReply(const std::string& line);
    bool OnWriteReply(const std::string& line);

    const Kind* kind_;
    wire::SerialPort& port_;
    Rows rows_;
    Listener& listener_;

    SequenceState state_;
    // Set when a reply check gave up on the module (SeqStep set to 100): the
    // finish must report no response even if the answer turns up meanwhile.
    bool abandoned_ = false;
    bool late_ = false;  // a reply arrived after the sequence gave up
    bool wrongKind_ = false;

    std::string version_;
    bool kindMatches_ = false;
    bool hasSerial_ = false;
    Identity identity_;
    std::array<std::string, 2> messages_;  // by Line
    std::array<bool, kMaxChannels> confirmed_{};
};

}  // namespace module
