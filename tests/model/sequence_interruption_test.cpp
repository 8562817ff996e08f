// What ends a sequence early: an answer that comes after its tick gave up,
// a Close and Open in quick succession, and a device that goes away. None of
// them may let a sequence claim success, write on, or log.
#include <gtest/gtest.h>

#include <functional>

#include "module_responder.h"

namespace {

using namespace module_test;

// One sequence as the operator starts it, and the timer that drives it.
struct Sequence {
    const char* name;
    TimerId timer;
    std::function<void(window::FormModel&)> start;
};

const Sequence kSequences[] = {
    {"Get Info.", TimerId::GetInfoTimer, [](window::FormModel& m) { m.OnGetInfoSWClick(); }},
    {"Check", TimerId::ReadAllTimer, [](window::FormModel& m) { m.OnChCheckSWClick(); }},
    {"Write", TimerId::WriteAllTimer, [](window::FormModel& m) { m.OnChWriteSWClick(); }},
};

bool AnySequenceTimer(const Harness& h) {
    for (const TimerId id : {TimerId::GetInfoTimer, TimerId::TestTimer, TimerId::ReadAllTimer,
                             TimerId::WriteAllTimer}) {
        if (h.clock.Running(id)) return true;
    }
    return false;
}

class SequenceInterruption : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Tools, SequenceInterruption, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(SequenceInterruption, LateAnswerStillEndsAsNoResponse) {
    const char kind = OwnKind(GetParam());
    const Columns& columns = DefaultColumns(kind);
    struct Case {
        const Sequence& sequence;
        const char* unanswered;  // command whose answer comes too late
        std::string late;        // what the module sends after the tick gave up
        const char* messageBox;
    };
    FakeModule model(kind);
    const Case cases[] = {
        // Both answers of an identity read arriving late would otherwise
        // look like a complete read.
        {kSequences[0], "/V", model.versionReply + model.identityReply, "C"},
        {kSequences[1], "/R 02", "*R 02," + Join(columns[2]) + "\r", "T"},
        {kSequences[2], "/W 01", "*W 01," + Join(columns[1]) + "\r", "T"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        tool.module.overrides[c.unanswered] = "";
        std::remove(LogFile(h).c_str());
        c.sequence.start(h.model);
        // Tick until a reply check gives up on the module.
        for (int tick = 0; tick < 20 && h.model.Engine().State().seqStep != 100; ++tick) {
            TickOf(h, c.sequence.timer);
        }
        ASSERT_EQ(h.model.Engine().State().seqStep, 100);
        h.port.Receive(c.late);
        EXPECT_EQ(TickOf(h, c.sequence.timer), "") << "nothing more is sent";
        EXPECT_FALSE(h.clock.Running(c.sequence.timer));
        if (*c.messageBox == 'C') {
            EXPECT_EQ(h.model.C_Message.text, "Not Response!! (or target error)");
            EXPECT_EQ(Buttons(h.model), "----G--");
        } else {
            EXPECT_EQ(h.model.T_Message.text, "Not Response!!");
            EXPECT_EQ(Buttons(h.model), "TTTTGCW");
        }
        EXPECT_FALSE(Exists(LogFile(h))) << "a failed write is not logged";
    }
}

TEST_P(SequenceInterruption, ReopenAtAnyTickEndsTheOldSequence) {
    for (const Sequence& sequence : kSequences) {
        for (int ticks = 0; ticks <= 13; ++ticks) {
            SCOPED_TRACE(std::string(sequence.name) + " after tick " + std::to_string(ticks));
            ReadyTool tool(GetParam());
            Harness& h = tool.h;
            std::remove(LogFile(h).c_str());
            sequence.start(h.model);
            for (int t = 0; t < ticks && h.clock.Running(sequence.timer); ++t) {
                TickOf(h, sequence.timer);
            }
            const bool wasRunning = h.clock.Running(sequence.timer);
            h.model.OnComStartClick();  // Close
            h.model.OnComStartClick();  // Open again at once
            ASSERT_TRUE(h.port.IsOpen());
            EXPECT_FALSE(AnySequenceTimer(h));
            h.Advance(5000);
            EXPECT_EQ(h.port.TakeWritten(), "") << "the old sequence sends nothing more";
            EXPECT_EQ(h.model.ComStart.text, "Close");
            if (wasRunning) {
                EXPECT_EQ(Buttons(h.model), "----G--");
                EXPECT_FALSE(Exists(LogFile(h)));
            }
            // A new read on the reopened port runs on its own.
            ReadIdentity(h);
        }
    }
}

TEST_P(SequenceInterruption, LostDeviceRecoversOnceIdleOrAtAnyTick) {
    struct Moment {
        const Sequence* sequence;  // nullptr: idle
        int ticks;
    };
    std::vector<Moment> moments = {{nullptr, 0}};
    for (const Sequence& s : kSequences) {
        for (int t = 0; t <= 13; ++t) moments.push_back({&s, t});
    }
    moments.push_back({nullptr, -1});  // a test running
    for (const Moment& at : moments) {
        // The loss is reported by the port, or first noticed by a write.
        for (const bool noticedByWrite : {false, true}) {
            SCOPED_TRACE(std::string(at.sequence ? at.sequence->name : "idle") + " after tick " +
                         std::to_string(at.ticks) + (noticedByWrite ? ", by a write" : ""));
            ReadyTool tool(GetParam());
            Harness& h = tool.h;
            std::remove(LogFile(h).c_str());
            if (at.sequence) {
                at.sequence->start(h.model);
                for (int t = 0; t < at.ticks && h.clock.Running(at.sequence->timer); ++t) {
                    TickOf(h, at.sequence->timer);
                }
            } else if (at.ticks < 0) {
                h.model.OnChTestSWClick(2);
            }
            h.port.TakeWritten();
            h.port.closes = 0;
            h.port.Lose("device removed", !noticedByWrite);
            if (noticedByWrite) {
                h.Advance(300);  // a tick's write fails, if a sequence runs
                h.port.NotifyLost();
            }
            EXPECT_EQ(h.port.closes, 1);
            EXPECT_EQ(h.model.P_Message.text, "Com port Error!");
            EXPECT_EQ(h.model.P_Message.toolTip, "device removed");
            EXPECT_EQ(h.model.ComStart.text, "Open");
            EXPECT_TRUE(h.model.Combo1.enabled);
            EXPECT_EQ(h.model.Combo1.back, Colour::Normal);
            EXPECT_EQ(Buttons(h.model), "-------");
            EXPECT_FALSE(AnySequenceTimer(h));
            h.Advance(5000);
            EXPECT_EQ(h.port.TakeWritten(), "");
            EXPECT_EQ(h.port.closes, 1) << "the recovery ran once";
            EXPECT_EQ(Buttons(h.model), "-------");
            // Only a write whose four channels were all confirmed is logged.
            const bool allWritten = at.sequence == &kSequences[2] && at.ticks >= 12;
            if (!allWritten) {
                EXPECT_FALSE(Exists(LogFile(h)));
            }
        }
    }
}

}  // namespace
