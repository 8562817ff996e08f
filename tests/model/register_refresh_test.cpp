// The 50 ms register refresh as the window shows it: the grid columns, the
// receiver's counter labels and the InexactColour alarm.
#include <gtest/gtest.h>

#include <sstream>

#include "fakes.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

using testing_support::Harness;
using window::Colour;
using Column = std::vector<std::string>;

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

class EachTool : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

Column GridColumn(const window::FormModel& m, int channel) {
    Column cells;
    for (int r = 1; r < m.MSFlexGrid1.rows; ++r)
        cells.push_back(m.MSFlexGrid1.Cell(r, channel + 1));
    return cells;
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Everything the refresh must leave alone, and what it writes, as text.
std::string Describe(const window::Control& c) {
    std::ostringstream out;
    out << '[' << c.text << '|' << static_cast<int>(c.back) << '|' << c.enabled << '|' << c.toolTip
        << '|' << c.value << '|';
    for (const auto& item : c.items) out << item << ';';
    return out.str() + "]";
}

std::string ControlsOutsideTheRefresh(const window::FormModel& m) {
    std::string s = m.Caption + '|' + std::to_string(m.Width) + '|' + std::to_string(m.Top) + '|' +
                    std::to_string(m.Left) + '|' + m.DebugMode + '|' + m.Engine().State().rxBuffer + '|' +
                    std::to_string(m.Engine().State().replyFlag) + std::to_string(m.Engine().State().seqStep) +
                    std::to_string(m.Engine().State().curChannel) + '\n';
    for (const window::Control* c :
         {&m.Combo1, &m.ComStart, &m.P_Message, &m.Version, &m.Serial, &m.GetInfoSW, &m.C_Message,
          &m.FreqLoadSaveSW[0], &m.FreqLoadSaveSW[1], &m.FreqDefaultSW, &m.ChCheckSW, &m.ChWriteSW,
          &m.T_Message, &m.Check1, &m.LogFileName, &m.L_Message, &m.FactoryDate, &m.FOffsetV,
          &m.Term}) {
        s += Describe(*c);
    }
    for (const auto* row : {&m.Frequency, &m.Fup, &m.Fdown, &m.ChTestSW}) {
        for (window::Control c : *row) {
            if (row == &m.Frequency) c.toolTip.clear();  // the refresh's own
            s += Describe(c);
        }
    }
    // The grid's headers and row names.
    for (int c = 0; c < m.MSFlexGrid1.cols; ++c) s += m.MSFlexGrid1.Cell(0, c) + ';';
    for (int r = 1; r < m.MSFlexGrid1.rows; ++r) s += m.MSFlexGrid1.Cell(r, 0) + ';';
    return s;
}

std::string RefreshedControls(const window::FormModel& m) {
    std::string s;
    for (const auto* row :
         {&m.LoFrequency, &m.ChStep, &m.Rcounter, &m.ProgramCounter, &m.SwallowCounter}) {
        for (const auto& c : *row) s += Describe(c);
    }
    for (const auto& cell : m.MSFlexGrid1.cells) s += cell + ';';
    for (const auto& c : m.Frequency) s += c.toolTip + ';';
    return s;
}

const std::array<Column, 4> kReceiverDefaults = {
    Column{"A4", "06", "02", "01", "10"},  // 434.700
    Column{"A4", "06", "02", "01", "08"},  // 434.600
    Column{"4D", "08", "42", "01", "06"},  // 433.920
    Column{"A4", "06", "01", "01", "5E"},  // 434.075
};
const std::array<Column, 4> kTransmitterDefaults = {
    Column{"21", "E0", "07", "0E", "1C", "0B", "74", "70", "40", "FF", "0C", "41"},
    Column{"21", "DC", "C8", "0D", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
    Column{"21", "5B", "1C", "0C", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
    Column{"21", "07", "7E", "0C", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
};

TEST_P(EachTool, EachTickShowsTheRegistersOfTheCurrentTexts) {
    const bool recv = GetParam() == "recvsetup";
    const auto& defaults = recv ? kReceiverDefaults : kTransmitterDefaults;
    Harness h(Profile(GetParam()));
    h.StartUp();
    h.Advance(50);
    const auto& m = h.model;
    for (int n = 0; n < 4; ++n) EXPECT_EQ(GridColumn(m, n), defaults[n]) << n;

    // An edit shows up in its own column by the next tick, and only there.
    h.model.OnFrequencyChange(2, "434.700");
    h.Advance(49);
    EXPECT_EQ(GridColumn(m, 2), defaults[2]);
    h.Advance(1);
    EXPECT_EQ(GridColumn(m, 2), defaults[0]);
    for (int n : {0, 1, 3}) EXPECT_EQ(GridColumn(m, n), defaults[n]) << n;
}

TEST(RegisterRefresh, ReceiverCounterLabelsFollowTheLocale) {
    const struct {
        char separator;
        const char* lo[4];
    } cases[] = {
        {'.', {"413.0000", "412.9000", "412.2200", "412.3750"}},
        {',', {"413,0000", "412,9000", "412,2200", "412,3750"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.separator);
        Harness h(RecvSetupProfile());
        h.platform.separator = c.separator;
        h.StartUp();
        h.Advance(50);
        const auto& m = h.model;
        const char* step[4] = {"12.5", "12.5", "10.0", "12.5"};
        const char* r[4] = {"1700", "1700", "2125", "1700"};
        const char* programCounter[4] = {"258", "258", "322", "257"};
        const char* swallow[4] = {"16", "8", "6", "94"};
        for (int n = 0; n < 4; ++n) {
            SCOPED_TRACE(n);
            EXPECT_EQ(m.ChStep[n].text, step[n]);
            EXPECT_EQ(m.LoFrequency[n].text, c.lo[n]);
            EXPECT_EQ(m.Rcounter[n].text, r[n]);
            EXPECT_EQ(m.ProgramCounter[n].text, programCounter[n]);
            EXPECT_EQ(m.SwallowCounter[n].text, swallow[n]);
        }
        // The frequencies themselves never take the locale's separator.
        h.model.OnFupClick(3);
        EXPECT_EQ(m.Frequency[3].text, "434.100");
    }
}

TEST_P(EachTool, InexactColourMarksWhatCannotBeSetUpExactly) {
    const bool recv = GetParam() == "recvsetup";
    const struct {
        const char* text;
        bool alarmed;
        Column registers;  // rows 1 to 5 (recvsetup) or 1 to 4 (sendsetup)
    } cases[] = {
        {"434,075", true,
         recv ? Column{"A4", "06", "01", "01", "5E"} : Column{"21", "07", "7E", "0C"}},
        {"434.0751", recv, recv ? Column{"4D", "08", "42", "01", "15"} : Column{}},
        {"434.080", false, recv ? Column{"4D", "08", "42", "01", "16"} : Column{}},
        {"434.075", false,
         recv ? Column{"A4", "06", "01", "01", "5E"} : Column{"21", "07", "7E", "0C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Harness h(Profile(GetParam()));
        h.StartUp();
        auto& box = h.model.Frequency[1];
        h.model.OnFrequencyChange(1, c.text);
        const Colour checked = box.back;
        h.Advance(50);
        EXPECT_EQ(box.back, c.alarmed ? Colour::Inexact : checked);
        Column rows = GridColumn(h.model, 1);
        rows.resize(c.registers.size());
        EXPECT_EQ(rows, c.registers);
        if (!c.alarmed) continue;

        // Ticks never take the alarm back; focus loss and the next edit do.
        h.Advance(500);
        EXPECT_EQ(box.back, Colour::Inexact);
        h.model.OnFrequencyLostFocus(1);
        EXPECT_EQ(box.back, Colour::Normal);
        h.Advance(50);  // the cause is still there
        EXPECT_EQ(box.back, Colour::Inexact);
        h.model.OnFrequencyChange(1, "434.600");
        EXPECT_EQ(box.back, Colour::Normal);
        h.Advance(500);
        EXPECT_EQ(box.back, Colour::Normal);
    }

    // Nor does the refresh take back other colours.
    Harness h(Profile(GetParam()));
    h.StartUp();
    h.model.OnFrequencyChange(0, "435.000");
    h.model.Frequency[2].back = Colour::Ok;
    h.Advance(500);
    EXPECT_EQ(h.model.Frequency[0].back, Colour::RangeError);
    EXPECT_EQ(h.model.Frequency[2].back, Colour::Ok);
}

TEST_P(EachTool, TextsFarOutsideTheBandStillGiveTwoCharacterCells) {
    const bool recv = GetParam() == "recvsetup";
    const struct {
        const char* text;
        Column recvRows, sendRows;  // empty: only the cell form is checked
    } cases[] = {
        // Not a number: computed as 0 MHz.
        {"abc",
         {"A4", "06", "F2", "FF", "38"},
         {"00", "00", "00", "00", "1C", "0B", "74", "70", "40", "FF", "00", "40"}},
        {"99999999", {"4D", "08", "--", "--", "--"}, {}},
        {"1e30",
         {"4D", "08", "--", "--", "--"},
         {"--", "--", "--", "--", "1C", "0B", "74", "70", "40", "FF", "--", "--"}},
        {"-1e30", {}, {}},
        {"1e999", {}, {}},
        {"-99999999", {}, {}},
        {"2147.483648", {}, {}},
        {"nan", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Harness h(Profile(GetParam()));
        h.StartUp();
        h.model.OnFrequencyChange(0, c.text);
        h.Advance(100);
        const Column rows = GridColumn(h.model, 0);
        for (const std::string& cell : rows) {
            EXPECT_TRUE(cell == "--" ||
                        (cell.size() == 2 && IsUpperHex(cell[0]) && IsUpperHex(cell[1])))
                << cell;
        }
        const Column& expected = recv ? c.recvRows : c.sendRows;
        if (!expected.empty()) {
            EXPECT_EQ(rows, expected);
        }
        // Out of the band: the check's colour. (Whether recvsetup also
        // alarms a value beyond 32 bits is its own choice.)
        if (!recv || c.text == std::string("abc")) {
            EXPECT_EQ(h.model.Frequency[0].back, Colour::RangeError);
        }
        // The other channels go on as before.
        EXPECT_EQ(GridColumn(h.model, 3), (recv ? kReceiverDefaults : kTransmitterDefaults)[3]);
    }

    // The counters of a text that computes as 0 MHz, as the receiver shows them.
    Harness h(RecvSetupProfile());
    h.StartUp();
    h.model.OnFrequencyChange(0, "abc");
    h.Advance(50);
    const auto& m = h.model;
    EXPECT_EQ(m.ChStep[0].text, "12.5");
    EXPECT_EQ(m.LoFrequency[0].text, "-21.7000");
    EXPECT_EQ(m.Rcounter[0].text, "1700");
    EXPECT_EQ(m.ProgramCounter[0].text, "-14");
    EXPECT_EQ(m.SwallowCounter[0].text, "56");
}

// The box's tooltip tells what the registers really make, so an operator
// sees the error of a frequency off the synthesizer's step.
TEST(RegisterRefresh, FrequencyTooltipsShowWhatTheRegistersMake) {
    const struct {
        bool recv;
        const char* text;
        char separator;
        const char* tip;
    } cases[] = {
        {true, "434.700", '.',
         "Makes 434.700000 MHz, error 0.0 Hz\nStep 12.5 kHz: R 1700, M 258, A 16, LO' 413.0000 "
         "MHz"},
        {true, "434.0751", '.',
         "Makes 434.070000 MHz, error -5100.0 Hz\nStep 10.0 kHz: R 2125, M 322, A 21, LO' "
         "412.3700 MHz"},
        {true, "434,075", ',',
         "Makes 434,075000 MHz, error 0,0 Hz\nStep 12.5 kHz: R 1700, M 257, A 94, LO' 412,3750 "
         "MHz"},
        {true, "30000000", '.', "The registers cannot hold this frequency."},
        {false, "434.700", '.',
         "Makes 434.700001 MHz, error 1.4 Hz\nStep 6.199 Hz: integer 33, fraction 919520"},
        {false, "868.300", '.',
         "Makes 868.300001 MHz, error 1.5 Hz\nStep 6.199 Hz: integer 66, fraction 1661589"},
        {false, "30000000000", '.', "The registers cannot hold this frequency."},
    };
    for (const auto& c : cases) {
        Harness h(c.recv ? RecvSetupProfile() : SendSetupProfile());
        h.platform.separator = c.separator;
        h.StartUp();
        h.model.OnFrequencyChange(1, c.text);
        h.Advance(50);
        EXPECT_EQ(h.model.Frequency[1].toolTip, c.tip) << c.text;
        EXPECT_EQ(h.model.Frequency[0].toolTip.rfind("Makes 434", 0), 0u) << c.text;
    }
}

TEST_P(EachTool, TheRefreshWritesOnlyTheGridAndTheCounters) {
    Harness h(Profile(GetParam()));
    h.StartUp();
    h.OpenPort();
    h.port.TakeWritten();
    // Alarmed again on every tick; set here as an earlier tick would have.
    h.model.OnFrequencyChange(3, "434,075");
    h.model.Frequency[3].back = Colour::Inexact;
    const std::string outside = ControlsOutsideTheRefresh(h.model);
    h.Advance(50);
    const std::string refreshed = RefreshedControls(h.model);
    EXPECT_EQ(ControlsOutsideTheRefresh(h.model), outside);

    const std::string all = ControlsOutsideTheRefresh(h.model) + RefreshedControls(h.model);
    h.Advance(500);
    EXPECT_EQ(ControlsOutsideTheRefresh(h.model) + RefreshedControls(h.model), all);
    EXPECT_EQ(RefreshedControls(h.model), refreshed);
    EXPECT_EQ(h.port.TakeWritten(), "");
}

}  // namespace
