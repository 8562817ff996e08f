// The settings file as the window uses it: what start-up takes from it, what
// shutdown writes into it, and that a damaged, missing or unwritable file
// never stops the program.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <random>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::DiskFull;
using testing_support::Harness;
using testing_support::ReadFile;
using testing_support::WriteFile;
using window::Colour;
namespace fs = std::filesystem;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

class EachTool : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

// The normal window on the fake 1920 x 1080 screen may go this far.
constexpr long kTopLimit = 1080 * 15 - 7830;
constexpr long kLeftLimit = 1920 * 15 - 6060;

const char* const kDefaults[4] = {"434.700", "434.600", "433.920", "434.075"};

// A harness whose settings file holds the given text before start-up.
struct Started {
    Started(const std::string& tool, const std::string& settings) : h(Profile(tool)) {
        h.port.openable = {1, 2};
        WriteFile(h.model.SettingsPath(), settings);
        h.StartUp();
    }
    Harness h;
};

// Nothing of the settings file was applied: the state start-up builds alone.
void ExpectStartUpDefaults(const Harness& h) {
    const auto& m = h.model;
    EXPECT_FALSE(m.TopSet || m.LeftSet);
    EXPECT_EQ(m.Combo1.text, m.Combo1.items.empty() ? "" : m.Combo1.items.front());
    EXPECT_EQ(m.LogFileName.text, m.Profile().programName + ".log");
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(m.Frequency[n].text, kDefaults[n]) << n;
        EXPECT_EQ(m.Frequency[n].back, Colour::Normal) << n;
    }
    EXPECT_EQ(m.DebugMode, "");
    EXPECT_EQ(m.Width, 6060);
    EXPECT_EQ(m.Caption.find("Debug"), std::string::npos);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SettingsModel, FirstStartCreatesTheFileAndShutdownWritesEightLines) {
    const struct {
        const char* tool;
        const char* file;
    } cases[] = {
        {"recvsetup",
         "TOP  , 1440 ,            Window Top position\r\n"
         "LEFT , 2880 ,            Window Left position\r\n"
         "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n"
         "LOGF ,recvsetup.log,  Log File Name\r\n"
         "CH3F ,434.075,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
         "CH2F ,433.920,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
         "CH1F ,434.600,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
         "CH0F ,434.700,           Frequency: [433.075 to 434.700 MHz] at S2/S1=Short/Short\r\n"},
        {"sendsetup",
         "TOP  , 1440 ,            Window Top position\r\n"
         "LEFT , 2880 ,            Window Left position\r\n"
         "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n"
         "LOGF ,sendsetup.log,  Log File Name\r\n"
         "CH3F ,434.075,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
         "CH2F ,433.920,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
         "CH1F ,434.600,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
         "CH0F ,434.700,           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        Harness h(Profile(c.tool));
        h.port.openable = {1, 3};
        const std::string path = h.model.SettingsPath();
        EXPECT_EQ(path, h.platform.folder + "/" + c.tool + ".ini");
        h.StartUp();
        ASSERT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(fs::file_size(path), 0u);
        ExpectStartUpDefaults(h);
        EXPECT_EQ(h.model.Combo1.text, "COM1");

        h.model.OnFormMove(1440, 2880);
        h.model.OnCombo1Change("COM3");
        h.model.OnComStartClick();
        ASSERT_TRUE(h.port.open);
        ASSERT_EQ(h.port.portNumber, 3);
        h.model.ShutDown();
        EXPECT_FALSE(h.port.open);
        EXPECT_EQ(ReadFile(path), c.file);
        // Nothing else is left beside it.
        EXPECT_EQ(FolderEntries(h.platform.folder),
                  std::vector<std::string>{c.tool + std::string(".ini")});
    }
}

TEST(SettingsModel, SavedPositionIsKeptOnTheScreen) {
    const long normalWidthOnDebug = 1920 * 15 - 12300;
    const struct {
        long screenWidth, screenHeight;
        const char* file;
        long top, left;
    } cases[] = {
        {28800, 16200, "TOP  ,-300 ,c\r\nLEFT ,-1 ,c\r\n", 0, 0},
        {28800, 16200, "TOP  , 0 ,c\r\nLEFT , 0 ,c\r\n", 0, 0},
        {28800, 16200, "TOP  , 1440 ,c\r\nLEFT , 2880 ,c\r\n", 1440, 2880},
        {28800, 16200, "TOP  , 8370 ,c\r\nLEFT , 22740 ,c\r\n", kTopLimit, kLeftLimit},
        {28800, 16200, "TOP  , 8371 ,c\r\nLEFT , 22741 ,c\r\n", kTopLimit, kLeftLimit},
        {28800, 16200, "TOP  , 99999 ,c\r\nLEFT , 99999 ,c\r\n", kTopLimit, kLeftLimit},
        {28800, 16200, "TOP  , 99999999999999999999 ,c\r\nLEFT ,-99999999999999999999 ,c\r\n",
         kTopLimit, 0},
        // A screen smaller than the window: the title bar stays reachable.
        {5000, 6000, "TOP  , 100 ,c\r\nLEFT , 100 ,c\r\n", 0, 0},
        {5000, 6000, "TOP  ,-100 ,c\r\nLEFT ,-100 ,c\r\n", 0, 0},
        // The debug line comes last in a saved file, so the position is
        // bounded against the normal window; a debug line before LEFT makes
        // the wider window count.
        {28800, 16200, "LEFT , 20000 ,c\r\nDEBUG,ON,\r\n", 0, 20000},
        {28800, 16200, "DEBUG,ON,\r\nLEFT , 20000 ,c\r\n", 0, normalWidthOnDebug},
    };
    for (const std::string tool : {"recvsetup", "sendsetup"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(tool + ": " + c.file + " on " + std::to_string(c.screenWidth));
            Harness h(Profile(tool));
            h.platform.screenWidth = c.screenWidth;
            h.platform.screenHeight = c.screenHeight;
            WriteFile(h.model.SettingsPath(), c.file);
            h.StartUp();
            EXPECT_EQ(h.model.TopSet, std::string(c.file).find("TOP") != std::string::npos);
            EXPECT_TRUE(h.model.LeftSet);
            EXPECT_EQ(h.model.Top, c.top);
            EXPECT_EQ(h.model.Left, c.left);
        }
    }
}

TEST_P(EachTool, ABadPositionEndsTheLoadButKeepsWhatCameBefore) {
    const std::string rest =
        "COM  ,COM9,c\r\nLOGF ,other.log,c\r\nCH1F ,433.100,c\r\nDEBUG,ON,\r\n";
    for (const std::string top : {"abc", "", " ", "12abc"}) {
        SCOPED_TRACE("TOP value '" + top + "'");
        Started s(GetParam(), "TOP  ," + top + ",c\r\nLEFT , 2880 ,c\r\n" + rest);
        ExpectStartUpDefaults(s.h);
    }

    Started s(GetParam(), "TOP  , 1440 ,c\r\nLEFT ,left,c\r\n" + rest);
    const auto& m = s.h.model;
    // LEFT was not applied: the window system keeps its say over it.
    EXPECT_TRUE(m.TopSet);
    EXPECT_FALSE(m.LeftSet);
    EXPECT_EQ(m.Top, 1440);
    EXPECT_EQ(m.Combo1.text, "COM1");
    EXPECT_EQ(m.LogFileName.text, GetParam() + ".log");
    EXPECT_EQ(m.Frequency[1].text, "434.600");
    EXPECT_EQ(m.DebugMode, "");
}

TEST_P(EachTool, DebugLineAloneSwitchesLayoutAndIsWrittenBack) {
    Started s(GetParam(), "DEBUG,ON,\r\n");
    auto& m = s.h.model;
    EXPECT_EQ(m.DebugMode, "ON");
    EXPECT_EQ(m.Width, 12300);
    EXPECT_EQ(m.Frame5Left, 6120);
    const std::string caption = GetParam() == "recvsetup" ? "ZRV-RX-H4(434Z)_Setup   Ver.=1.5.2"
                                                          : "ZRV-TX-H4(434Z)_Setup   Ver.=1.5.2";
    EXPECT_EQ(m.Caption, caption + " (Debug mode!!)");
    // Everything else keeps what start-up gave it.
    EXPECT_FALSE(m.TopSet || m.LeftSet);
    EXPECT_EQ(m.Combo1.text, "COM1");
    EXPECT_EQ(m.Frequency[3].text, "434.075");

    m.OnFormMove(1440, 2880);
    m.ShutDown();
    const std::string file = ReadFile(m.SettingsPath());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 9);
    EXPECT_EQ(file.substr(0, file.find('\n') + 1),
              "TOP  , 1440 ,            Window Top position\r\n");
    EXPECT_EQ(file.substr(file.rfind('\n', file.size() - 2) + 1), "DEBUG,ON,\r\n");

    // And the next start is in the debug layout again, with the caption
    // extended once.
    Harness again(Profile(GetParam()), s.h.platform.folder);
    again.StartUp();
    EXPECT_EQ(again.model.Caption, caption + " (Debug mode!!)");
}

TEST_P(EachTool, KeysAndTheDebugValueAreCaseSensitive) {
    Started s(GetParam(),
              "top  , 1440 ,c\r\nleft , 2880 ,c\r\ncom  ,COM9,c\r\nlogf ,other.log,c\r\n"
              "ch3f ,433.100,c\r\nCh2F ,433.200,c\r\ndebug,on,\r\ndebug,ON,\r\nDEBUG,on,\r\n"
              "Debug,ON,\r\nDEBUG,On,\r\n");
    ExpectStartUpDefaults(s.h);
}

TEST_P(EachTool, EntriesSetPortLogNameAndChannels) {
    const bool send = GetParam() == "sendsetup";
    Started s(GetParam(),
              "COM  ,COM2,c\r\nCH3F ,433.700,c\r\nCOM  ,COM42,c\r\nLOGF ,run 2.log,c\r\n"
              "CH3F ,433.100,c\r\nCH2F ,434.080,c\r\nCH1F ,435.000,c\r\nCH0F ,---.----,c\r\n");
    const auto& m = s.h.model;
    // The later of two entries wins; a port discovery did not find is shown
    // as written.
    EXPECT_EQ(m.Combo1.text, "COM42");
    EXPECT_EQ(m.Combo1.items, (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(m.LogFileName.text, "run 2.log");
    EXPECT_EQ(m.LogPath(), s.h.platform.folder + "/run 2.log");
    // Each text went through the box check as if typed.
    const struct {
        const char* text;
        Colour colour;
    } expected[4] = {{"---.----", Colour::RangeError},
                     {"435.000", Colour::RangeError},
                     {"434.080", send ? Colour::RangeError : Colour::Normal},
                     {"433.100", Colour::Normal}};
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(m.Frequency[n].text, expected[n].text) << n;
        EXPECT_EQ(m.Frequency[n].back, expected[n].colour) << n;
    }
    EXPECT_FALSE(m.TopSet || m.LeftSet);
}

TEST_P(EachTool, ShutdownSavesDecimalCommasAsPoints) {
    // One typed by the operator, one from a settings file that quoted it.
    Started s(GetParam(), "CH1F ,\"433,500\",c\r\n");
    auto& m = s.h.model;
    EXPECT_EQ(m.Frequency[1].text, "433,500");
    m.OnFrequencyChange(3, "434,075");
    m.ShutDown();
    EXPECT_EQ(m.Frequency[3].text, "434.075");
    EXPECT_EQ(m.Frequency[1].text, "433.500");
    const std::string file = ReadFile(m.SettingsPath());
    EXPECT_NE(file.find("\r\nCH3F ,434.075,    "), std::string::npos) << file;
    EXPECT_NE(file.find("\r\nCH1F ,433.500,    "), std::string::npos) << file;
    EXPECT_EQ(file.find("434,075"), std::string::npos) << file;
}

TEST_P(EachTool, BlanksAndTabsAroundKeysDoNotMatter) {
    Started s(GetParam(),
              "  TOP   ,  1440  ,c\r\n\tLEFT , 2880 ,c\r\n \t COM   ,COM7,c\r\n"
              "\t\tLOGF    ,  x.log  ,c\r\n    CH2F     , 433.300 ,c\r\n\t DEBUG ,ON,\r\n");
    const auto& m = s.h.model;
    EXPECT_EQ(m.Top, 1440);
    EXPECT_EQ(m.Left, 2880);
    EXPECT_EQ(m.Combo1.text, "COM7");
    EXPECT_EQ(m.LogFileName.text, "x.log");
    EXPECT_EQ(m.Frequency[2].text, "433.300");
    EXPECT_EQ(m.DebugMode, "ON");
}

TEST_P(EachTool, AFileCutShortAppliesTheCompleteEntriesBeforeTheCut) {
    const struct {
        const char* file;
        const char* logName;  // what LOGF shows afterwards
    } cases[] = {
        {"COM  ,COM7,c\r\nLOGF ,cut.log", nullptr},
        {"COM  ,COM7,c\r\nLOGF", nullptr},
        {"COM  ,COM7,c\r\nLOGF ,", nullptr},
        // A comma right before the end promises an empty comment.
        {"COM  ,COM7,c\r\nLOGF ,cut.log,", "cut.log"},
        {"COM  ,COM7,c\r\nLOGF ,cut.log,c\r\n\r\n\r\n", "cut.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Started s(GetParam(), c.file);
        EXPECT_EQ(s.h.model.Combo1.text, "COM7");
        EXPECT_EQ(s.h.model.LogFileName.text, c.logName ? c.logName : GetParam() + ".log");
        EXPECT_TRUE(s.h.clock.Running(window::TimerId::IntervalTimer));
    }
}

TEST_P(EachTool, GarbageAndHugeLinesLeaveTheDefaults) {
    std::mt19937 random(3100);
    std::string garbage(8192, '\0');
    for (char& c : garbage) c = static_cast<char>(random() & 0xFF);
    const std::string huge(5 * 1024 * 1024, 'A');
    for (const std::string& file : {garbage, huge, huge + "\r\nCOM  ,COM9,c\r\n"}) {
        Started s(GetParam(), file);
        ExpectStartUpDefaults(s.h);
        // The file is read, never changed, by start-up.
        EXPECT_EQ(ReadFile(s.h.model.SettingsPath()), file);
        s.h.Advance(100);
    }

    // A long field is skipped as a whole; reading goes on behind it.
    Started s(GetParam(), std::string(1024 * 1024, 'x') + ",v,c\r\nLOGF ,after.log,c\r\n");
    EXPECT_EQ(s.h.model.LogFileName.text, "after.log");
}

TEST_P(EachTool, AFolderThatCannotBeMadeLeavesStartUpAndShutdownWorking) {
    Harness h(Profile(GetParam()));
    WriteFile(h.tempFolder + "/plain", "");
    h.platform.folder = h.tempFolder + "/plain/missing";
    h.StartUp();
    ExpectStartUpDefaults(h);
    EXPECT_EQ(h.model.Caption, h.model.Profile().designCaption + "   Ver.=1.5.2");
    EXPECT_EQ(h.model.MSFlexGrid1.Cell(0, 4), "Ch.3");
    EXPECT_TRUE(h.clock.Running(window::TimerId::IntervalTimer));
    h.model.OnFrequencyChange(0, "434,700");
    h.model.ShutDown();
    EXPECT_EQ(h.model.Frequency[0].text, "434.700");
    EXPECT_FALSE(fs::exists(h.platform.folder));
}

TEST_P(EachTool, AFailedSaveKeepsTheOldFile) {
    const std::string old = "LOGF ,old.log,c\r\nCH2F ,433.500,c\r\n";

    {  // The disk fills up while the new file is written.
        Started s(GetParam(), old);
        s.h.model.OnLogFileNameChange("new.log");
        {
            DiskFull full;
            s.h.model.ShutDown();
        }
        EXPECT_EQ(ReadFile(s.h.model.SettingsPath()), old);
        EXPECT_EQ(FolderEntries(s.h.platform.folder),
                  std::vector<std::string>{GetParam() + ".ini"});
    }
    {  // A folder has taken the settings file's place.
        Started s(GetParam(), old);
        const std::string path = s.h.model.SettingsPath();
        fs::remove(path);
        fs::create_directory(path);
        WriteFile(path + "/inside", old);
        s.h.model.ShutDown();
        EXPECT_TRUE(fs::is_directory(path));
        EXPECT_EQ(ReadFile(path + "/inside"), old);
        EXPECT_EQ(FolderEntries(s.h.platform.folder),
                  std::vector<std::string>{GetParam() + ".ini"});
    }
    {  // The folder went away while the program ran.
        Started s(GetParam(), old);
        const std::string folder = s.h.platform.folder + "/gone";
        fs::create_directory(folder);
        s.h.platform.folder = folder;
        fs::remove(folder);
        s.h.model.ShutDown();
        EXPECT_FALSE(fs::exists(folder));
    }
}

// Random texts an operator could type, with everything the file format has
// to protect: commas, quotes, blanks, tabs, line breaks and non-ASCII.
std::string RandomText(std::mt19937& random) {
    static const char* const pieces[] = {
        "a",   "Z",       "0",        "9",  ".",    ",",        "\"",
        " ",   "\t",      "\r",       "\n", "\r\n", "\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac",
        "COM", "434.075", "run,2.log"};
    std::string text;
    for (unsigned n = random() % 7; n > 0; --n) text += pieces[random() % std::size(pieces)];
    return text;
}

TEST_P(EachTool, EverySavedSettingLoadsBackUnchanged) {
    std::mt19937 random(20260812);
    for (int round = 0; round < 60; ++round) {
        const long top = static_cast<long>(random() % (kTopLimit + 1));
        const long left = static_cast<long>(random() % (kLeftLimit + 1));
        const std::string com = RandomText(random);
        const std::string log = RandomText(random);
        std::string channels[4];
        for (auto& ch : channels) {
            ch = random() % 2
                     ? "43" + std::to_string(random() % 10) + ",0" + std::to_string(random() % 100)
                     : RandomText(random);
        }
        const bool debug = random() % 2 == 1;
        SCOPED_TRACE("round " + std::to_string(round) + " com [" + com + "] log [" + log +
                     "] ch [" + channels[0] + "|" + channels[1] + "|" + channels[2] + "|" +
                     channels[3] + "]");

        Harness first(Profile(GetParam()));
        first.StartUp();
        first.model.OnFormMove(top, left);
        first.model.OnCombo1Change(com);
        first.model.OnLogFileNameChange(log);
        for (int n = 0; n < 4; ++n) first.model.OnFrequencyChange(n, channels[n]);
        if (debug) first.model.ApplyDebugLayout();
        first.Advance(50);
        first.model.ShutDown();

        Harness second(Profile(GetParam()), first.platform.folder);
        second.StartUp();
        const auto& m = second.model;
        EXPECT_EQ(m.Top, top);
        EXPECT_EQ(m.Left, left);
        EXPECT_EQ(m.Combo1.text, com);
        EXPECT_EQ(m.LogFileName.text, log);
        for (int n = 0; n < 4; ++n) {
            std::string saved = channels[n];
            std::replace(saved.begin(), saved.end(), ',', '.');
            EXPECT_EQ(m.Frequency[n].text, saved) << n;
        }
        EXPECT_EQ(m.DebugMode, debug ? "ON" : "");
        EXPECT_EQ(m.Width, debug ? 12300 : 6060);
        if (HasFailure()) break;
    }
}

}  // namespace
