// The setup log: one line per write that went through without a reported
// error, in the program's folder.
#include <gtest/gtest.h>

#include <functional>

#include "module_responder.h"

namespace {

using namespace module_test;

constexpr const char* kLogError = "Log File Write Error!!";

class SetupLog : public ::testing::TestWithParam<std::string> {
  protected:
    char Kind() const { return OwnKind(GetParam()); }

    // The record of a write of the default plan to the simulated module.
    std::string Record() const {
        return "00074565," + VersionText(Kind()) +
               ",434.075,433.920,434.600,434.700,08/12/2026,14:03:07,1.5.2\r\n";
    }

    // Clicks "Write" and runs ticks until the write has finished.
    static void RunWrite(Harness& h) {
        h.model.OnChWriteSWClick();
        for (int t = 0; t < 20 && h.clock.Running(TimerId::WriteAllTimer); ++t) {
            TickOf(h, TimerId::WriteAllTimer);
        }
        EXPECT_FALSE(h.clock.Running(TimerId::WriteAllTimer));
    }
};
INSTANTIATE_TEST_SUITE_P(Tools, SetupLog, ::testing::Values("recvsetup", "sendsetup"),
                         [](const auto& info) { return info.param; });

TEST_P(SetupLog, EachCleanWriteAppendsOneRecord) {
    ReadyTool tool(GetParam());
    Harness& h = tool.h;
    auto& m = h.model;
    // Logging is on from the start, into "<program>.log" beside the program.
    EXPECT_EQ(m.Check1.value, 1);
    EXPECT_TRUE(m.LogFileName.enabled);
    const std::string path = h.platform.folder + "/" + GetParam() + ".log";
    ASSERT_FALSE(Exists(path));

    RunWrite(h);
    EXPECT_EQ(testing_support::ReadFile(path), Record());
    EXPECT_EQ(m.L_Message.text, "");

    RunWrite(h);
    EXPECT_EQ(testing_support::ReadFile(path), Record() + Record());
    EXPECT_EQ(m.L_Message.text, "");
}

TEST_P(SetupLog, PerUserFoldersAreMadeWhenFirstUsed) {
    Harness h(ToolProfile(GetParam()));
    FakeModule module(Kind());
    module.Attach(h);
    const std::string config = h.tempFolder + "/config/" + GetParam();
    const std::string data = h.tempFolder + "/share/" + GetParam();
    h.platform.folder = config;
    h.platform.dataFolder = data;
    Prepare(h);
    ReadIdentity(h);
    EXPECT_TRUE(Exists(config + "/" + GetParam() + ".ini"));
    EXPECT_FALSE(Exists(data));

    RunWrite(h);
    EXPECT_EQ(testing_support::ReadFile(data + "/" + GetParam() + ".log"), Record());
    EXPECT_EQ(h.model.L_Message.text, "");

    // The table dialog starts in the data folder.
    h.dialogs.fileAnswers.push_back(std::nullopt);
    h.model.OnFreqLoadSaveSWClick(0);
    EXPECT_EQ(h.dialogs.lastFolder, data);
}

TEST_P(SetupLog, NoRecordAfterAReportedErrorOrWithLoggingOff) {
    struct Case {
        const char* name;
        std::function<void(Harness&, FakeModule&)> setUp;
        std::string message;  // T_Message at the end
    };
    const std::vector<Case> cases = {
        {"reply to /W 02 lost", [](Harness&, FakeModule& mod) { mod.overrides["/W 02"] = ""; },
         "Not Response!!"},
        {"channel 1 stored wrongly",
         [](Harness&, FakeModule& mod) {
             mod.overrides["/W 01"] = "*W 01," + Join(DefaultColumns(mod.kind)[2]) + "\r";
         },
         "Flash Write Error!!"},
        {"logging off", [](Harness& h, FakeModule&) { h.model.OnCheck1Click(0); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        FakeModule& module = tool.module;
        c.setUp(h, module);

        RunWrite(h);
        EXPECT_EQ(h.model.T_Message.text, c.message);
        EXPECT_FALSE(Exists(LogFile(h)));
        EXPECT_EQ(h.model.L_Message.text, "");
    }
}

TEST_P(SetupLog, TheSwitchOnlyEnablesTheFileName) {
    Harness h(ToolProfile(GetParam()));
    h.StartUp();
    auto& m = h.model;
    testing_support::WriteFile(LogFile(h), "kept\r\n");

    m.OnCheck1Click(0);
    EXPECT_EQ(m.Check1.value, 0);
    EXPECT_FALSE(m.LogFileName.enabled);
    m.OnCheck1Click(1);
    EXPECT_EQ(m.Check1.value, 1);
    EXPECT_TRUE(m.LogFileName.enabled);
    EXPECT_EQ(testing_support::ReadFile(LogFile(h)), "kept\r\n");
    EXPECT_EQ(m.L_Message.text, "");
}

TEST_P(SetupLog, AnUnwritableLogIsReportedAndLeavesTheWriteDone) {
    const char* names[] = {"", "no-such-folder/setup.log"};
    for (const char* name : names) {
        SCOPED_TRACE(std::string("log file name \"") + name + "\"");
        ReadyTool tool(GetParam());
        Harness& h = tool.h;
        auto& m = h.model;

        m.OnLogFileNameChange(name);
        RunWrite(h);
        EXPECT_EQ(m.L_Message.text, kLogError);
        EXPECT_EQ(Buttons(m), "TTTTGCW");
        EXPECT_EQ(Colours(m.Frequency), "OOOO");
        EXPECT_EQ(m.C_Message.text, "");
        EXPECT_EQ(m.T_Message.text, "");

        // The message stays until the next write begins.
        h.Advance(1000);
        EXPECT_EQ(m.L_Message.text, kLogError);
        const std::string fixedName = GetParam() + ".log";
        m.OnLogFileNameChange(fixedName);
        m.OnChWriteSWClick();
        TickOf(h, TimerId::WriteAllTimer);
        EXPECT_EQ(m.L_Message.text, "");
        for (int t = 0; t < 12; ++t) TickOf(h, TimerId::WriteAllTimer);
        EXPECT_EQ(testing_support::ReadFile(h.platform.folder + "/" + fixedName), Record());
        EXPECT_EQ(m.L_Message.text, "");
    }
}

}  // namespace
