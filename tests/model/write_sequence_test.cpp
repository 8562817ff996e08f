// "Write": identity check, then each channel loaded and stored, tick by tick
// on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "module_responder.h"

namespace {

using namespace module_test;

constexpr long kWriteTick = 208;  // 10^6 / 4800 ms

class WriteSequence : public ::testing::TestWithParam<std::string> {
  protected:
    bool Send() const { return GetParam() == "sendsetup"; }
    char Kind() const { return OwnKind(GetParam()); }

    // The bytes of each of the 13 ticks of a write that every reply answers.
    std::vector<std::string> Script() const {
        const Columns& columns = DefaultColumns(Kind());
        std::vector<std::string> ticks = {"\x80", "/V\r", "/D\r", Send() ? "/M 06,29,B8\r" : ""};
        for (int n = 0; n < 4; ++n) {
            ticks.push_back(TestCommand(columns[static_cast<std::size_t>(n)]));
            ticks.push_back("/W 0" + std::to_string(n) + "\r");
        }
        ticks.push_back("");
        return ticks;
    }

    // A module whose flash holds nothing of the plan yet.
    static void EraseFlash(FakeModule& module) {
        for (Column& c : module.stored) c.assign(c.size(), "00");
    }
};
INSTANTIATE_TEST_SUITE_P(Tools, WriteSequence, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(WriteSequence, StoresAllFourChannelsIn13Ticks) {
    // A module that answers the lead-in byte with its version is not asked
    // for it again.
    for (const bool versionToLeadIn : {false, true}) {
        SCOPED_TRACE(versionToLeadIn ? "version reply to the lead-in byte" : "plain module");
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        FakeModule& module = tool.module;
        EraseFlash(module);
        if (versionToLeadIn) module.overrides["\x80"] = module.versionReply;
        auto& m = h.model;
        for (int n = 0; n < 4; ++n) m.Frequency[static_cast<std::size_t>(n)].back = Colour::Ok;
        for (window::Control* box : {&m.C_Message, &m.T_Message, &m.L_Message}) box->text = "old";

        const long clicked = h.clock.Now();
        m.OnChWriteSWClick();
        EXPECT_EQ(Colours(m.Frequency), "NNNN");
        EXPECT_EQ(Buttons(m), "-------");

        std::vector<std::string> script = Script();
        if (versionToLeadIn) script[1] = "";
        // Channel c turns green once its "*W" reply is in, before tick 6 + 2c.
        const char* confirmed[] = {"NNNN", "NNNN", "NNNN", "NNNN", "NNNN", "NNNN", "ONNN",
                                   "ONNN", "OONN", "OONN", "OOON", "OOON", "OOOO"};
        for (std::size_t t = 0; t < script.size(); ++t) {
            SCOPED_TRACE("tick " + std::to_string(t));
            EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), script[t]);
            EXPECT_EQ(h.clock.Now() - clicked, kWriteTick * static_cast<long>(t + 1));
            EXPECT_EQ(Colours(m.Frequency), confirmed[t]);
            if (!Send()) {
                EXPECT_EQ(Colours(m.ChStep), confirmed[t]);
            }
            if (t == 0) {
                EXPECT_EQ(m.Version.text, "");
                EXPECT_EQ(m.Version.back, Colour::Blank);
                EXPECT_EQ(m.Serial.text, "");
                EXPECT_EQ(m.Serial.back, Colour::Blank);
                EXPECT_EQ(m.C_Message.text, "");
                EXPECT_EQ(m.T_Message.text, "");
                EXPECT_EQ(m.L_Message.text, "");
            }
            if (t + 1 < script.size()) {
                EXPECT_EQ(Buttons(m), "-------");
            }
        }
        EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));
        EXPECT_EQ(Buttons(m), "TTTTGCW");
        EXPECT_EQ(m.Version.text, VersionText(Kind()));
        EXPECT_EQ(m.Version.back, Colour::Ok);
        EXPECT_EQ(m.Serial.text, "00074565");
        EXPECT_EQ(m.Serial.back, Colour::Ok);
        EXPECT_EQ(m.FactoryDate.text, "2026/11/30");
        EXPECT_EQ(m.FactoryDate.back, Colour::Ok);
        EXPECT_EQ(m.C_Message.text, "");
        EXPECT_EQ(m.T_Message.text, "");
        EXPECT_EQ(module.stored, DefaultColumns(Kind()));
        const std::string log = testing_support::ReadFile(LogFile(h));
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

        h.Advance(2000);
        EXPECT_EQ(h.port.TakeWritten(), "");
    }
}

TEST_P(WriteSequence, AMissingReplyEndsTheWriteWithNotResponse) {
    struct Case {
        const char* name;
        std::function<void(FakeModule&)> setUp;
        std::size_t stopTick;  // the tick that finds no reply and sends nothing
        std::string colours;
        bool identityShown;
    };
    const std::vector<Case> cases = {
        {"reply to /W 02 lost", [](FakeModule& mod) { mod.overrides["/W 02"] = ""; }, 10, "OONN",
         true},
        {"silent module", [](FakeModule& mod) { mod.silent = true; }, 3, "NNNN", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        FakeModule& module = tool.module;
        c.setUp(module);
        auto& m = h.model;

        m.OnChWriteSWClick();
        const std::vector<std::string> script = Script();
        std::vector<std::string> ticks(script.begin(),
                                       script.begin() + static_cast<long>(c.stopTick));
        ticks.insert(ticks.end(), {"", ""});
        for (std::size_t t = 0; t < ticks.size(); ++t) {
            EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), ticks[t]) << "tick " << t;
        }
        EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));
        EXPECT_EQ(m.T_Message.text, "Not Response!!");
        EXPECT_EQ(Colours(m.Frequency), c.colours);
        EXPECT_EQ(Buttons(m), "TTTTGCW");
        EXPECT_EQ(m.Version.text, c.identityShown ? VersionText(Kind()) : "");
        EXPECT_EQ(m.Serial.text, c.identityShown ? "00074565" : "");
        const Colour identity = c.identityShown ? Colour::Ok : Colour::Blank;
        EXPECT_EQ(m.Version.back, identity);
        EXPECT_EQ(m.Serial.back, identity);
        EXPECT_EQ(m.FactoryDate.back, identity);
        EXPECT_FALSE(Exists(LogFile(h)));

        h.Advance(2000);
        EXPECT_EQ(h.port.TakeWritten(), "");
    }
}

TEST_P(WriteSequence, APortLostMidWriteEndsItWithAPortError) {
    const bool closedByOperator[] = {true, false};
    for (const bool closes : closedByOperator) {
        SCOPED_TRACE(closes ? "operator clicks Close" : "port vanishes");
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        auto& m = h.model;

        m.OnChWriteSWClick();
        for (int t = 0; t <= 4; ++t) TickOf(h, TimerId::WriteAllTimer);  // up to "/T" of ch 0
        h.Advance(50);                                                   // its echo is in
        if (closes) {
            m.OnComStartClick();
            EXPECT_EQ(Buttons(m), "-------");
        } else {
            h.port.failWrite = true;
        }
        EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "");
        EXPECT_EQ(m.Engine().State().seqStep, 5);
        EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));
        EXPECT_EQ(m.P_Message.text, "Com port Error!");
        EXPECT_FALSE(h.port.open);
        EXPECT_EQ(m.ComStart.text, "Open");
        EXPECT_TRUE(m.Combo1.enabled);
        EXPECT_EQ(Buttons(m), "-------");

        h.Advance(3000);
        EXPECT_EQ(h.port.TakeWritten(), "");
        EXPECT_EQ(Buttons(m), "-------");
        EXPECT_FALSE(Exists(LogFile(h)));
    }
}

TEST_P(WriteSequence, AModuleOfTheOtherKindGetsNothingStored) {
    Harness h(ToolProfile(GetParam()));
    FakeModule own(Kind());
    own.Attach(h);
    Prepare(h);
    ReadIdentity(h);
    // The operator swaps modules between the identity read and the write.
    FakeModule other(OtherKind(GetParam()));
    EraseFlash(other);
    const Columns flash = other.stored;
    other.Attach(h);
    auto& m = h.model;

    m.OnChWriteSWClick();
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "\x80");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "/V\r");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "/D\r");
    EXPECT_EQ(m.C_Message.text, "Target error!!");
    EXPECT_EQ(m.Version.text, VersionText(OtherKind(GetParam())));
    EXPECT_EQ(m.Version.back, Colour::Blank);
    EXPECT_EQ(Buttons(m), "----G--");

    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "");
    EXPECT_TRUE(h.clock.Running(TimerId::WriteAllTimer));
    EXPECT_EQ(Buttons(m), "----G--");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "");
    EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));
    EXPECT_EQ(Buttons(m), "TTTTGCW");
    EXPECT_EQ(m.C_Message.text, "Target error!!");
    EXPECT_EQ(m.T_Message.text, "");
    EXPECT_EQ(Colours(m.Frequency), "NNNN");
    EXPECT_FALSE(Exists(LogFile(h)));

    h.Advance(2000);
    EXPECT_EQ(h.port.TakeWritten(), "");
    EXPECT_EQ(other.stored, flash);
    EXPECT_EQ(other.commands, (std::vector<std::string>{"\x80", "/V\r", "/D\r"}));
}

TEST_P(WriteSequence, AFrequencyChangedMidWriteReachesTheChannelsNotYetLoaded) {
    ReadyTool tool(GetParam());
    Harness& h = tool.h;
    FakeModule& module = tool.module;
    EraseFlash(module);
    auto& m = h.model;
    const Columns& columns = DefaultColumns(Kind());

    m.OnChWriteSWClick();
    for (int t = 0; t <= 8; ++t) TickOf(h, TimerId::WriteAllTimer);  // up to "/T" of ch 2
    // Channel 0 is written already, channel 3 not yet loaded; both get the
    // frequency that channel 1 has.
    m.OnFrequencyChange(0, "434.600");
    m.OnFrequencyChange(3, "434.600");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "/W 02\r");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), TestCommand(columns[1]));
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "/W 03\r");
    EXPECT_EQ(TickOf(h, TimerId::WriteAllTimer), "");
    EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));

    EXPECT_EQ(module.stored[0], columns[0]);
    EXPECT_EQ(module.stored[3], columns[1]);
    // Channel 0's box no longer shows what the module holds: not green.
    EXPECT_EQ(Colours(m.Frequency), "NOOO");
    EXPECT_EQ(m.T_Message.text, "");
}

}  // namespace

namespace {

// Close clicked after a command went out but before its answer: the next
// tick finds no reply and finishes without writing anything, so no failed
// write runs the recovery. The buttons must still follow the closed port.
TEST(SequencesClosedBeforeTheAnswer, LeaveEveryModuleButtonDisabled) {
    struct Case {
        const char* tool;
        const char* button;
        TimerId timer;
        int ticks;  // up to a command whose answer a later tick looks for
    };
    const Case cases[] = {
        {"recvsetup", "Write", TimerId::WriteAllTimer, 5},
        {"sendsetup", "Write", TimerId::WriteAllTimer, 5},
        {"recvsetup", "Check", TimerId::ReadAllTimer, 1},
        {"sendsetup", "Check", TimerId::ReadAllTimer, 2},
        {"recvsetup", "Get Info.", TimerId::GetInfoTimer, 3},
        {"sendsetup", "Get Info.", TimerId::GetInfoTimer, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.button);
        ReadyTool tool(c.tool);
        Harness& h = tool.h;
        auto& m = h.model;
        const std::string button = c.button;
        if (button == "Write") m.OnChWriteSWClick();
        if (button == "Check") m.OnChCheckSWClick();
        if (button == "Get Info.") m.OnGetInfoSWClick();
        for (int t = 0; t < c.ticks; ++t) TickOf(h, c.timer);
        m.OnComStartClick();
        h.port.queuedReplies.clear();  // nothing arrives on a closed port
        h.Advance(3000);
        EXPECT_FALSE(h.clock.Running(c.timer));
        EXPECT_EQ(m.ComStart.text, "Open");
        EXPECT_EQ(Buttons(m), "-------");
    }
}

}  // namespace
