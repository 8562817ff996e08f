// Loading and saving channel plans as frequency table files through the
// window's Load and Save buttons, in both tools.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

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

constexpr int kLoad = 0;
constexpr int kSave = 1;

const std::string kDefaultTable =
    "CH3F ,434.075,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Open \r\n"
    "CH2F ,433.920,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Open /Short\r\n"
    "CH1F ,434.600,           Frequency:  [433.075 to 434.700 MHz] at S2/S1=Short/Open \r\n"
    "CH0F ,434.700,           Frequency:  [433.075 to 434.700 MHz] at SS/S1=Short/Short\r\n";

struct Tool {
    explicit Tool(const std::string& name) : h(Profile(name)) { h.StartUp(); }

    // The operator picks the file (or cancels: nothing) and clicks.
    void Click(int button, std::optional<std::string> answer) {
        if (answer) h.dialogs.fileAnswers.push_back(*answer);
        h.model.OnFreqLoadSaveSWClick(button);
    }
    std::string File(const std::string& name) const { return h.platform.folder + "/" + name; }
    std::array<std::string, 4> Texts() const {
        std::array<std::string, 4> t;
        for (int n = 0; n < 4; ++n) t[n] = h.model.Frequency[n].text;
        return t;
    }
    void SetTexts(const std::array<std::string, 4>& texts) {
        for (int n = 0; n < 4; ++n) h.model.OnFrequencyChange(n, texts[n]);
    }
    Harness h;
};

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(EachTool, SavedDefaultPlanLoadsBack) {
    Tool t(GetParam());
    const std::string path = t.File("plan.tbl");
    t.Click(kSave, path);
    EXPECT_EQ(ReadFile(path), kDefaultTable);
    EXPECT_TRUE(t.h.dialogs.questionsAsked.empty());
    EXPECT_EQ(t.h.dialogs.lastFilter, "Freq. Table File(*.tbl)|*.tbl|All File|*.*|");
    EXPECT_EQ(t.h.dialogs.lastFolder, t.h.platform.folder);
    // No leftovers of the save beside the table.
    EXPECT_EQ(FolderEntries(t.h.platform.folder),
              (std::vector<std::string>{"plan.tbl", GetParam() + ".ini"}));

    t.SetTexts({"433.100", "433.200", "433.300", "433.400"});
    t.h.dialogs.lastFilter.clear();
    t.h.dialogs.lastFolder.clear();
    t.Click(kLoad, path);
    EXPECT_EQ(t.Texts(), (std::array<std::string, 4>{"434.700", "434.600", "433.920", "434.075"}));
    for (int n = 0; n < 4; ++n) EXPECT_EQ(t.h.model.Frequency[n].back, Colour::Normal) << n;
    EXPECT_EQ(t.h.dialogs.lastFilter, "Freq. Table File(*.tbl)|*.tbl|All File|*.*|");
    EXPECT_EQ(t.h.dialogs.lastFolder, t.h.platform.folder);
    EXPECT_EQ(t.h.model.T_Message.text, "");
}

TEST_P(EachTool, SaveWritesDecimalCommasAsPoints) {
    Tool t(GetParam());
    t.h.model.OnFrequencyChange(3, "434,075");
    t.h.model.OnFrequencyChange(1, "434,6");
    t.h.Advance(50);
    EXPECT_EQ(t.h.model.Frequency[3].back, Colour::Inexact);
    const std::string path = t.File("comma.tbl");
    t.Click(kSave, path);
    EXPECT_EQ(t.h.model.Frequency[3].text, "434.075");
    EXPECT_EQ(t.h.model.Frequency[1].text, "434.6");
    // The box was checked again after the change.
    EXPECT_EQ(t.h.model.Frequency[3].back, Colour::Normal);
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(0, 14), "CH3F ,434.075,");
    EXPECT_NE(file.find("\r\nCH1F ,434.6,    "), std::string::npos) << file;
    EXPECT_EQ(file.find("434,"), std::string::npos) << file;
}

TEST_P(EachTool, LoadSetsTheBoxesTheFileNames) {
    // nullptr: what a record cut short by the end of the file does is ours
    // to choose; the records before it must be applied.
    using Texts = std::array<const char*, 4>;
    const Texts defaults = {"434.700", "434.600", "433.920", "434.075"};
    const struct {
        const char* file;
        Texts texts;
    } cases[] = {
        {"CH1F ,434.500,c\r\n", {"434.700", "434.500", "433.920", "434.075"}},
        {"ch3f ,433.100,c\r\nch2f,433.200,c\r\nCh1F ,433.300,c\r\nch0F ,433.400,c\r\n"
         "CH4F ,433.500,c\r\nCH1F_,433.600,c\r\n",
         defaults},
        {"", defaults},
        {"\r\n\r\n", defaults},
        // Any order, any line layout; the later of two records wins.
        {"CH0F ,433.100,c\r\nCH2F ,433.200,c\r\nCH0F ,433.300,c\r\n\r\n"
         "CH3F ,433.400\r\nc\r\nCH1F,433.500,c",
         {"433.300", "433.500", "433.200", "433.400"}},
        // The comment text is never read.
        {"CH2F ,433.125,   anything at all \"here\"\r\n",
         {"434.700", "434.600", "433.125", "434.075"}},
        {"CH3F ,433.150,c\r\nCH2F ,433.175", {"434.700", "434.600", nullptr, "433.150"}},
        {"CH3F ,433.150,c\r\nCH2F", {"434.700", "434.600", "433.920", "433.150"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Tool t(GetParam());
        const std::string path = t.File("hand.tbl");
        WriteFile(path, c.file);
        t.Click(kLoad, path);
        for (int n = 0; n < 4; ++n) {
            if (c.texts[n]) {
                EXPECT_EQ(t.h.model.Frequency[n].text, c.texts[n]) << n;
            }
        }
        EXPECT_EQ(ReadFile(path), c.file);
    }

    // Values go in as they stand and only the box check colours them.
    const bool send = GetParam() == "sendsetup";
    Tool t(GetParam());
    const std::string path = t.File("odd.tbl");
    WriteFile(path, "CH3F ,435.000,c\r\nCH2F ,434.080,c\r\nCH1F ,abc,c\r\nCH0F ,434.0750,c\r\n");
    t.Click(kLoad, path);
    EXPECT_EQ(t.Texts(), (std::array<std::string, 4>{"434.0750", "abc", "434.080", "435.000"}));
    EXPECT_EQ(t.h.model.Frequency[3].back, Colour::RangeError);
    EXPECT_EQ(t.h.model.Frequency[2].back, send ? Colour::RangeError : Colour::Normal);
    EXPECT_EQ(t.h.model.Frequency[1].back, Colour::RangeError);
    EXPECT_EQ(t.h.model.Frequency[0].back, Colour::Normal);
}

TEST_P(EachTool, SavingOverANonEmptyFileAsksFirst) {
    Tool t(GetParam());
    const std::string empty = t.File("empty.tbl");
    WriteFile(empty, "");
    t.Click(kSave, empty);
    EXPECT_TRUE(t.h.dialogs.questionsAsked.empty());
    EXPECT_EQ(ReadFile(empty), kDefaultTable);

    const std::string old = "CH1F ,433.500,c\r\n";
    const std::string path = t.File("old.tbl");
    const std::string question =
        path + "\r\nThis file already exists.\r\r\nDo you want to overwite.";

    // Cancel: nothing written, and the comma stays in the box.
    WriteFile(path, old);
    t.h.model.OnFrequencyChange(2, "433,950");
    t.h.dialogs.questionAnswers = {false};
    t.Click(kSave, path);
    ASSERT_EQ(t.h.dialogs.questionsAsked.size(), 1u);
    EXPECT_EQ(t.h.dialogs.questionsAsked[0].first, "Save frequency table.");
    EXPECT_EQ(t.h.dialogs.questionsAsked[0].second, question);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(t.h.model.Frequency[2].text, "433,950");
    EXPECT_EQ(t.h.model.T_Message.text, "");

    // OK: the file is replaced.
    t.h.dialogs.questionsAsked.clear();
    t.h.dialogs.questionAnswers = {true};
    t.Click(kSave, path);
    ASSERT_EQ(t.h.dialogs.questionsAsked.size(), 1u);
    EXPECT_EQ(t.h.dialogs.questionsAsked[0].second, question);
    std::string expected = kDefaultTable;
    expected.replace(expected.find("433.920"), 7, "433.950");
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(FolderEntries(t.h.platform.folder),
              (std::vector<std::string>{"empty.tbl", "old.tbl", GetParam() + ".ini"}));
}

TEST_P(EachTool, CancelOrNoNameDoesNothing) {
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        for (const int button : {kLoad, kSave}) {
            SCOPED_TRACE(std::string(button == kLoad ? "load" : "save") +
                         (answer ? " empty name" : " cancel"));
            Tool t(GetParam());
            t.h.model.OnFrequencyChange(0, "434,700");
            const auto before = t.Texts();
            t.Click(button, answer);
            EXPECT_EQ(t.Texts(), before);
            EXPECT_EQ(t.h.model.T_Message.text, "");
            EXPECT_TRUE(t.h.dialogs.questionsAsked.empty());
            EXPECT_EQ(FolderEntries(t.h.platform.folder),
                      std::vector<std::string>{GetParam() + ".ini"});
        }
    }
}

TEST_P(EachTool, FilesThatCannotBeReadOrWrittenShowAMessage) {
    const std::array<std::string, 4> plan = {"433.100", "433.200", "433.300", "433.400"};
    {
        Tool t(GetParam());
        t.SetTexts(plan);
        t.Click(kLoad, t.File("missing.tbl"));
        EXPECT_EQ(t.h.model.T_Message.text, "Table File Read Error!!");
        EXPECT_EQ(t.Texts(), plan);
        EXPECT_FALSE(fs::exists(t.File("missing.tbl")));
    }
    {
        Tool t(GetParam());
        t.SetTexts(plan);
        fs::create_directory(t.File("folder.tbl"));
        t.Click(kLoad, t.File("folder.tbl"));
        EXPECT_EQ(t.h.model.T_Message.text, "Table File Read Error!!");
        EXPECT_EQ(t.Texts(), plan);
    }
    for (const std::string target : {"no/such/folder/plan.tbl", "folder.tbl"}) {
        SCOPED_TRACE(target);
        Tool t(GetParam());
        t.SetTexts(plan);
        fs::create_directory(t.File("folder.tbl"));
        t.Click(kSave, t.File(target));
        EXPECT_EQ(t.h.model.T_Message.text, "Table File Write Error!!");
        EXPECT_EQ(t.Texts(), plan);
        EXPECT_TRUE(fs::is_empty(t.File("folder.tbl")));
    }
    {  // The disk fills up while the new table is written: the old one stays.
        Tool t(GetParam());
        t.SetTexts(plan);
        const std::string path = t.File("full.tbl");
        WriteFile(path, kDefaultTable);
        t.h.dialogs.questionAnswers = {true};
        {
            DiskFull full;
            t.Click(kSave, path);
        }
        EXPECT_EQ(t.h.model.T_Message.text, "Table File Write Error!!");
        EXPECT_EQ(ReadFile(path), kDefaultTable);
        EXPECT_EQ(FolderEntries(t.h.platform.folder),
                  (std::vector<std::string>{"full.tbl", GetParam() + ".ini"}));
    }
}

TEST(FreqTableModel, ATableOfOneToolLoadsInTheOther) {
    // Texts the file format has to protect as well as plain ones.
    const std::array<std::string, 4> fromReceiver = {"433.100", " 434.125 ", "\"433.9\"",
                                                     "4\"3\xc3\xa9"};
    const std::array<std::string, 4> fromTransmitter = {"\t434.650", "", "433.2\r\n5", "433.075"};

    Tool recv("recvsetup");
    Tool send("sendsetup");
    const std::string path = recv.File("shared.tbl");

    recv.SetTexts(fromReceiver);
    recv.Click(kSave, path);
    send.Click(kLoad, path);
    EXPECT_EQ(send.Texts(), fromReceiver);

    send.SetTexts(fromTransmitter);
    send.h.dialogs.questionAnswers = {true};
    send.Click(kSave, path);
    recv.Click(kLoad, path);
    EXPECT_EQ(recv.Texts(), fromTransmitter);
    EXPECT_EQ(recv.h.model.T_Message.text, "");
    EXPECT_EQ(send.h.model.T_Message.text, "");
}

}  // namespace
