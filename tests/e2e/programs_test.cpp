// The built programs as an operator starts them: offscreen and on an X
// server, closed by SIGTERM, keeping their settings across a restart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTest>
#include <csignal>
#include <filesystem>

#include "e2e_support.h"

namespace {

using e2e::ToolProcess;
using e2e::WaitFor;

namespace fs = std::filesystem;

const char* Caption(const std::string& tool) {
    return tool == "recvsetup" ? "ZRV-RX-H4(434Z)_Setup   Ver.=1.5.2"
                               : "ZRV-TX-H4(434Z)_Setup   Ver.=1.5.2";
}

class Programs : public ::testing::TestWithParam<std::string> {
  protected:
    void TearDown() override { fs::remove_all(folder); }
    std::string Ini() const { return folder + "/" + GetParam() + ".ini"; }
    std::string folder = e2e::TempFolder();
};
INSTANTIATE_TEST_SUITE_P(Tools, Programs, ::testing::Values("recvsetup", "sendsetup"));

// Start-up creates the settings file when it is missing; that tells the test
// the program is up.
bool WaitForFile(const std::string& path) {
    return WaitFor([&] { return fs::exists(path); }, 15000);
}

TEST_P(Programs, StartOffscreenAndCloseOnSigtermOrSigint) {
    for (const int signal : {SIGTERM, SIGINT}) {
        fs::remove(Ini());
        ToolProcess tool(GetParam(), folder, {"QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(WaitForFile(Ini()));
        QTest::qWait(300);
        ASSERT_TRUE(tool.Running());
        EXPECT_EQ(tool.Terminate(10000, signal), 0) << "signal " << signal;
        // The shutdown saved the settings: eight lines, the default plan.
        const std::string ini = e2e::ReadFile(Ini());
        EXPECT_NE(ini.find("CH3F ,434.075,"), std::string::npos) << ini;
        EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), 8);
    }
}

TEST_P(Programs, ShowTheirCaptionOnAnXServerAndCloseOnSigterm) {
    e2e::VirtualDisplay display;
    ToolProcess tool(GetParam(), folder, {display.Environment(), "QT_QPA_PLATFORM=xcb"});
    std::string found;
    ASSERT_TRUE(WaitFor(
        [&] {
            found = e2e::RunOnDisplay(display, "xwininfo -root -tree 2>/dev/null");
            return found.find(Caption(GetParam())) != std::string::npos;
        },
        15000))
        << found;
    EXPECT_EQ(tool.Terminate(), 0);
}

TEST_P(Programs, AChangedFrequencyIsSavedWhenClosedBySigterm) {
    e2e::VirtualDisplay display;
    e2e::WriteTextFile(Ini(),
                       "TOP  , 300 ,            Window Top position\r\n"
                       "LEFT , 450 ,            Window Left position\r\n"
                       "CH3F ,434.075,x\r\n");
    ToolProcess tool(GetParam(), folder, {display.Environment(), "QT_QPA_PLATFORM=xcb"});
    std::string window;
    ASSERT_TRUE(WaitFor(
        [&] {
            // xdotool takes a regular expression: any character stands for
            // the caption's brackets and dots.
            std::string pattern = Caption(GetParam());
            for (char& c : pattern) {
                if (c == '(' || c == ')' || c == '.') c = '.';
            }
            // Only a mapped window takes the focus.
            window = e2e::RunOnDisplay(
                display, "xdotool search --onlyvisible --name '^" + pattern + "$' 2>/dev/null");
            return !window.empty();
        },
        15000));
    window = window.substr(0, window.find('\n'));
    QTest::qWait(300);
    // The focus starts on "Open"; Tab goes to the port list, "Default Set",
    // then the up button of channel 3, which a space presses.
    e2e::RunOnDisplay(display,
                      "xdotool windowfocus --sync " + window + " key --delay 50 Tab Tab Tab space");
    QTest::qWait(300);
    EXPECT_EQ(tool.Terminate(), 0);
    const std::string ini = e2e::ReadFile(Ini());
    EXPECT_NE(ini.find("CH3F ,434.100,"), std::string::npos) << ini;
    EXPECT_NE(ini.find("TOP  , 300 ,"), std::string::npos) << ini;
    EXPECT_NE(ini.find("LEFT , 450 ,"), std::string::npos) << ini;
}

TEST_P(Programs, AReadOnlyFolderKeepsTheOldSettingsAndTheProgramWorking) {
    const std::string old = "CH3F ,433.100,kept\r\n";
    e2e::WriteTextFile(Ini(), old);
    // Read-only for the program: it runs as an unprivileged user when the
    // tests run as root.
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    ToolProcess tool(GetParam(), folder, {"QT_QPA_PLATFORM=offscreen", "HOME=/tmp"},
                     /*asNobody=*/true);
    QTest::qWait(1500);
    ASSERT_TRUE(tool.Running());
    EXPECT_EQ(tool.Terminate(), 0);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(e2e::ReadFile(Ini()), old);
    // No temporary file left behind either.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++files;
    EXPECT_EQ(files, 2);  // the program and its settings
}

}  // namespace
