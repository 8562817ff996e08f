// "Test": one channel's values handed to the module and the echo judged,
// tick by tick on virtual time.
#include <gtest/gtest.h>

#include <optional>

#include "module_responder.h"

namespace {

using namespace module_test;

class ChannelTest : public ::testing::TestWithParam<std::string> {
  protected:
    bool Send() const { return GetParam() == "sendsetup"; }
    char Kind() const { return OwnKind(GetParam()); }
    const Column& ColumnOf(int channel) const {
        return DefaultColumns(Kind())[static_cast<std::size_t>(channel)];
    }
};
INSTANTIATE_TEST_SUITE_P(Tools, ChannelTest, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(ChannelTest, SendsTheColumnAndJudgesTheEcho) {
    // The echo with one value changed; an empty column means no echo.
    auto changed = [this](int channel, std::size_t value) {
        Column c = ColumnOf(channel);
        c[value] = "00";
        return c;
    };
    const std::size_t last = ColumnOf(0).size() - 1;
    struct Case {
        const char* name;
        int channel;
        std::optional<Column> echo;  // nothing: the module echoes correctly
        std::string message;
    };
    const std::vector<Case> cases = {
        {"correct echo, channel 0", 0, std::nullopt, ""},
        {"correct echo, channel 3", 3, std::nullopt, ""},
        {"first value differs", 0, changed(0, 0), "Test Data error!!"},
        {"third value differs", 2, changed(2, 2), "Test Data error!!"},
        // The receiver's echo is judged on its first three values only; the
        // transmitter's on all twelve.
        {"last value differs", 1, changed(1, last), Send() ? "Test Data error!!" : ""},
        {"no echo", 0, Column{}, "Not Response!!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        FakeModule& module = tool.module;
        auto& m = h.model;
        const std::string command = TestCommand(ColumnOf(c.channel));
        if (c.echo) {
            module.overrides[command.substr(0, command.size() - 1)] =
                c.echo->empty() ? "" : EchoLine(Kind(), *c.echo);
        }
        m.T_Message.text = "Discrepancy!!";

        const long clicked = h.clock.Now();
        m.OnChTestSWClick(c.channel);
        EXPECT_EQ(m.T_Message.text, "");
        EXPECT_EQ(Buttons(m), "TTTT---");

        EXPECT_EQ(TickOf(h, TimerId::TestTimer), command);
        EXPECT_EQ(h.clock.Now() - clicked, 50);
        EXPECT_EQ(m.TestTimer.Interval(), 208);
        EXPECT_EQ(h.clock.DueIn(TimerId::TestTimer), 208);
        EXPECT_EQ(Buttons(m), "TTTT---");

        // The transmitter's test ends with RTS low and a lone "*", whatever
        // the echo.
        EXPECT_EQ(TickOf(h, TimerId::TestTimer), Send() ? "*" : "");
        EXPECT_EQ(h.clock.Now() - clicked, 50 + 208);
        EXPECT_EQ(h.port.rts, !Send());
        EXPECT_FALSE(h.clock.Running(TimerId::TestTimer));
        EXPECT_EQ(m.T_Message.text, c.message);
        EXPECT_EQ(Buttons(m), "TTTTGCW");
        EXPECT_EQ(m.P_Message.text, "");

        h.Advance(1000);
        EXPECT_EQ(h.port.TakeWritten(), "");
    }
}

TEST_P(ChannelTest, ASecondClickRestartsTheTestForItsChannel) {
    ReadyTool tool(GetParam());
    Harness& h = tool.h;
    auto& m = h.model;

    m.OnChTestSWClick(0);
    EXPECT_EQ(TickOf(h, TimerId::TestTimer), TestCommand(ColumnOf(0)));
    // Clicked before channel 0's echo is in: that echo is then judged
    // against channel 2 and found wrong, but the new test starts clean.
    const long clicked = h.clock.Now();
    m.OnChTestSWClick(2);
    EXPECT_EQ(m.Engine().State().seqStep, 0);
    EXPECT_EQ(Buttons(m), "TTTT---");

    EXPECT_EQ(TickOf(h, TimerId::TestTimer), TestCommand(ColumnOf(2)));
    EXPECT_EQ(h.clock.Now() - clicked, 50);
    EXPECT_EQ(m.T_Message.text, "");
    EXPECT_EQ(Buttons(m), "TTTT---");
    EXPECT_EQ(TickOf(h, TimerId::TestTimer), Send() ? "*" : "");
    EXPECT_EQ(h.clock.Now() - clicked, 50 + 208);
    EXPECT_FALSE(h.clock.Running(TimerId::TestTimer));
    EXPECT_EQ(m.T_Message.text, "");
    EXPECT_EQ(Buttons(m), "TTTTGCW");
}

TEST_P(ChannelTest, AnInterlockDuringTheTestOutlastsItsEnd) {
    struct Case {
        const char* name;
        bool closePort;  // else a version reply of the other kind arrives
        std::string buttons;
    };
    const Case cases[] = {
        {"port closed", true, "-------"},
        {"version reply of the other kind", false, "----G--"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        auto& m = h.model;

        m.OnChTestSWClick(1);
        TickOf(h, TimerId::TestTimer);
        h.Advance(50);
        if (c.closePort) {
            m.OnComStartClick();
        } else {
            h.port.Receive(FakeModule(OtherKind(GetParam())).versionReply);
        }
        EXPECT_EQ(Buttons(m), c.buttons);
        TickOf(h, TimerId::TestTimer);
        EXPECT_FALSE(h.clock.Running(TimerId::TestTimer));
        EXPECT_EQ(Buttons(m), c.buttons);
        // With the port closed the transmitter's closing "*" cannot go out.
        EXPECT_EQ(m.P_Message.text, c.closePort && Send() ? "Com port Error!" : "");
    }
}

TEST_P(ChannelTest, APortUnpluggedBeforeTheClickFailsOnceAndStops) {
    ReadyTool tool(GetParam());
    Harness& h = tool.h;
    auto& m = h.model;

    h.port.failWrite = true;
    m.OnChTestSWClick(0);
    EXPECT_EQ(TickOf(h, TimerId::TestTimer), "");
    EXPECT_EQ(m.P_Message.text, "Com port Error!");
    EXPECT_FALSE(h.port.open);
    EXPECT_EQ(m.ComStart.text, "Open");
    EXPECT_TRUE(m.Combo1.enabled);
    EXPECT_EQ(m.Combo1.back, Colour::Normal);
    EXPECT_FALSE(h.clock.Running(TimerId::TestTimer));
    EXPECT_EQ(Buttons(m), "-------");

    // No further tick: a second recovery would show the message again.
    m.P_Message.text.clear();
    h.Advance(1000);
    EXPECT_EQ(m.P_Message.text, "");
    EXPECT_EQ(h.port.TakeWritten(), "");
    EXPECT_EQ(Buttons(m), "-------");
    EXPECT_EQ(m.T_Message.text, "");
}

}  // namespace
