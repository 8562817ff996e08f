// "Get Info.": the identity read, tick by tick on virtual time, and the
// decision that lets the channel buttons work with a confirmed module.
#include <gtest/gtest.h>

#include "module_responder.h"

namespace {

using namespace module_test;

constexpr const char* kNoIdentity = "Not Response!! (or target error)";

class GetInfoRead : public ::testing::TestWithParam<std::string> {
  protected:
    bool Send() const { return GetParam() == "sendsetup"; }
};
INSTANTIATE_TEST_SUITE_P(Tools, GetInfoRead, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(GetInfoRead, OneCommandEvery200MsThenTheDecision) {
    Harness h(ToolProfile(GetParam()));
    FakeModule module(OwnKind(GetParam()));
    module.Attach(h);
    Prepare(h);
    auto& m = h.model;
    // What an earlier read left must not survive into this one.
    for (window::Control* box : {&m.Version, &m.Serial, &m.FactoryDate, &m.FOffsetV}) {
        box->text = "old";
        box->back = Colour::Ok;
    }
    m.C_Message.text = "Target error!!";
    h.port.rts = false;

    const long clicked = h.clock.Now();
    m.OnGetInfoSWClick();
    EXPECT_TRUE(h.port.rts);
    EXPECT_EQ(Buttons(m), "-------");
    EXPECT_EQ(h.port.TakeWritten(), "");
    h.Advance(199);
    EXPECT_EQ(h.port.TakeWritten(), "");

    EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), "\x80");
    EXPECT_EQ(h.clock.Now() - clicked, 200);
    EXPECT_EQ(m.Engine().State().seqStep, 1);
    std::vector<window::Control*> identity = {&m.Version, &m.Serial, &m.FactoryDate};
    if (Send()) identity.push_back(&m.FOffsetV);
    for (window::Control* box : identity) {
        EXPECT_EQ(box->text, "");
        EXPECT_EQ(box->back, Colour::Blank);
    }
    EXPECT_EQ(m.C_Message.text, "");
    EXPECT_EQ(Buttons(m), "-------");

    EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), "/V\r");
    EXPECT_EQ(h.clock.Now() - clicked, 400);
    EXPECT_EQ(m.Engine().State().seqStep, 2);

    EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), "/D\r");
    EXPECT_EQ(h.clock.Now() - clicked, 600);
    EXPECT_EQ(m.Engine().State().seqStep, 3);
    EXPECT_EQ(m.Version.text, VersionText(OwnKind(GetParam())));
    EXPECT_EQ(m.Version.back, Colour::Ok);
    EXPECT_EQ(Buttons(m), "-------");

    EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), "");
    EXPECT_EQ(h.clock.Now() - clicked, 800);
    EXPECT_FALSE(h.clock.Running(TimerId::GetInfoTimer));
    EXPECT_EQ(Buttons(m), "TTTTGCW");
    EXPECT_EQ(m.C_Message.text, "");
    EXPECT_EQ(m.Serial.text, "00074565");
    EXPECT_EQ(m.Serial.back, Colour::Ok);
    EXPECT_EQ(m.FactoryDate.text, "2026/11/30");
    EXPECT_EQ(m.FactoryDate.back, Colour::Ok);
    if (Send()) {
        EXPECT_EQ(m.FOffsetV.text, "1A");
        EXPECT_EQ(m.FOffsetV.back, Colour::Ok);
    }

    h.Advance(1000);
    EXPECT_EQ(h.port.TakeWritten(), "");
    EXPECT_EQ(m.Engine().State().seqStep, 4);
}

TEST_P(GetInfoRead, TheDecisionFollowsWhatTheModuleAnswered) {
    struct Case {
        const char* name;
        bool otherKind;
        std::map<std::string, std::string> overrides;
        bool silent;
        std::vector<std::string> ticks;  // bytes written at ticks 1 to 4
        std::string messageAfterThirdTick;
        std::string buttons;
        std::string message;
        bool versionShown;  // Version holds the module's version text
        bool serialShown;
    };
    const std::vector<Case> cases = {
        {"own kind with identity",
         false,
         {},
         false,
         {"\x80", "/V\r", "/D\r", ""},
         "",
         "TTTTGCW",
         "",
         true,
         true},
        {"own kind without identity",
         false,
         {{"/D", ""}},
         false,
         {"\x80", "/V\r", "/D\r", ""},
         "",
         "----G--",
         kNoIdentity,
         true,
         false},
        // The version reply of the other kind raises no flag: "/D" is not
        // asked, and the final message replaces "Target error!!".
        {"other kind",
         true,
         {},
         false,
         {"\x80", "/V\r", "", ""},
         "Target error!!",
         "----G--",
         kNoIdentity,
         true,
         false},
        {"silence",
         false,
         {},
         true,
         {"\x80", "/V\r", "", ""},
         "",
         "----G--",
         kNoIdentity,
         false,
         false},
        // A version of the other kind raises no flag: "/V" is asked again.
        {"other kind answering the lead-in byte",
         true,
         {{"\x80", "<version>"}},
         false,
         {"\x80", "/V\r", "", ""},
         "Target error!!",
         "----G--",
         kNoIdentity,
         true,
         false},
        // A module that answers the lead-in byte is not asked for its
        // version again.
        {"version reply to the lead-in byte",
         false,
         {{"\x80", "<version>"}},
         false,
         {"\x80", "", "/D\r", ""},
         "",
         "TTTTGCW",
         "",
         true,
         true},
        // A stray reply raises the flag but fills no version: "/V" still goes
        // out, the buttons follow Serial alone, the message follows Version.
        {"stray flash-clear reply, version lost",
         false,
         {{"\x80", "*C\r"}, {"/V", ""}},
         false,
         {"\x80", "/V\r", "/D\r", ""},
         "",
         "TTTTGCW",
         kNoIdentity,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(ToolProfile(GetParam()));
        const char kind = c.otherKind ? OtherKind(GetParam()) : OwnKind(GetParam());
        FakeModule module(kind);
        module.overrides = c.overrides;
        for (auto& [command, reply] : module.overrides) {
            if (reply == "<version>") reply = module.versionReply;
        }
        module.silent = c.silent;
        module.Attach(h);
        Prepare(h);
        auto& m = h.model;

        const long clicked = h.clock.Now();
        m.OnGetInfoSWClick();
        for (std::size_t t = 0; t < c.ticks.size(); ++t) {
            EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), c.ticks[t]) << "tick " << t + 1;
            EXPECT_EQ(h.clock.Now() - clicked, 200 * static_cast<long>(t + 1));
            if (t == 2) {
                EXPECT_EQ(m.C_Message.text, c.messageAfterThirdTick);
                // The other kind is turned away at once, not only at the end.
                if (c.otherKind) {
                    EXPECT_EQ(Buttons(m), "----G--");
                }
            }
        }
        EXPECT_FALSE(h.clock.Running(TimerId::GetInfoTimer));
        EXPECT_EQ(Buttons(m), c.buttons);
        EXPECT_EQ(m.C_Message.text, c.message);
        EXPECT_EQ(m.Version.text, c.versionShown ? VersionText(kind) : "");
        EXPECT_EQ(m.Version.back, c.versionShown && !c.otherKind ? Colour::Ok : Colour::Blank);
        EXPECT_EQ(m.Serial.text, c.serialShown ? "00074565" : "");
        EXPECT_EQ(m.Serial.back, c.serialShown ? Colour::Ok : Colour::Blank);
        EXPECT_EQ(m.T_Message.text, "");
        EXPECT_EQ(m.P_Message.text, "");
    }
}

TEST_P(GetInfoRead, AFailingRtsAtTheClickRunsTheRecoveryAndStartsNothing) {
    ReadyTool tool(GetParam());
    Harness& h = tool.h;
    auto& m = h.model;

    h.port.failRts = true;
    m.OnGetInfoSWClick();
    EXPECT_EQ(m.P_Message.text, "Com port Error!");
    EXPECT_FALSE(h.port.open);
    EXPECT_EQ(m.ComStart.text, "Open");
    EXPECT_TRUE(m.Combo1.enabled);
    EXPECT_EQ(m.Combo1.back, Colour::Normal);
    EXPECT_EQ(Buttons(m), "-------");
    EXPECT_FALSE(h.clock.Running(TimerId::GetInfoTimer));
    // The identity read before stays on show.
    EXPECT_EQ(m.Version.text, VersionText(OwnKind(GetParam())));
    EXPECT_EQ(m.Serial.text, "00074565");
    EXPECT_EQ(m.Serial.back, Colour::Ok);

    h.Advance(1000);
    EXPECT_EQ(h.port.TakeWritten(), "");
    EXPECT_EQ(Buttons(m), "-------");
}

TEST_P(GetInfoRead, AFailingWriteStopsTheReadAtItsStep) {
    struct Case {
        const char* name;
        int failingStep;
        bool operatorCloses;  // else the port vanishes under the write
    };
    const Case cases[] = {
        {"lead-in byte", 0, false},
        {"version request", 1, false},
        {"identity request", 2, false},
        {"port closed by the operator before the identity request", 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(ToolProfile(GetParam()));
        FakeModule module(OwnKind(GetParam()));
        module.Attach(h);
        Prepare(h);
        auto& m = h.model;

        m.OnGetInfoSWClick();
        for (int step = 0; step < c.failingStep; ++step) TickOf(h, TimerId::GetInfoTimer);
        if (c.operatorCloses) {
            m.OnComStartClick();
        } else {
            h.port.failWrite = true;
        }
        EXPECT_EQ(TickOf(h, TimerId::GetInfoTimer), "");
        EXPECT_EQ(m.Engine().State().seqStep, c.failingStep);
        EXPECT_FALSE(h.clock.Running(TimerId::GetInfoTimer));
        EXPECT_EQ(m.P_Message.text, "Com port Error!");
        EXPECT_FALSE(h.port.open);
        EXPECT_EQ(m.ComStart.text, "Open");
        EXPECT_TRUE(m.Combo1.enabled);
        EXPECT_EQ(m.Combo1.back, Colour::Normal);
        EXPECT_EQ(Buttons(m), "-------");

        h.Advance(1000);
        EXPECT_EQ(h.port.TakeWritten(), "");
        EXPECT_EQ(m.Engine().State().seqStep, c.failingStep);
        EXPECT_EQ(Buttons(m), "-------");
    }
}

}  // namespace
