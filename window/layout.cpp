#include "layout.h"

#include "form_model.h"

namespace window {

namespace {

std::string Indexed(const std::string& base, int i) {
    return base + "_" + std::to_string(i);
}

// The row of channel n in the "Ch Setting" frame; Ch3 is at the top.
long ChannelRowY(int n) {
    return 780 + (3 - n) * 450;
}

ControlEntry Entry(std::string name, ControlKind kind, std::string parent, long x, long y, long w,
                   long h, std::string caption, double fontPoints = 9.75,
                   std::string accessibleName = std::string()) {
    ControlEntry entry;
    entry.name = std::move(name);
    entry.kind = kind;
    entry.parent = std::move(parent);
    entry.x = x;
    entry.y = y;
    entry.w = w;
    entry.h = h;
    entry.caption = std::move(caption);
    entry.fontPoints = fontPoints;
    entry.accessibleName = std::move(accessibleName);
    return entry;
}

}  // namespace

std::pair<std::string, int> SplitControlName(const std::string& name) {
    const std::size_t underscore = name.rfind('_');
    if (underscore == std::string::npos || underscore + 1 >= name.size()) return {name, -1};
    for (std::size_t i = underscore + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return {name, -1};
    }
    return {name.substr(0, underscore), std::stoi(name.substr(underscore + 1))};
}

std::vector<ControlEntry> ControlTable(const ToolProfile& p) {
    using K = ControlKind;
    std::vector<ControlEntry> t;
    const std::string ident = p.identityFrame;
    const std::string chan = p.channelFrame;

    // Left column: four frames, 5415 wide at x = 240.
    t.push_back(Entry("Frame1", K::Frame, "", 240, 120, 5415, 780, "Port select"));
    t.push_back(Entry(ident, K::Frame, "", 240, 960, 5415, 1140, "Get Target Information"));
    t.push_back(Entry(chan, K::Frame, "", 240, 2160, 5415, 3960, "Ch Setting"));
    t.push_back(Entry("Frame4", K::Frame, "", 240, 6180, 5415, 900, "Log File"));
    t.push_back(Entry("Frame5", K::Frame, "", kFrame5NormalX, 120, 5775, 6975, "Debug"));

    // Port select.
    t.push_back(Entry("Label4", K::Label, "Frame1", 150, 345, 900, 255, "Com Port:"));
    t.push_back(Entry("Combo1", K::ComboBox, "Frame1", 1080, 300, 1335, 330, "", 9.75, "Com port"));
    t.push_back(Entry("ComStart", K::Button, "Frame1", 2550, 270, 1035, 390, ""));
    t.push_back(Entry("P_Message", K::MessageLabel, "Frame1", 3690, 345, 1650, 255, "", 9.75,
                      "Port status"));

    // Get Target Information.
    t.push_back(Entry("Label5", K::Label, ident, 150, 360, 780, 255, "FW Ver."));
    t.push_back(
        Entry("Version", K::IdentityBox, ident, 900, 315, 1080, 330, "", 9.75, "Firmware version"));
    t.push_back(Entry("Label10", K::Label, ident, 2100, 360, 600, 255, "S/No."));
    t.push_back(
        Entry("Serial", K::IdentityBox, ident, 2670, 285, 1470, 390, "", 12.0, "Serial number"));
    t.push_back(Entry("GetInfoSW", K::Button, ident, 4260, 270, 1035, 420, ""));
    t.push_back(
        Entry("C_Message", K::MessageLabel, ident, 150, 780, 5115, 255, "", 9.75, "Target status"));

    // Ch Setting.
    t.push_back(Entry("Label3", K::Label, chan, 150, 300, 1950, 255, "Ch   ( S2 / S1 pin ) "));
    t.push_back(
        Entry(p.frequencyHeading, K::Label, chan, 2100, 300, 2200, 255, "Freq. [MHz]    Up  Down"));
    t.push_back(Entry("Line1", K::Line, chan, 120, 600, 5175, 15, "", 9.75, "Separator"));
    const char* channelNames[4] = {"Ch0  (Low  /  Low   )", "Ch1  (Low   / Open )",
                                   "Ch2  (Open / Low   )", "Ch3  (Open / Open ) :"};
    for (int n = 3; n >= 0; --n) {
        const long y = ChannelRowY(n);
        const std::string ch = "Ch" + std::to_string(n);
        t.push_back(
            Entry(Indexed("Label2", n), K::Label, chan, 150, y + 45, 1920, 255, channelNames[n]));
        t.push_back(Entry(Indexed(p.frequencyControl, n), K::ComboBox, chan, 2100, y, 1215, 330, "",
                          9.75, ch + " frequency"));
        t.push_back(
            Entry(Indexed("Fup", n), K::UpArrow, chan, 3375, y, 375, 330, "", 9.75, ch + " up"));
        t.push_back(Entry(Indexed("Fdown", n), K::DownArrow, chan, 3780, y, 375, 330, "", 9.75,
                          ch + " down"));
        t.push_back(Entry(Indexed("ChTestSW", n), K::Button, chan, 4290, y - 15, 975, 360, "", 9.75,
                          ch + " test"));
    }
    t.push_back(Entry("FreqLoadSaveSW_0", K::Button, chan, 150, 2670, 900, 360, "", 9.75,
                      "Load frequency table"));
    t.push_back(Entry("FreqLoadSaveSW_1", K::Button, chan, 150, 3090, 900, 360, "", 9.75,
                      "Save frequency table"));
    t.push_back(Entry("FreqDefaultSW", K::Button, chan, 1170, 2670, 1215, 360, ""));
    t.push_back(Entry("ChCheckSW", K::Button, chan, 2670, 2670, 1200, 780, ""));
    t.push_back(Entry("ChWriteSW", K::Button, chan, 4020, 2670, 1245, 780, ""));
    t.push_back(Entry("T_Message", K::MessageLabel, chan, 150, 3570, 5115, 255, "", 9.75,
                      "Channel status"));

    // Log File.
    t.push_back(
        Entry("Check1", K::CheckBox, "Frame4", 150, 390, 300, 300, "", 9.75, "Log each write"));
    t.push_back(
        Entry("LogFileName", K::TextBox, "Frame4", 510, 360, 2955, 330, "", 9.75, "Log file name"));
    t.push_back(Entry("L_Message", K::MessageLabel, "Frame4", 3570, 405, 1800, 255, "", 9.75,
                      "Log status"));

    // Debug.
    if (p.HasOffsetBox()) {
        t.push_back(Entry(p.factoryDateLabel, K::Label, "Frame5", 150, 375, 1500, 255,
                          "Factory test date:"));
        t.push_back(Entry("FactoryDate", K::IdentityBox, "Frame5", 1650, 330, 1380, 330, "", 9.75,
                          "Factory test date"));
        t.push_back(
            Entry("Label2_4", K::Label, "Frame5", 3180, 375, 1650, 255, "Freq. Offset Value:"));
        t.push_back(Entry("FOffsetV", K::IdentityBox, "Frame5", 4830, 330, 600, 330, "", 9.75,
                          "Frequency offset value"));
    } else {
        t.push_back(Entry(p.factoryDateLabel, K::Label, "Frame5", 150, 375, 1500, 255,
                          "Factory test date:"));
        t.push_back(Entry("FactoryDate", K::IdentityBox, "Frame5", 1650, 330, 1380, 330, "", 9.75,
                          "Factory test date"));
    }
    const long rows = static_cast<long>(p.Kind().registerNames.size()) + 1;
    const long rowHeight = p.gridFontPoints < 9.5 ? 255 : 285;
    const long gridHeight = rows * rowHeight + 60;
    t.push_back(Entry("MSFlexGrid1", K::Grid, "Frame5", 150, 780, 1200 + 4 * 990 + 60, gridHeight,
                      "", p.gridFontPoints, "Register values"));
    long y = 780 + gridHeight + 180;
    if (p.HasCounters()) {
        t.push_back(Entry("Label1", K::Label, "Frame5", 450, y, 1800, 255, "Local Freq.   Step"));
        t.push_back(
            Entry("Label13", K::Label, "Frame5", 2550, y, 2400, 255, "[   PLL Counter    ]"));
        y += 255;
        t.push_back(Entry("Label12", K::Label, "Frame5", 450, y, 1800, 255, " [MHz]       [KHz]"));
        // The heading's letters, spaced by its blanks, stand over the middle
        // of the three counter columns below.
        t.push_back(
            Entry("Label14", K::Label, "Frame5", 2700, y, 2250, 255, " R        N        A"));
        y += 300;
        for (int n = 3; n >= 0; --n) {
            const std::string ch = "Ch" + std::to_string(n);
            t.push_back(Entry(Indexed("LoFrequency", n), K::CounterLabel, "Frame5", 300, y, 1230,
                              255, "", 9.75, ch + " local frequency"));
            t.push_back(Entry(Indexed("ChStep", n), K::CounterLabel, "Frame5", 1590, y, 660, 255,
                              "", 9.75, ch + " step"));
            t.push_back(Entry(Indexed("Rcounter", n), K::CounterLabel, "Frame5", 2550, y, 555, 255,
                              "", 9.75, ch + " R counter"));
            t.push_back(Entry(Indexed("ProgramCounter", n), K::CounterLabel, "Frame5", 3120, y, 555,
                              255, "", 9.75, ch + " N counter"));
            t.push_back(Entry(Indexed("SwallowCounter", n), K::CounterLabel, "Frame5", 3690, y, 555,
                              255, "", 9.75, ch + " A counter"));
            y += 300;
        }
        y += 120;
    }
    t.push_back(
        Entry("Term", K::Term, "Frame5", 150, y, 5475, 6975 - 150 - y, "", 9.75, "Received text"));
    return t;
}

std::vector<std::string> FocusOrder(const ToolProfile& p) {
    std::vector<std::string> order = {"ComStart", "Combo1", "GetInfoSW", "FreqDefaultSW"};
    for (int n = 3; n >= 0; --n) {
        order.push_back(Indexed("Fup", n));
        order.push_back(Indexed("Fdown", n));
    }
    for (int n = 3; n >= 0; --n) order.push_back(Indexed("ChTestSW", n));
    for (const char* name :
         {"ChCheckSW", "ChWriteSW", "Check1", "LogFileName", "Version", "Serial"}) {
        order.push_back(name);
    }
    for (int n = 0; n < 4; ++n) order.push_back(Indexed(p.frequencyControl, n));
    order.push_back("FreqLoadSaveSW_0");
    order.push_back("FreqLoadSaveSW_1");
    if (p.HasOffsetBox()) order.push_back("FOffsetV");
    order.push_back("FactoryDate");
    order.push_back("Term");
    order.push_back("MSFlexGrid1");
    return order;
}

std::vector<std::pair<std::string, std::string>> LabelledBoxes(const ToolProfile& p) {
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"Label4", "Combo1"},
        {"Label5", "Version"},
        {"Label10", "Serial"},
        {p.factoryDateLabel, "FactoryDate"},
    };
    if (p.HasOffsetBox()) pairs.emplace_back("Label2_4", "FOffsetV");
    for (int n = 0; n < 4; ++n)
        pairs.emplace_back(Indexed("Label2", n), Indexed(p.frequencyControl, n));
    return pairs;
}

Control* BoundControl(FormModel& m, const std::string& name) {
    const auto [base, index] = SplitControlName(name);
    const int i = index;
    const auto at = [i](auto& array) -> Control* {
        return i >= 0 && static_cast<std::size_t>(i) < array.size()
                   ? &array[static_cast<std::size_t>(i)]
                   : nullptr;
    };
    if (i >= 0) {
        if (base == m.Profile().frequencyControl) return at(m.Frequency);
        if (base == "Fup") return at(m.Fup);
        if (base == "Fdown") return at(m.Fdown);
        if (base == "ChTestSW") return at(m.ChTestSW);
        if (base == "FreqLoadSaveSW") return at(m.FreqLoadSaveSW);
        if (base == "LoFrequency") return at(m.LoFrequency);
        if (base == "ChStep") return at(m.ChStep);
        if (base == "Rcounter") return at(m.Rcounter);
        if (base == "ProgramCounter") return at(m.ProgramCounter);
        if (base == "SwallowCounter") return at(m.SwallowCounter);
        return nullptr;
    }
    struct Named {
        const char* name;
        Control FormModel::*member;
    };
    static const Named named[] = {
        {"Combo1", &FormModel::Combo1},
        {"ComStart", &FormModel::ComStart},
        {"P_Message", &FormModel::P_Message},
        {"Version", &FormModel::Version},
        {"Serial", &FormModel::Serial},
        {"GetInfoSW", &FormModel::GetInfoSW},
        {"C_Message", &FormModel::C_Message},
        {"FreqDefaultSW", &FormModel::FreqDefaultSW},
        {"ChCheckSW", &FormModel::ChCheckSW},
        {"ChWriteSW", &FormModel::ChWriteSW},
        {"T_Message", &FormModel::T_Message},
        {"Check1", &FormModel::Check1},
        {"LogFileName", &FormModel::LogFileName},
        {"L_Message", &FormModel::L_Message},
        {"FactoryDate", &FormModel::FactoryDate},
        {"FOffsetV", &FormModel::FOffsetV},
        {"Term", &FormModel::Term},
    };
    for (const Named& n : named) {
        if (name == n.name) return &(m.*(n.member));
    }
    return nullptr;
}

}  // namespace window
