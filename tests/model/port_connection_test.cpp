// The serial line as the operator handles it: open, close, the texts that are
// no port name, open failures, the port-error recovery of a running sequence
// and the tick periods taken from the line speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Buttons;
using testing_support::ColourName;
using testing_support::Harness;
using window::Colour;
using window::TimerId;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

std::string Describe(const window::Control& c) {
    return "[" + c.text + "|" + ColourName(c.back) + (c.enabled ? "|on" : "|off") + "]";
}

// Every control a port operation could touch, but P_Message.
std::string Snapshot(const window::FormModel& m) {
    std::ostringstream s;
    s << "Combo1" << Describe(m.Combo1) << " ComStart" << Describe(m.ComStart) << " C"
      << Describe(m.C_Message) << " T" << Describe(m.T_Message) << " L" << Describe(m.L_Message)
      << " Version" << Describe(m.Version) << " Serial" << Describe(m.Serial) << " Date"
      << Describe(m.FactoryDate) << " Offset" << Describe(m.FOffsetV) << " GetInfo"
      << Describe(m.GetInfoSW) << " Check" << Describe(m.ChCheckSW) << " Write"
      << Describe(m.ChWriteSW);
    for (int i = 0; i < 4; ++i) {
        const auto n = static_cast<std::size_t>(i);
        s << " Ch" << i << Describe(m.Frequency[n]) << Describe(m.ChStep[n])
          << Describe(m.ChTestSW[n]);
    }
    s << " SeqStep=" << m.Engine().State().seqStep << " ReplyFlag=" << m.Engine().State().replyFlag;
    return s.str();
}

// Leaves a mark on every control that opening resets, so a test can see
// which ones it reset.
void MarkEverything(window::FormModel& m) {
    m.P_Message.text = "p";
    m.P_Message.toolTip = "old reason";
    m.C_Message.text = "c";
    m.T_Message.text = "t";
    m.L_Message.text = "l";
    for (window::Control* c : {&m.Version, &m.Serial, &m.FactoryDate, &m.FOffsetV}) {
        c->text = "x";
        c->back = Colour::Ok;
    }
    const Colour marks[4] = {Colour::Ok, Colour::RangeError, Colour::Inexact, Colour::Ok};
    for (std::size_t i = 0; i < 4; ++i) {
        m.Frequency[i].back = marks[i];
        m.ChStep[i].back = Colour::Ok;
    }
}

class EachTool : public ::testing::TestWithParam<std::string> {
  protected:
    bool Recv() const { return GetParam() == "recvsetup"; }
    std::string NotOpen() const { return Recv() ? "COM Not Open!" : "COM Not Open!!"; }
};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(EachTool, OpeningPreparesTheWindow) {
    Harness h(Profile(GetParam()));
    h.port.openable = {3, 7};
    h.StartUp();
    auto& m = h.model;
    ASSERT_EQ(m.Combo1.text, "COM3");
    m.OnCombo1Change("COM7");
    MarkEverything(m);
    const std::vector<std::string> texts = {m.Frequency[0].text, m.Frequency[1].text,
                                            m.Frequency[2].text, m.Frequency[3].text};
    const std::size_t attempts = h.port.openAttempts.size();

    m.OnComStartClick();

    EXPECT_TRUE(h.port.open);
    EXPECT_EQ(h.port.portNumber, 7);
    EXPECT_TRUE(h.port.dtr);
    EXPECT_TRUE(h.port.rts);
    EXPECT_EQ(h.port.openAttempts.size(), attempts + 1);
    EXPECT_EQ(h.port.TakeWritten(), "");  // opening says nothing to the module

    for (const auto* msg : {&m.P_Message, &m.C_Message, &m.T_Message, &m.L_Message}) {
        EXPECT_EQ(msg->text, "");
    }
    EXPECT_EQ(m.P_Message.toolTip, "");
    for (const auto* box : {&m.Version, &m.Serial, &m.FactoryDate}) {
        EXPECT_EQ(box->text, "");
        EXPECT_EQ(box->back, Colour::Blank);
    }
    // FOffsetV exists in sendsetup only.
    EXPECT_EQ(m.FOffsetV.text, Recv() ? "x" : "");
    EXPECT_EQ(m.FOffsetV.back, Recv() ? Colour::Ok : Colour::Blank);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m.Frequency[i].back, Colour::Normal) << i;
        EXPECT_EQ(m.Frequency[i].text, texts[i]) << i;
        EXPECT_EQ(m.ChStep[i].back, Recv() ? Colour::Blank : Colour::Ok) << i;
    }
    EXPECT_EQ(m.ComStart.text, "Close");
    EXPECT_FALSE(m.Combo1.enabled);
    EXPECT_EQ(m.Combo1.back, Colour::Ok);
    EXPECT_EQ(m.Combo1.text, "COM7");
    EXPECT_EQ(Buttons(m), "----G--");
}

TEST_P(EachTool, EveryPortNameUpToCom255Opens) {
    const int numbers[] = {1, 9, 16, 17, 100, 255};
    for (const int n : numbers) {
        Harness h(Profile(GetParam()));
        h.port.openable = {1, n};
        h.StartUp();
        h.model.OnCombo1Change("COM" + std::to_string(n));
        h.model.OnComStartClick();
        EXPECT_TRUE(h.port.open) << n;
        EXPECT_EQ(h.port.portNumber, n);
        EXPECT_EQ(h.port.openAttempts.back(), n);
        EXPECT_EQ(h.model.ComStart.text, "Close") << n;
        EXPECT_EQ(h.model.P_Message.text, "") << n;
    }
}

TEST_P(EachTool, ATextThatIsNoPortNameOpensNothing) {
    const char* texts[] = {"COM256", "COM300", "COM0",  "COM03", "com3",  "Com3", "foo",
                           "",       " COM3",  "COM3 ", "COM-3", "COM+3", "COM",  "COM3x"};
    for (const char* text : texts) {
        Harness h(Profile(GetParam()));
        h.port.openable = {3};
        h.StartUp();
        auto& m = h.model;
        // COM3 was used before: it must not be the one that opens now.
        h.OpenPort();
        m.OnComStartClick();
        ASSERT_FALSE(h.port.open);
        m.OnCombo1Change(text);
        MarkEverything(m);
        const std::string before = Snapshot(m);
        const std::size_t attempts = h.port.openAttempts.size();

        m.OnComStartClick();

        EXPECT_FALSE(h.port.open) << '"' << text << '"';
        EXPECT_EQ(h.port.openAttempts.size(), attempts) << '"' << text << '"';
        EXPECT_EQ(m.P_Message.text, NotOpen()) << '"' << text << '"';
        EXPECT_NE(m.P_Message.toolTip, "") << '"' << text << '"';
        EXPECT_NE(m.P_Message.toolTip, "old reason") << '"' << text << '"';
        EXPECT_EQ(Snapshot(m), before) << '"' << text << '"';
    }
}

TEST_P(EachTool, AFailedOpenChangesNothingElse) {
    struct Case {
        const char* name;
        std::function<void(testing_support::FakeSerialPort&)> fault;
        bool dtrRaised;
        bool rtsRaised;
        bool openTried;
    };
    const Case cases[] = {
        {"DTR fails", [](auto& p) { p.failDtr = true; }, false, false, false},
        {"RTS fails", [](auto& p) { p.failRts = true; }, true, false, false},
        {"open fails", [](auto& p) { p.openable.clear(); }, true, true, true},
    };
    for (const Case& c : cases) {
        Harness h(Profile(GetParam()));
        h.port.openable = {3};
        h.StartUp();
        auto& m = h.model;
        c.fault(h.port);
        MarkEverything(m);
        const std::string before = Snapshot(m);
        const std::size_t attempts = h.port.openAttempts.size();

        // DTR, then RTS, then open: each failure stops the ones after it.
        m.OnComStartClick();

        EXPECT_FALSE(h.port.open) << c.name;
        EXPECT_EQ(h.port.dtr, c.dtrRaised) << c.name;
        EXPECT_EQ(h.port.rts, c.rtsRaised) << c.name;
        EXPECT_EQ(h.port.openAttempts.size(), attempts + (c.openTried ? 1 : 0)) << c.name;
        EXPECT_EQ(m.P_Message.text, NotOpen()) << c.name;
        EXPECT_NE(m.P_Message.toolTip, "") << c.name;
        EXPECT_NE(m.P_Message.toolTip, "old reason") << c.name;
        EXPECT_EQ(Snapshot(m), before) << c.name;

        // With the fault gone the next click opens and clears the message.
        h.port.failDtr = h.port.failRts = false;
        h.port.openable = {3};
        m.OnComStartClick();
        EXPECT_TRUE(h.port.open) << c.name;
        EXPECT_EQ(m.P_Message.text, "") << c.name;
        EXPECT_EQ(m.P_Message.toolTip, "") << c.name;
    }
}

TEST_P(EachTool, ClosingReleasesThePortAndLocksTheModuleButtons) {
    Harness h(Profile(GetParam()));
    h.port.openable = {1};
    h.StartUp();
    auto& m = h.model;
    h.OpenPort();
    m.EnableModuleButtons();
    MarkEverything(m);

    m.OnComStartClick();

    EXPECT_FALSE(h.port.open);
    EXPECT_EQ(m.ComStart.text, "Open");
    EXPECT_TRUE(m.Combo1.enabled);
    EXPECT_EQ(m.Combo1.back, Colour::Normal);
    EXPECT_EQ(Buttons(m), "-------");
    // Closing reports nothing and leaves what the module said on show.
    EXPECT_EQ(m.P_Message.text, "p");
    EXPECT_EQ(m.C_Message.text, "c");
    EXPECT_EQ(m.Version.text, "x");
    EXPECT_EQ(m.Version.back, Colour::Ok);
    EXPECT_EQ(m.Frequency[0].back, Colour::Ok);

    // The same button opens again.
    m.OnComStartClick();
    EXPECT_TRUE(h.port.open);
    EXPECT_EQ(m.ComStart.text, "Close");
    EXPECT_EQ(Buttons(m), "----G--");
}

// A module that answers every command correctly, from the tool's own grid.
std::function<std::string(const std::string&)> GoodModule(Harness& h, bool recv) {
    auto handed = std::make_shared<std::string>();
    return [&h, recv, handed](const std::string& command) -> std::string {
        const auto& grid = h.model.MSFlexGrid1;
        if (command == "/V\r") return recv ? "*V R1.05 RX-434 SIM\r" : "*V T1.05 TX-434 SIM\r";
        if (command == "/D\r") return "*D 012345 2026/11/30 FO=7F\r";
        if (command.rfind("/M", 0) == 0) return "*M 06,29,B8\r";
        if (command.rfind("/T ", 0) == 0) {
            *handed = command.substr(3, command.size() - 4);
            return (recv ? "*T " : "*T  ") + *handed + "\r";
        }
        if (command.rfind("/W 0", 0) == 0)
            return "*W " + command.substr(3, 2) + "," + *handed + "\r";
        if (command.rfind("/R 0", 0) == 0) {
            const int channel = command[4] - '0';
            std::string reply = "*R " + command.substr(3, 2);
            for (int k = 1; k < grid.rows; ++k) reply += "," + grid.Cell(k, channel + 1);
            return reply + "\r";
        }
        return "";
    };
}

struct Sequence {
    const char* name;
    std::function<void(window::FormModel&)> start;
    TimerId timer;
    int goodTicks;  // ticks that run before the port fails
};

std::vector<Sequence> Sequences() {
    return {
        {"Get Info.", [](auto& m) { m.OnGetInfoSWClick(); }, TimerId::GetInfoTimer, 2},
        {"Test", [](auto& m) { m.OnChTestSWClick(1); }, TimerId::TestTimer, 0},
        {"Check", [](auto& m) { m.OnChCheckSWClick(); }, TimerId::ReadAllTimer, 3},
        {"Write", [](auto& m) { m.OnChWriteSWClick(); }, TimerId::WriteAllTimer, 7},
    };
}

// Runs the sequence's next tick.
void NextTick(Harness& h, TimerId id) {
    ASSERT_TRUE(h.clock.Running(id));
    h.Advance(h.clock.DueIn(id));
}

// Lets the answers to the last command arrive (the refresh tick every 50 ms
// delivers them) without reaching the sequence's next tick.
void LetAnswersArrive(Harness& h, TimerId id) {
    h.Advance(std::min(50L, h.clock.DueIn(id) - 1));
}

std::string IdentityAndColours(const window::FormModel& m) {
    std::string s =
        Describe(m.Version) + Describe(m.Serial) + Describe(m.FactoryDate) + Describe(m.FOffsetV);
    for (std::size_t i = 0; i < 4; ++i) s += ColourName(m.Frequency[i].back);
    for (std::size_t i = 0; i < 4; ++i) s += ColourName(m.ChStep[i].back);
    return s;
}

void ExpectRecovered(Harness& h, TimerId id, int seqStep, const std::string& kept,
                     const std::string& name) {
    auto& m = h.model;
    EXPECT_EQ(m.P_Message.text, "Com port Error!") << name;
    EXPECT_NE(m.P_Message.toolTip, "") << name;
    EXPECT_FALSE(h.port.open) << name;
    EXPECT_EQ(m.ComStart.text, "Open") << name;
    EXPECT_TRUE(m.Combo1.enabled) << name;
    EXPECT_EQ(m.Combo1.back, Colour::Normal) << name;
    EXPECT_EQ(Buttons(m), "-------") << name;
    EXPECT_FALSE(m.TimerById(id).Enabled()) << name;
    EXPECT_FALSE(h.clock.Running(id)) << name;
    EXPECT_EQ(m.Engine().State().seqStep, seqStep) << name;
    EXPECT_EQ(IdentityAndColours(m), kept) << name;

    // Nothing more happens: no tick, no write, no second recovery.
    h.port.TakeWritten();
    m.P_Message.text = "seen";
    h.Advance(3000);
    EXPECT_EQ(h.port.TakeWritten(), "") << name;
    EXPECT_EQ(m.P_Message.text, "seen") << name;
    EXPECT_EQ(m.Engine().State().seqStep, seqStep) << name;
}

TEST_P(EachTool, AFailedWriteInASequenceRunsThePortErrorRecovery) {
    for (const Sequence& seq : Sequences()) {
        Harness h(Profile(GetParam()));
        h.StartUp();
        h.OpenPort();
        h.SetResponder(GoodModule(h, Recv()));
        auto& m = h.model;
        m.EnableModuleButtons();
        m.Frequency[3].back = Colour::Ok;
        seq.start(m);
        for (int i = 0; i < seq.goodTicks; ++i) NextTick(h, seq.timer);
        LetAnswersArrive(h, seq.timer);
        ASSERT_TRUE(h.clock.Running(seq.timer)) << seq.name;
        const int step = m.Engine().State().seqStep;
        ASSERT_EQ(step, seq.goodTicks) << seq.name;  // the module answered every command
        const std::string kept = IdentityAndColours(m);
        m.C_Message.text = "c";

        h.port.failWrite = true;
        NextTick(h, seq.timer);

        ExpectRecovered(h, seq.timer, step, kept, seq.name);
        EXPECT_EQ(m.C_Message.text, "c") << seq.name;
    }
}

TEST_P(EachTool, ClosingWhileASequenceRunsEndsItAtItsNextWrite) {
    for (const Sequence& seq : Sequences()) {
        Harness h(Profile(GetParam()));
        h.StartUp();
        h.OpenPort();
        h.SetResponder(GoodModule(h, Recv()));
        auto& m = h.model;
        m.EnableModuleButtons();
        seq.start(m);
        for (int i = 0; i < seq.goodTicks; ++i) NextTick(h, seq.timer);
        LetAnswersArrive(h, seq.timer);
        const int step = m.Engine().State().seqStep;

        m.OnComStartClick();  // "Close"
        EXPECT_EQ(m.P_Message.text, "") << seq.name;
        EXPECT_TRUE(h.clock.Running(seq.timer)) << seq.name;
        const std::string kept = IdentityAndColours(m);

        NextTick(h, seq.timer);
        ExpectRecovered(h, seq.timer, step, kept, seq.name);
    }
}

TEST_P(EachTool, RtsFailuresRunThePortErrorRecovery) {
    // "Get Info." raises RTS first; a port that refuses runs the recovery
    // before anything is started.
    {
        Harness h(Profile(GetParam()));
        h.StartUp();
        h.OpenPort();
        auto& m = h.model;
        m.Engine().State().seqStep = 7;
        const std::string kept = IdentityAndColours(m);
        h.port.failRts = true;
        m.OnGetInfoSWClick();
        ExpectRecovered(h, TimerId::GetInfoTimer, 7, kept, "Get Info.");
    }
    // The transmitter's test ends by lowering RTS.
    if (!Recv()) {
        Harness h(Profile(GetParam()));
        h.StartUp();
        h.OpenPort();
        h.SetResponder(GoodModule(h, false));
        auto& m = h.model;
        m.OnChTestSWClick(2);
        NextTick(h, TimerId::TestTimer);
        const std::string kept = IdentityAndColours(m);
        h.port.failRts = true;
        NextTick(h, TimerId::TestTimer);
        ExpectRecovered(h, TimerId::TestTimer, 1, kept, "end of test");
    }
}

TEST_P(EachTool, LineSpeedSetsTheTickPeriods) {
    struct Case {
        int speed;
        int tick;   // test and write
        int check;  // check: 0.7 of a tick
    };
    const Case cases[] = {
        {4800, 208, 146},
        {19200, 52, 36},
        {9600, 104, 73},
        {1200, 833, 583},
    };
    for (const Case& c : cases) {
        Harness h(Profile(GetParam()));
        h.port.settings.baudRate = c.speed;
        h.StartUp();
        h.OpenPort();
        auto& m = h.model;
        EXPECT_EQ(m.LineSpeed(), c.speed) << c.speed;

        // The test's first tick comes after 50 ms, the second one tick later.
        m.OnChTestSWClick(0);
        EXPECT_EQ(h.clock.DueIn(TimerId::TestTimer), 50) << c.speed;
        NextTick(h, TimerId::TestTimer);
        EXPECT_EQ(m.TestTimer.Interval(), c.tick) << c.speed;
        EXPECT_EQ(h.clock.DueIn(TimerId::TestTimer), c.tick) << c.speed;
        NextTick(h, TimerId::TestTimer);
        EXPECT_FALSE(h.clock.Running(TimerId::TestTimer)) << c.speed;

        m.EnableModuleButtons();
        m.OnChCheckSWClick();
        EXPECT_EQ(m.ReadAllTimer.Interval(), c.check) << c.speed;
        EXPECT_EQ(h.clock.DueIn(TimerId::ReadAllTimer), c.check) << c.speed;
        h.Advance(10 * c.check);

        m.EnableModuleButtons();
        m.OnChWriteSWClick();
        EXPECT_EQ(m.WriteAllTimer.Interval(), c.tick) << c.speed;
        EXPECT_EQ(h.clock.DueIn(TimerId::WriteAllTimer), c.tick) << c.speed;
    }
}

}  // namespace
