// A table that does not load completely keeps what it loaded and says why in
// the channel status line's tooltip.
#include <gtest/gtest.h>

#include "fakes.h"
#include "recv_profile.h"

namespace {

using testing_support::Harness;
using testing_support::WriteFile;

TEST(TableLoadFailure, TheReasonIsInTheStatusLineTooltip) {
    const std::string good = "CH3F ,433.100,c\r\nCH2F ,433.200,c\r\n";
    const struct {
        const char* trace;
        std::string file;  // empty: no such file
        const char* message;
        const char* reason;  // in the tooltip; nullptr: none
        const char* ch3;     // channel 3 afterwards
    } cases[] = {
        {"ends inside a record", good + "CH1F ,433.300", "Table File Read Error!!",
         "ends inside a record", "433.100"},
        {"binary garbage", "CH3F ,433.100,c\r\n\x01\x02\xff\x7fzz,", "Table File Read Error!!",
         "not a frequency table", "433.100"},
        {"cannot be read", "", "Table File Read Error!!", "cannot be read", "434.075"},
        {"a whole table", good, "", nullptr, "433.100"},
        {"keys in lower case", "ch3f ,433.100,c\r\n", "", nullptr, "434.075"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        Harness h(RecvSetupProfile());
        h.StartUp();
        const std::string path = h.platform.folder + "/hand.tbl";
        if (!c.file.empty()) WriteFile(path, c.file);
        h.dialogs.fileAnswers.push_back(path);
        h.model.OnFreqLoadSaveSWClick(0);
        EXPECT_EQ(h.model.T_Message.text, c.message);
        if (c.reason) {
            EXPECT_NE(h.model.T_Message.toolTip.find(path + ": "), std::string::npos);
            EXPECT_NE(h.model.T_Message.toolTip.find(c.reason), std::string::npos)
                << h.model.T_Message.toolTip;
        } else {
            EXPECT_EQ(h.model.T_Message.toolTip, "");
        }
        EXPECT_EQ(h.model.Frequency[3].text, c.ch3);

        // The next table that loads whole takes the message away.
        WriteFile(path, good);
        h.dialogs.fileAnswers.push_back(path);
        h.model.OnFreqLoadSaveSWClick(0);
        EXPECT_EQ(h.model.T_Message.text, "");
        EXPECT_EQ(h.model.T_Message.toolTip, "");
    }
}

}  // namespace
