// The module's replies as the receive handler sees them: framing across
// receive events, each reply kind in both tools, the received-text display and
// the bounds on what is kept between events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Harness;
using window::Colour;

constexpr std::size_t kRxBound = 16 * 1024 + 64;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

// One tool, started, its register grid filled by the refresh and its port
// open, as it is when the operator starts a sequence.
struct Tool {
    explicit Tool(const std::string& name) : recv(name == "recvsetup"), h(Profile(name)) {
        h.StartUp();
        h.Advance(50);
        h.OpenPort();
    }

    void Receive(const std::string& bytes) { h.port.Receive(bytes); }

    int Rows() const { return recv ? 5 : 12; }
    int EchoCount() const { return recv ? 3 : 12; }
    char OwnKind() const { return recv ? 'R' : 'T'; }
    char OtherKind() const { return recv ? 'T' : 'R'; }

    // The first count register values of a channel, comma separated.
    std::string Values(int channel, int count) const {
        std::string out;
        for (int k = 1; k <= count; ++k) {
            if (k > 1) out += ',';
            out += m.MSFlexGrid1.Cell(k, channel + 1);
        }
        return out;
    }
    std::string ReadBack(const std::string& field, int channel) const {
        return "*R " + field + "," + Values(channel, Rows());
    }
    // The transmitter puts one more blank before its echoed values.
    std::string Echo(int channel) const {
        return (recv ? "*T " : "*T  ") + Values(channel, EchoCount());
    }
    std::string WriteConfirm(const std::string& field, int channel) const {
        return "*W " + field + "," + Values(channel, EchoCount());
    }
    std::string VersionLine(char kind) const {
        return std::string("*V ") + kind + "1.05 " + (recv ? "RX" : "TX") + "-434 SIM";
    }

    // The channels whose frequency box is OkColour, e.g. "02". In recvsetup
    // the ChStep label goes with the box; sendsetup has no ChStep labels.
    std::string Confirmed() const {
        std::string out;
        for (int c = 0; c < 4; ++c) {
            const bool ok = m.Frequency[static_cast<std::size_t>(c)].back == Colour::Ok;
            if (ok) out += static_cast<char>('0' + c);
            const Colour step = m.ChStep[static_cast<std::size_t>(c)].back;
            EXPECT_EQ(step == Colour::Ok, recv && ok) << "ChStep " << c;
        }
        return out;
    }

    bool recv;
    Harness h;
    window::FormModel& m = h.model;
};

std::size_t Utf8Characters(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class EachTool : public ::testing::TestWithParam<std::string> {
  protected:
    bool Recv() const { return GetParam() == "recvsetup"; }
};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(EachTool, FlashClearResult) {
    // recvsetup reports on the identity line, sendsetup on the channel line.
    struct Case {
        const char* line;
        const char* message;  // expected on the tool's label; "before" = untouched
    };
    const std::string error = Recv() ? "Flash Clear Error!" : "Flash Clear Error!!";
    const Case cases[] = {
        {"*C 00 OK", ""},       {"*C 01 NG", error.c_str()},
        {"*C 00   ", ""},       {"*C 01xxx", error.c_str()},
        {"*C 01 N", "before"},  {"*C 01", "before"},
        {"*C", "before"},       {"*C 02 NG", "before"},
        {"*C 1  NG", "before"},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        t.m.C_Message.text = "before";
        t.m.T_Message.text = "before";
        t.Receive(std::string(c.line) + "\r");
        const auto& own = Recv() ? t.m.C_Message : t.m.T_Message;
        const auto& other = Recv() ? t.m.T_Message : t.m.C_Message;
        EXPECT_EQ(own.text, c.message) << c.line;
        EXPECT_EQ(other.text, "before") << c.line;
        EXPECT_EQ(t.m.Engine().State().replyFlag, 1) << c.line;
    }
}

TEST_P(EachTool, IdentityReply) {
    struct Case {
        std::string line;
        const char* serial;
        const char* date;
        const char* offset;  // sendsetup only
    };
    const Case cases[] = {
        {"*D 012345 2026/11/30 FO=7F", "00074565", "2026/11/30", "7F"},
        {"*D 000005", "00000005", "", ""},
        {"*D FFFFFF 2026/11/30", "16777215", "2026/11/30", ""},
        {"*D ffffff", "16777215", "", ""},
        {"*D", "00000000", "", ""},
        {"*D 01", "00065536", "", ""},
        {"*D 0G1234", "00004660", "", ""},
        {"*D 000001 2026/11/3", "00000001", "2026/11/3", ""},
        {"*D 000001 2026/11/30 FO=7", "00000001", "2026/11/30", "7"},
        {"*D 000001 2026/11/30 FO=7F9", "00000001", "2026/11/30", "7F"},
        // Bytes from the line are Latin-1.
        {"*D 000001 \xb0"
         "2026/11/3",
         "00000001",
         "\xc2\xb0"
         "2026/11/3",
         ""},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        t.m.FOffsetV.text = "--";
        t.Receive(c.line + "\r");
        EXPECT_EQ(t.m.Serial.text, c.serial) << c.line;
        EXPECT_EQ(t.m.Serial.back, Colour::Ok) << c.line;
        EXPECT_EQ(t.m.FactoryDate.text, c.date) << c.line;
        EXPECT_EQ(t.m.FactoryDate.back, Colour::Ok) << c.line;
        EXPECT_EQ(t.m.FOffsetV.text, Recv() ? "--" : c.offset) << c.line;
        EXPECT_EQ(t.m.FOffsetV.back, Recv() ? Colour::Blank : Colour::Ok) << c.line;
        EXPECT_EQ(t.m.Engine().State().replyFlag, 1) << c.line;
        EXPECT_EQ(t.m.Version.text, "") << c.line;
    }
}

TEST_P(EachTool, CommonParameterReply) {
    // Only the transmitter has common parameters; recvsetup ignores "*M".
    struct Case {
        const char* line;
        const char* message;  // sendsetup's T_Message
        int replyFlag;        // sendsetup's ReplyFlag
    };
    const Case cases[] = {
        {"*M 06,29,B8", "before", 1},
        {"*M 06,29,B8,FF", "before", 1},
        {"*M 06,29,B9", "Common Parameter Error!", 1},
        {"*M 06,29,b8", "Common Parameter Error!", 1},
        {"*M 06,29", "Common Parameter Error!", 1},
        {"*M Err", "Common Parameter Error!", 1},
        {"*M", "Common Parameter Error!", 1},
        {"*m 06,29,B8", "before", 0},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        t.m.T_Message.text = "before";
        t.m.C_Message.text = "before";
        t.Receive(std::string(c.line) + "\r");
        EXPECT_EQ(t.m.T_Message.text, Recv() ? "before" : c.message) << c.line;
        EXPECT_EQ(t.m.Engine().State().replyFlag, Recv() ? 0 : c.replyFlag) << c.line;
        EXPECT_EQ(t.m.C_Message.text, "before") << c.line;
    }
}

struct ChannelCase {
    std::string name;
    std::string line;
    int curChannel;
    int replyFlag;
    std::string message;    // T_Message afterwards; "before" = untouched
    std::string confirmed;  // channels turned OkColour
};

void RunChannelCases(const std::string& tool, const std::vector<ChannelCase>& cases) {
    for (const ChannelCase& c : cases) {
        Tool t(tool);
        t.m.Engine().State().curChannel = c.curChannel;
        t.m.T_Message.text = "before";
        t.Receive(c.line + "\r");
        EXPECT_EQ(t.m.Engine().State().replyFlag, c.replyFlag) << c.name << ": " << c.line;
        EXPECT_EQ(t.m.T_Message.text, c.message) << c.name << ": " << c.line;
        EXPECT_EQ(t.Confirmed(), c.confirmed) << c.name << ": " << c.line;
        EXPECT_EQ(t.m.Engine().State().curChannel, c.curChannel) << c.name;
    }
}

TEST_P(EachTool, ReadBackReply) {
    const Tool ref(GetParam());
    ASSERT_NE(Lower(ref.Values(1, ref.Rows())), ref.Values(1, ref.Rows()));
    std::string spaced = "*R 02";  // separators are never looked at
    for (int k = 1; k <= ref.Rows(); ++k) spaced += " " + ref.m.MSFlexGrid1.Cell(k, 3);
    std::string lastWrong = ref.ReadBack("03", 3);
    lastWrong.replace(lastWrong.size() - 2, 2, "ZZ");

    const std::vector<ChannelCase> cases = {
        {"all equal", ref.ReadBack("02", 2), 0, 1, "before", "2"},
        {"not compared with CurChannel", ref.ReadBack("03", 3), 1, 1, "before", "3"},
        {"other separators", spaced, 0, 1, "before", "2"},
        {"values of another channel", ref.ReadBack("00", 2), 0, 1, "Discrepancy!!", ""},
        {"last value differs", lastWrong, 3, 1, "Discrepancy!!", ""},
        {"lower-case values", "*R 01," + Lower(ref.Values(1, ref.Rows())), 1, 1, "Discrepancy!!",
         ""},
        {"cut short", "*R 01," + ref.Values(1, ref.Rows() - 1), 1, 1, "Discrepancy!!", ""},
        {"no values", "*R 01", 1, 1, "Discrepancy!!", ""},
        {"empty channel field reads 0", "*R", 0, 1, "Discrepancy!!", ""},
        {"channel 4", ref.ReadBack("04", 0), 0, 0, "before", ""},
        {"channel 0A", ref.ReadBack("0A", 0), 0, 0, "before", ""},
        {"channel 0a", ref.ReadBack("0a", 0), 0, 0, "before", ""},
        {"channel FF", ref.ReadBack("FF", 0), 0, 0, "before", ""},
        {"channel 10 is hexadecimal", ref.ReadBack("10", 0), 0, 0, "before", ""},
        // A sign is no hexadecimal digit: the field reads 0.
        {"channel -1", ref.ReadBack("-1", 0), 0, 1, "before", "0"},
    };
    RunChannelCases(GetParam(), cases);
}

TEST_P(EachTool, TestEchoIsComparedWithCurChannel) {
    const Tool ref(GetParam());
    // recvsetup compares three values, sendsetup twelve: channels 0 and 2
    // differ within the first three, channels 2 and 3 only in rows 2 to 4.
    ASSERT_NE(ref.Values(0, 3), ref.Values(2, 3));
    std::string lastWrong = ref.Echo(1);
    lastWrong.replace(lastWrong.size() - 2, 2, "ZZ");
    const std::string tail = ",ZZ,ZZ,ZZ";
    const std::string misaligned = (ref.recv ? "*T  " : "*T ") + ref.Values(1, ref.EchoCount());

    const std::vector<ChannelCase> cases = {
        {"echo of CurChannel", ref.Echo(1), 1, 1, "before", ""},
        {"echo of another channel", ref.Echo(2), 0, 1, "Test Data error!!", ""},
        {"last compared value differs", lastWrong, 1, 1, "Test Data error!!", ""},
        {"more values than compared", ref.Echo(3) + tail, 3, 1, "before", ""},
        {"only three values", (ref.recv ? "*T " : "*T  ") + ref.Values(2, 3), 2, 1,
         ref.recv ? "before" : "Test Data error!!", ""},
        {"other tool's layout", misaligned, 1, 1, "Test Data error!!", ""},
        {"empty echo", "*T", 0, 1, "Test Data error!!", ""},
    };
    RunChannelCases(GetParam(), cases);
}

TEST_P(EachTool, WriteConfirmation) {
    const Tool ref(GetParam());
    const bool recv = ref.recv;
    ASSERT_NE(ref.Values(0, 3), ref.Values(2, 3));
    const std::string writeError = "Flash Write Error!!";

    std::vector<ChannelCase> cases = {
        {"values of CurChannel", ref.WriteConfirm("02", 2), 2, 1, "before", "2"},
        // Compared with the channel the last "/T " carried; the colour goes
        // to the channel the reply names.
        {"colour to the named channel", ref.WriteConfirm("02", 0), 0, 1, "before", "2"},
        {"values of the named channel", ref.WriteConfirm("00", 2), 0, 1, writeError, ""},
        {"cut short", "*W 01," + ref.Values(1, ref.EchoCount() - 1), 1, 1, writeError, ""},
        {"channel 3", ref.WriteConfirm("03", 3), 3, 1, "before", "3"},
        {"channel 4", ref.WriteConfirm("04", 0), 0, 0, "before", ""},
        {"channel 10", ref.WriteConfirm("10", 0), 0, 0, "before", ""},
        // recvsetup shows its first message, then the line fails as a
        // confirmation of channel 0 ("Er" reads 0); in sendsetup "E" is
        // hexadecimal 14, which ends the loop.
        {"write error", "*W Err", 0, recv ? 1 : 0, writeError, ""},
        // Both tests are made: with values where a confirmation has them,
        // recvsetup keeps its first message and confirms channel 0.
        {"write error with values", "*W Err" + ref.Values(0, ref.EchoCount()), 0, recv ? 1 : 0,
         recv ? "Flash Write Error!" : writeError, recv ? "0" : ""},
    };
    if (recv) {
        // Decimal channel fields.
        const std::vector<ChannelCase> more = {
            {"the documented layout", "*W 00,A4,06,02", 0, 1, "before", "0"},
            {"only three values compared", "*W 01,A4,06,02,ZZ", 1, 1, "before", "1"},
            {"channel 0A reads 0", ref.WriteConfirm("0A", 1), 1, 1, "before", "0"},
            {"channel -1", ref.WriteConfirm("-1", 0), 0, 0, "before", ""},
            {"channel .5", ref.WriteConfirm(".5", 0), 0, 0, "before", ""},
            {"channel 3.", ref.WriteConfirm("3.", 3), 3, 1, "before", "3"},
            {"channel +2", ref.WriteConfirm("+2", 0), 0, 1, "before", "2"},
            {"channel -0", ref.WriteConfirm("-0", 1), 1, 1, "before", "0"},
        };
        cases.insert(cases.end(), more.begin(), more.end());
    } else {
        // Hexadecimal channel fields.
        const std::vector<ChannelCase> more = {
            {"twelve values compared", "*W 01," + ref.Values(1, 3), 1, 1, writeError, ""},
            {"channel 0A", ref.WriteConfirm("0A", 0), 0, 0, "before", ""},
            {"channel 0a", ref.WriteConfirm("0a", 0), 0, 0, "before", ""},
            {"channel -1 reads 0", ref.WriteConfirm("-1", 1), 1, 1, "before", "0"},
        };
        cases.insert(cases.end(), more.begin(), more.end());
    }
    RunChannelCases(GetParam(), cases);
}

TEST_P(EachTool, VersionReplyOfOwnAndOtherKind) {
    const Tool ref(GetParam());
    const std::string own = ref.VersionLine(ref.OwnKind());
    const std::string other = ref.VersionLine(ref.OtherKind());
    ASSERT_EQ(own.size(), 19u);
    struct Case {
        std::string line;
        std::string version;  // "" and BlankColour: ignored
        Colour versionBack;
        bool ignored;
        bool ownKind;
    };
    const Case cases[] = {
        {own, std::string(1, ref.OwnKind()) + "1.05", Colour::Ok, false, true},
        {own + " and more", std::string(1, ref.OwnKind()) + "1.05", Colour::Ok, false, true},
        {other, std::string(1, ref.OtherKind()) + "1.05", Colour::Blank, false, false},
        {"*V " + Lower(own.substr(3)), Lower(own.substr(3, 5)), Colour::Blank, false, false},
        {"*V " + std::string(1, ref.OwnKind()) +
             "1.\xb0"
             "5 XX-434 SIM",
         std::string(1, ref.OwnKind()) + "1.\xc2\xb0"
                                         "5",
         Colour::Ok, false, true},
        {own.substr(0, 18), "", Colour::Blank, true, false},
        {other.substr(0, 18), "", Colour::Blank, true, false},
        {"*V", "", Colour::Blank, true, false},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        t.m.EnableModuleButtons();
        t.m.Serial.text = "00074565";
        t.m.Serial.back = Colour::Ok;
        t.m.C_Message.text = "before";
        t.m.Engine().State().replyFlag = 0;
        t.Receive(c.line + "\r");

        EXPECT_EQ(t.m.Version.text, c.version) << c.line;
        EXPECT_EQ(t.m.Version.back, c.versionBack) << c.line;
        EXPECT_EQ(t.m.Engine().State().replyFlag, c.ownKind ? 1 : 0) << c.line;
        EXPECT_EQ(t.m.Serial.text, c.ignored ? "00074565" : "") << c.line;
        EXPECT_EQ(t.m.Serial.back, c.ignored ? Colour::Ok : Colour::Blank) << c.line;
        const bool wrongKind = !c.ignored && !c.ownKind;
        EXPECT_EQ(t.m.C_Message.text, c.ignored   ? "before"
                                      : wrongKind ? "Target error!!"
                                                  : "")
            << c.line;
        // The wrong module kind leaves only "Get Info." usable.
        EXPECT_TRUE(t.m.GetInfoSW.enabled) << c.line;
        EXPECT_EQ(t.m.ChWriteSW.enabled, !wrongKind) << c.line;
        EXPECT_EQ(t.m.ChCheckSW.enabled, !wrongKind) << c.line;
        EXPECT_EQ(t.m.ChTestSW[2].enabled, !wrongKind) << c.line;
    }

    // The wrong kind leaves a raised ReplyFlag raised.
    Tool t(GetParam());
    t.m.Engine().State().replyFlag = 1;
    t.Receive(other + "\r");
    EXPECT_EQ(t.m.Engine().State().replyFlag, 1);
}

TEST_P(EachTool, RepliesAreFramedAcrossReceiveEvents) {
    const Tool ref(GetParam());
    const std::string v = ref.VersionLine(ref.OwnKind());
    const std::string d = "*D 012345 2026/11/30 FO=7F";
    const std::string version = std::string(1, ref.OwnKind()) + "1.05";
    struct Case {
        const char* name;
        std::vector<std::string> events;
        std::string version;
        std::string serial;
        std::string rxLeft;
    };
    const Case cases[] = {
        {"two replies in one event", {v + "\r" + d + "\r"}, version, "00074565", ""},
        // Handled in order: the version reply clears Serial.
        {"in the order received", {d + "\r" + v + "\r"}, version, "", ""},
        {"split over events",
         {v.substr(0, 7), v.substr(7, 5), v.substr(12), "\r"},
         version,
         "",
         ""},
        {"CR in its own event", {v, "\r" + d, "\r"}, version, "00074565", ""},
        {"CR LF line ends", {v + "\r\n" + d + "\r\n"}, version, "00074565", ""},
        {"CR LF split", {v + "\r", "\n" + d + "\r", "\n"}, version, "00074565", ""},
        {"fragment dropped at the next star", {"*V T9.99 XX", v + "\r"}, version, "", ""},
        {"fragment in the same event", {"*D 999999" + v + "\r"}, version, "", ""},
        {"noise before a reply", {"garbage\r\n", "xx" + d + "\r"}, "", "00074565", ""},
        {"double star", {"*" + v + "\r"}, version, "", ""},
        {"unknown reply", {"*X 012345\r*\r"}, "", "", ""},
        {"unfinished reply waits", {d + "\r", v}, "", "00074565", v},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        for (const std::string& e : c.events) t.Receive(e);
        EXPECT_EQ(t.m.Version.text, c.version) << c.name;
        EXPECT_EQ(t.m.Serial.text, c.serial) << c.name;
        EXPECT_EQ(t.m.Engine().State().rxBuffer, c.rxLeft) << c.name;
    }
}

TEST_P(EachTool, ASplitReplyIsHandledWhenItsCrArrives) {
    Tool t(GetParam());
    const std::string line = t.VersionLine(t.OwnKind()) + "\r";
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        t.Receive(line.substr(i, 1));
        ASSERT_EQ(t.m.Version.text, "") << "after byte " << i;
        ASSERT_EQ(t.m.Engine().State().replyFlag, 0) << "after byte " << i;
    }
    t.Receive("\r");
    EXPECT_EQ(t.m.Version.text, std::string(1, t.OwnKind()) + "1.05");
    EXPECT_EQ(t.m.Engine().State().replyFlag, 1);
    EXPECT_EQ(t.m.Engine().State().rxBuffer, "");
}

TEST_P(EachTool, AStoppedLineLoopResumesAtTheNextReceiveEvent) {
    const Tool ref(GetParam());
    const std::string d = "*D 012345 2026/11/30 FO=7F";
    struct Case {
        const char* name;
        std::string stopper;
        int replyFlag;
        const char* message;
    };
    std::vector<Case> cases = {
        {"read-back mismatch", ref.ReadBack("01", 2), 1, "Discrepancy!!"},
        {"read-back channel above 3", ref.ReadBack("07", 0), 0, "before"},
        {"test echo mismatch", ref.Echo(2), 1, "Test Data error!!"},
        {"write mismatch", ref.WriteConfirm("00", 2), 1, "Flash Write Error!!"},
        {"write channel above 3", ref.WriteConfirm("09", 0), 0, "before"},
    };
    if (ref.recv)
        cases.push_back({"write channel negative", ref.WriteConfirm("-1", 0), 0, "before"});

    for (const Case& c : cases) {
        Tool t(GetParam());
        t.m.T_Message.text = "before";
        t.Receive(c.stopper + "\r" + d + "\r" + t.ReadBack("01", 1) + "\r");
        EXPECT_EQ(t.m.Engine().State().replyFlag, c.replyFlag) << c.name;
        EXPECT_EQ(t.m.T_Message.text, c.message) << c.name;
        EXPECT_EQ(t.m.Serial.text, "") << c.name;
        EXPECT_EQ(t.Confirmed(), "") << c.name;

        // The next receive event, even one with only noise in it, handles
        // the lines left over.
        t.m.Engine().State().replyFlag = 0;
        t.Receive("\n");
        EXPECT_EQ(t.m.Serial.text, "00074565") << c.name;
        EXPECT_EQ(t.Confirmed(), "1") << c.name;
        EXPECT_EQ(t.m.Engine().State().replyFlag, 1) << c.name;
        EXPECT_EQ(t.m.T_Message.text, c.message) << c.name;
        EXPECT_EQ(t.m.Engine().State().rxBuffer, "") << c.name;
    }
}

TEST_P(EachTool, ACheckGoesOnAfterADiscrepancy) {
    Tool t(GetParam());
    // The module answers each read with the stored values; channel 2 holds
    // those of channel 0.
    const Tool ref(GetParam());
    t.h.SetResponder([&ref](const std::string& command) -> std::string {
        if (command == "/M\r") return "*M 06,29,B8\r";
        if (command.rfind("/R 0", 0) != 0) return "";
        const int channel = command[4] - '0';
        return ref.ReadBack(command.substr(3, 2), channel == 2 ? 0 : channel) + "\r";
    });
    t.m.EnableModuleButtons();
    t.m.OnChCheckSWClick();
    for (int tick = 0; tick < 8; ++tick) t.h.Advance(146);
    EXPECT_EQ(t.m.T_Message.text, "Discrepancy!!");
    EXPECT_EQ(t.Confirmed(), "013");
    EXPECT_TRUE(t.m.ChWriteSW.enabled);
}

TEST_P(EachTool, TermShowsTheLast1000ReceivedCharacters) {
    Tool t(GetParam());
    t.Receive(std::string(600, 'a'));
    EXPECT_EQ(t.m.Term.text, std::string(600, 'a'));
    t.Receive(std::string(600, 'b'));
    EXPECT_EQ(t.m.Term.text, std::string(400, 'a') + std::string(600, 'b'));

    // A received byte 0xB0 is one character, shown as the degree sign.
    t.Receive("\xb0");
    EXPECT_EQ(Utf8Characters(t.m.Term.text), 1000u);
    EXPECT_EQ(t.m.Term.text, std::string(399, 'a') + std::string(600, 'b') + "\xc2\xb0");

    std::string high;
    for (int i = 0; i < 1200; ++i) high += static_cast<char>(0x80 + i % 128);
    t.Receive(high);
    EXPECT_EQ(Utf8Characters(t.m.Term.text), 1000u);
    EXPECT_EQ(t.m.Term.text.size(), 2000u);

    Tool u(GetParam());
    for (int i = 0; i < 300; ++i) {
        u.Receive("*C 00 OK\r\xb0");
        ASSERT_LE(Utf8Characters(u.m.Term.text), 1000u);
    }
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += "*C 00 OK\r\xc2\xb0";
    EXPECT_EQ(u.m.Term.text, expected);
}

TEST_P(EachTool, EndlessNoiseKeepsTheBufferSmall) {
    struct Case {
        const char* name;
        std::string head;   // sent once
        std::string chunk;  // then sent 300 times
        std::size_t bound;  // RxBuffer never longer than this
    };
    const Case cases[] = {
        {"noise without a star", "", std::string(1000, 'n') + "\r\n", 0},
        {"a star never followed by CR", "*", std::string(1000, 'A'), 64},
        {"stars without CR", "", std::string(500, '*') + std::string(500, 'x'), 64},
        {"a long version reply", "*V R1.05 RX-434 SIM*V T1.05 TX-434 SIM", std::string(999, ' '),
         64},
    };
    for (const Case& c : cases) {
        Tool t(GetParam());
        t.Receive(c.head);
        for (int i = 0; i < 300; ++i) {
            t.Receive(c.chunk);
            ASSERT_LE(t.m.Engine().State().rxBuffer.size(), c.bound) << c.name << " event " << i;
        }
        // Whatever came before, the next complete reply is handled.
        const std::string v = t.VersionLine(t.OwnKind());
        t.Receive("\r" + v + "\r");
        EXPECT_EQ(t.m.Version.text, std::string(1, t.OwnKind()) + "1.05") << c.name;
        EXPECT_EQ(t.m.Version.back, Colour::Ok) << c.name;
        EXPECT_EQ(t.m.Engine().State().rxBuffer, "") << c.name;
    }

    // A reply longer than anything read is still the reply it starts as.
    Tool t(GetParam());
    const std::string v = t.VersionLine(t.OwnKind());
    t.Receive(v);
    for (int i = 0; i < 50; ++i) t.Receive(std::string(1000, 'x'));
    t.Receive("\r");
    EXPECT_EQ(t.m.Version.back, Colour::Ok);
    EXPECT_EQ(t.m.Engine().State().replyFlag, 1);
}

TEST_P(EachTool, ABacklogLeftByAStoppedLoopIsBounded) {
    Tool t(GetParam());
    std::string backlog = "*R 09\r";
    while (backlog.size() < 3 * 16 * 1024) backlog += "*D 000005\r";
    t.Receive(backlog);
    EXPECT_LE(t.m.Engine().State().rxBuffer.size(), 16u * 1024);
    EXPECT_EQ(t.m.Serial.text, "");
    t.Receive("\n");
    EXPECT_EQ(t.m.Serial.text, "00000005");
    EXPECT_EQ(t.m.Engine().State().rxBuffer, "");
}

// One large read brings a reply that stops the loop, two complete replies and
// the start of a long one. The complete replies are handled at the next
// receive event, and the long one when its CR arrives.
TEST_P(EachTool, ALongUnfinishedReplyAfterAStoppedLoopKeepsTheRepliesBeforeIt) {
    Tool t(GetParam());
    const std::string v = t.VersionLine(t.OwnKind());
    t.Receive("*R 09\r" + v + "\r*D 012345 2026/11/30 FO=7F" + std::string(40000, ' '));
    EXPECT_LE(t.m.Engine().State().rxBuffer.size(), kRxBound);
    EXPECT_EQ(t.m.Version.text, "");
    t.Receive("\r");
    EXPECT_EQ(t.m.Version.text, std::string(1, t.OwnKind()) + "1.05");
    EXPECT_EQ(t.m.Serial.text, "00074565");
    EXPECT_EQ(t.m.Engine().State().replyFlag, 1);
}

}  // namespace
