// The window model at start-up, the channel plan's handlers and the
// interlocks, for both tools.
#include <gtest/gtest.h>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Harness;
using window::Colour;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

class EachTool : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(EachTool, StartUpBuildsTheWindowInItsDesignState) {
    Harness h(Profile(GetParam()));
    h.port.openable = {3, 17, 200};
    h.StartUp();
    auto& m = h.model;
    const bool recv = GetParam() == "recvsetup";

    EXPECT_EQ(m.Caption,
              recv ? "ZRV-RX-H4(434Z)_Setup   Ver.=1.5.2" : "ZRV-TX-H4(434Z)_Setup   Ver.=1.5.2");
    EXPECT_EQ(m.Width, 6060);
    EXPECT_EQ(m.Height, 7830);
    EXPECT_EQ(m.Frame5Left, -6000);
    EXPECT_EQ(m.DebugMode, "");

    // Discovery tried every port once, in order, and left the port closed.
    ASSERT_EQ(h.port.openAttempts.size(), 255u);
    EXPECT_EQ(h.port.openAttempts.front(), 1);
    EXPECT_EQ(h.port.openAttempts.back(), 255);
    EXPECT_FALSE(h.port.open);
    EXPECT_EQ(m.Combo1.items, (std::vector<std::string>{"COM3", "COM17", "COM200"}));
    EXPECT_EQ(
        m.Combo1.itemToolTips,
        (std::vector<std::string>{"Device: ttyFAKE3", "Device: ttyFAKE17", "Device: ttyFAKE200"}));
    EXPECT_EQ(m.Combo1.text, "COM3");

    const char* defaults[4] = {"434.700", "434.600", "433.920", "434.075"};
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(m.Frequency[n].text, defaults[n]);
        EXPECT_EQ(m.Frequency[n].back, Colour::Normal);
        EXPECT_EQ(m.Frequency[n].items.size(), 68u);
    }
    for (auto* b : {&m.GetInfoSW, &m.ChCheckSW, &m.ChWriteSW, &m.ChTestSW[0], &m.ChTestSW[3]}) {
        EXPECT_FALSE(b->enabled);
    }
    EXPECT_TRUE(m.ComStart.enabled);
    EXPECT_EQ(m.ComStart.text, "Open");
    EXPECT_EQ(m.LogFileName.text, GetParam() + ".log");
    EXPECT_EQ(m.CommonDialog1.filter, "Freq. Table File(*.tbl)|*.tbl|All File|*.*|");
    EXPECT_EQ(m.CommonDialog1.initialFolder, h.platform.folder);
    EXPECT_EQ(m.MSFlexGrid1.rows, recv ? 6 : 13);
    EXPECT_EQ(m.MSFlexGrid1.Cell(0, 0), "Register");
    EXPECT_EQ(m.MSFlexGrid1.Cell(0, 4), "Ch.3");
    EXPECT_EQ(m.MSFlexGrid1.Cell(m.MSFlexGrid1.rows - 1, 0), recv ? "Counter-A" : "VAC1");
    EXPECT_TRUE(h.clock.Running(window::TimerId::IntervalTimer));
    EXPECT_EQ(m.IntervalTimer.Interval(), 50);
    for (auto id : {window::TimerId::GetInfoTimer, window::TimerId::TestTimer,
                    window::TimerId::ReadAllTimer, window::TimerId::WriteAllTimer}) {
        EXPECT_FALSE(h.clock.Running(id));
    }
}

TEST_P(EachTool, NoPortAtAllLeavesThePortListEmpty) {
    Harness h(Profile(GetParam()));
    h.port.openable.clear();
    h.StartUp();
    EXPECT_TRUE(h.model.Combo1.items.empty());
    EXPECT_EQ(h.model.Combo1.text, "");
}

// Adapters plugged in or pulled after start-up: the list follows them when
// it drops down, and what the operator typed stays.
TEST_P(EachTool, DroppingThePortListDownFindsThePortsAgain) {
    Harness h(Profile(GetParam()));
    h.port.openable = {3};
    h.StartUp();
    auto& m = h.model;
    m.OnCombo1Change("COM9");
    h.port.openable = {5, 7};
    h.port.openAttempts.clear();
    m.OnCombo1DropDown();
    EXPECT_EQ(h.port.openAttempts.size(), 255u);
    EXPECT_EQ(m.Combo1.items, (std::vector<std::string>{"COM5", "COM7"}));
    EXPECT_EQ(m.Combo1.itemToolTips,
              (std::vector<std::string>{"Device: ttyFAKE5", "Device: ttyFAKE7"}));
    EXPECT_EQ(m.Combo1.text, "COM9");
    EXPECT_FALSE(h.port.open);

    // With the port in use nothing is probed: that would close it.
    m.OnCombo1Change("COM5");
    m.OnComStartClick();
    ASSERT_TRUE(h.port.open);
    h.port.openAttempts.clear();
    m.OnCombo1DropDown();
    EXPECT_TRUE(h.port.openAttempts.empty());
    EXPECT_TRUE(h.port.open);
    EXPECT_EQ(h.port.portNumber, 5);
}

TEST_P(EachTool, TypingAndLosingFocusColourTheBox) {
    const bool send = GetParam() == "sendsetup";
    struct Case {
        const char* text;
        Colour colour;
    };
    const Case cases[] = {
        {"433.075", Colour::Normal},
        {"434.700", Colour::Normal},
        {"433.074", Colour::RangeError},
        {"434.701", Colour::RangeError},
        {"---.----", Colour::RangeError},
        {"", Colour::RangeError},
        {"434.080", send ? Colour::RangeError : Colour::Normal},
        {"433.920", Colour::Normal},
        {"434.0750", Colour::Normal},
    };
    Harness h(Profile(GetParam()));
    h.StartUp();
    for (const Case& c : cases) {
        h.model.OnFrequencyChange(1, c.text);
        EXPECT_EQ(h.model.Frequency[1].back, c.colour) << c.text;
        // Focus loss runs the check again, also over a colour set since.
        h.model.Frequency[1].back = Colour::Inexact;
        h.model.OnFrequencyLostFocus(1);
        EXPECT_EQ(h.model.Frequency[1].back, c.colour) << c.text;
    }
}

TEST_P(EachTool, StepButtonsWriteTheStepAndCheckIt) {
    Harness h(Profile(GetParam()));
    h.StartUp();
    auto& box = h.model.Frequency[2];
    h.model.OnFrequencyChange(2, "abc");
    EXPECT_EQ(box.back, Colour::RangeError);
    h.model.OnFupClick(2);
    EXPECT_EQ(box.text, "433.075");
    EXPECT_EQ(box.back, Colour::Normal);
    h.model.OnFupClick(2);
    EXPECT_EQ(box.text, "433.100");
    h.model.OnFdownClick(2);
    h.model.OnFdownClick(2);
    EXPECT_EQ(box.text, "433.075");

    // Stepping past the top writes the same text: no change, no check, so a
    // confirmed channel keeps its green.
    h.model.OnFrequencyChange(0, "434.700");
    box.back = Colour::Ok;
    h.model.Frequency[0].back = Colour::Ok;
    h.model.OnFupClick(0);
    EXPECT_EQ(h.model.Frequency[0].text, "434.700");
    EXPECT_EQ(h.model.Frequency[0].back, Colour::Ok);
}

TEST_P(EachTool, DefaultSetRestoresThePlan) {
    const bool recv = GetParam() == "recvsetup";
    Harness h(Profile(GetParam()));
    h.StartUp();
    auto& m = h.model;
    m.OnFrequencyChange(3, "435.000");  // out of range
    m.Frequency[2].back = Colour::Ok;   // confirmed earlier, text still the default
    m.Frequency[0].back = Colour::Inexact;
    m.OnFreqDefaultSWClick();
    EXPECT_EQ(m.Frequency[3].text, "434.075");
    EXPECT_EQ(m.Frequency[3].back, Colour::Normal);
    // recvsetup clears every colour; sendsetup only checks what changed.
    EXPECT_EQ(m.Frequency[2].back, recv ? Colour::Normal : Colour::Ok);
    EXPECT_EQ(m.Frequency[0].back, recv ? Colour::Normal : Colour::Inexact);
}

TEST_P(EachTool, SettingAnUnchangedTextIsNoChange) {
    Harness h(Profile(GetParam()));
    h.StartUp();
    h.model.Frequency[1].back = Colour::Ok;
    h.model.SetFrequencyText(1, h.model.Frequency[1].text);
    EXPECT_EQ(h.model.Frequency[1].back, Colour::Ok);
    h.model.SetFrequencyText(1, "434.625");
    EXPECT_EQ(h.model.Frequency[1].back, Colour::Normal);
}

TEST_P(EachTool, InterlocksSwitchTheModuleButtonsAsAGroup) {
    Harness h(Profile(GetParam()));
    h.StartUp();
    auto& m = h.model;
    EXPECT_EQ(testing_support::Buttons(m), "-------");
    m.EnableModuleButtons();
    EXPECT_EQ(testing_support::Buttons(m), "TTTTGCW");
    m.EnableGetInfoOnly();
    EXPECT_EQ(testing_support::Buttons(m), "----G--");
    m.EnableModuleButtons();
    m.DisableModuleButtons();
    EXPECT_EQ(testing_support::Buttons(m), "-------");
    // Opening enables only Get Info.; closing disables everything again.
    h.OpenPort();
    EXPECT_EQ(testing_support::Buttons(m), "----G--");
    m.EnableModuleButtons();
    m.OnComStartClick();
    EXPECT_EQ(testing_support::Buttons(m), "-------");
    h.OpenPort();
    EXPECT_EQ(testing_support::Buttons(m), "----G--");
}

TEST_P(EachTool, SettingsCanSwitchToTheDebugLayout) {
    Harness h(Profile(GetParam()));
    testing_support::WriteFile(h.model.SettingsPath(), "DEBUG,ON,\r\nDEBUG,ON,\r\n");
    h.StartUp();
    EXPECT_EQ(h.model.DebugMode, "ON");
    EXPECT_EQ(h.model.Width, 12300);
    EXPECT_EQ(h.model.Height, 7830);
    EXPECT_EQ(h.model.Frame5Left, 6120);
    // Asked twice, applied once.
    EXPECT_EQ(h.model.Caption, std::string(GetParam() == "recvsetup" ? "ZRV-RX" : "ZRV-TX") +
                                   "-H4(434Z)_Setup   Ver.=1.5.2 (Debug mode!!)");
}

}  // namespace
