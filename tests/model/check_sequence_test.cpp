// "Check": the four stored channels read back and compared with the
// computed values, tick by tick on virtual time.
#include <gtest/gtest.h>

#include <functional>

#include "module_responder.h"

namespace {

using namespace module_test;

constexpr long kCheckTick = 146;  // 0.7 x 208 ms at 4800 baud

class CheckSequence : public ::testing::TestWithParam<std::string> {
  protected:
    bool Send() const { return GetParam() == "sendsetup"; }
    char Kind() const { return OwnKind(GetParam()); }
};
INSTANTIATE_TEST_SUITE_P(Tools, CheckSequence, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(CheckSequence, ReadsEachChannelAndMarksTheAgreeingOnes) {
    const std::vector<std::string> reads = {"/R 00\r", "/R 01\r", "/R 02\r", "/R 03\r"};
    // The bytes of each tick when every command is answered; the transmitter
    // reads its common parameters first.
    std::vector<std::string> complete = reads;
    if (Send()) complete.insert(complete.begin(), "/M\r");
    complete.push_back("");
    // The ticks when the first read-back goes unanswered: its check sends
    // nothing, the next tick finishes.
    std::vector<std::string> firstReadLost(complete.begin(), complete.end() - 4);
    firstReadLost.insert(firstReadLost.end(), {"", ""});

    struct Case {
        const char* name;
        std::function<void(FakeModule&)> setUp;
        std::vector<std::string> ticks;
        std::string colours;  // frequency boxes 0 to 3
        std::string message;
    };
    const std::vector<Case> cases = {
        {"all channels agree", [](FakeModule&) {}, complete, "OOOO", ""},
        {"channel 2 holds other values",
         [](FakeModule& mod) { mod.stored[2] = DefaultColumns(mod.kind)[1]; }, complete, "OONO",
         "Discrepancy!!"},
        {"silent module",
         [](FakeModule& mod) { mod.silent = true; },
         {complete.front(), "", ""},
         "NNNN",
         "Not Response!!"},
        // A read-back naming a channel above 3 raises no flag.
        {"read-back for channel 7",
         [](FakeModule& mod) {
             mod.overrides["/R 00"] = "*R 07," + Join(DefaultColumns(mod.kind)[0]) + "\r";
         },
         firstReadLost, "NNNN", "Not Response!!"},
        // Other common parameters are reported, but every channel is still
        // read and marked.
        {"other common parameters", [](FakeModule& mod) { mod.overrides["/M"] = "*M 06,29,B9\r"; },
         complete, "OOOO", Send() ? "Common Parameter Error!" : ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        FakeModule& module = tool.module;
        c.setUp(module);
        auto& m = h.model;
        // Marks and messages of an earlier command must not survive.
        for (int n = 0; n < 4; ++n) {
            m.Frequency[static_cast<std::size_t>(n)].back = Colour::Ok;
            m.ChStep[static_cast<std::size_t>(n)].back = Colour::Ok;
        }
        m.C_Message.text = "Target error!!";
        m.T_Message.text = "Test Data error!!";

        const long clicked = h.clock.Now();
        m.OnChCheckSWClick();
        EXPECT_EQ(Colours(m.Frequency), "NNNN");
        if (!Send()) {
            EXPECT_EQ(Colours(m.ChStep), "NNNN");
        }
        EXPECT_EQ(Buttons(m), "-------");

        for (std::size_t t = 0; t < c.ticks.size(); ++t) {
            EXPECT_EQ(TickOf(h, TimerId::ReadAllTimer), c.ticks[t]) << "tick " << t + 1;
            EXPECT_EQ(h.clock.Now() - clicked, kCheckTick * static_cast<long>(t + 1));
            if (t == 0) {
                EXPECT_EQ(m.C_Message.text, "");
            }
            if (t + 1 < c.ticks.size()) {
                EXPECT_EQ(Buttons(m), "-------");
            }
        }
        EXPECT_FALSE(h.clock.Running(TimerId::ReadAllTimer));
        EXPECT_EQ(Buttons(m), "TTTTGCW");
        EXPECT_EQ(Colours(m.Frequency), c.colours);
        if (!Send()) {
            EXPECT_EQ(Colours(m.ChStep), c.colours);
        }
        EXPECT_EQ(m.T_Message.text, c.message);
        EXPECT_EQ(m.C_Message.text, "");

        h.Advance(1000);
        EXPECT_EQ(h.port.TakeWritten(), "");
    }
}

}  // namespace
