// The channel plan: frequency boxes, their check, the step buttons, the
// default plan, the register refresh and the frequency table file.
#include <cmath>

#include "field_reader.h"
#include "file_system.h"
#include "form_model.h"
#include "freq_table.h"
#include "frequency.h"
#include "text_file.h"

namespace window {

namespace {

constexpr const char* kTableReadError = "Table File Read Error!!";
constexpr const char* kTableWriteError = "Table File Write Error!!";

// Bytes no table written by a person or by Save holds: a binary file chosen
// by mistake.
bool HoldsBinary(const std::string& data) {
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7f) return true;
    }
    return false;
}

}  // namespace

void FormModel::SetFrequencyText(int index, const std::string& text) {
    Control& box = Frequency[static_cast<std::size_t>(index)];
    // Like a toolkit text box: writing the same text is no change.
    if (box.text == text) return;
    box.text = text;
    ValidateChannelFrequency(index);
}

void FormModel::OnFrequencyChange(int index, const std::string& text) {
    Frequency[static_cast<std::size_t>(index)].text = text;
    ValidateChannelFrequency(index);
}

void FormModel::OnFrequencyLostFocus(int index) {
    ValidateChannelFrequency(index);
}

void FormModel::ValidateChannelFrequency(int index) {
    Control& box = Frequency[static_cast<std::size_t>(index)];
    box.back = module::ChannelAcceptable(profile_.Kind(), box.text) ? Colour::Normal
                                                                    : Colour::RangeError;
}

void FormModel::SetDefaultFrequencies() {
    for (int n = 3; n >= 0; --n) {
        SetFrequencyText(n, channel::kDefaultFrequencies[static_cast<std::size_t>(n)]);
    }
}

void FormModel::OnFreqDefaultSWClick() {
    SetDefaultFrequencies();
    if (profile_.defaultSetResetsColours) {
        for (auto& box : Frequency) box.back = Colour::Normal;
    }
}

void FormModel::OnFupClick(int index) {
    SetFrequencyText(index, channel::StepFrequency(Frequency[static_cast<std::size_t>(index)].text,
                                                   channel::StepDirection::Up));
}

void FormModel::OnFdownClick(int index) {
    SetFrequencyText(index, channel::StepFrequency(Frequency[static_cast<std::size_t>(index)].text,
                                                   channel::StepDirection::Down));
}

// --- Register refresh --------------------------------------------------------

void FormModel::OnIntervalTimerTick() {
    for (int i = 0; i < 4; ++i) ComputeChannelRegisters(i);
}

void FormModel::ComputeChannelRegisters(int index) {
    const auto i = static_cast<std::size_t>(index);
    const module::ChannelSynthesis r = profile_.Kind().synthesize(Frequency[i].text);
    if (profile_.HasCounters()) {
        ChStep[i].text = r.stepText;
        LoFrequency[i].text =
            r.loValid ? channel::FormatFixed(r.loFrequency, 4, platform_.DecimalSeparator()) : "--";
        Rcounter[i].text = r.rCounter;
        ProgramCounter[i].text = r.programCounter;
        SwallowCounter[i].text = r.swallowCounter;
    }
    for (std::size_t k = 0; k < r.registers.size(); ++k) {
        MSFlexGrid1.SetCell(static_cast<int>(k) + 1, index + 1, r.registers[k]);
    }
    // Never reset here: the box check does that on the next edit.
    if (r.hasComma || r.inexact) Frequency[i].back = Colour::Inexact;
    Frequency[i].toolTip =
        SynthesisToolTip(r, profile_.HasCounters(), platform_.DecimalSeparator());
}

std::string SynthesisToolTip(const module::ChannelSynthesis& r, bool counters, char separator) {
    if (!r.madeValid) return "The registers cannot hold this frequency.";
    const auto fixed = [separator](double v, int decimals) {
        return channel::FormatFixed(v, decimals, separator);
    };
    // Hertz are what a frequency counter on the bench shows.
    const double errorHz = std::round((r.madeFrequency - r.wantedFrequency) * 1e7) / 10.0;
    std::string tip = "Makes " + fixed(r.madeFrequency, 6) + " MHz, error " +
                      fixed(errorHz == 0.0 ? 0.0 : errorHz, 1) + " Hz\n";
    if (counters) {
        tip += "Step " + r.stepText + " kHz: R " + r.rCounter + ", M " + r.programCounter + ", A " +
               r.swallowCounter + ", LO' " + fixed(r.loFrequency, 4) + " MHz";
    } else {
        tip += "Step " + fixed(r.stepHz, 3) + " Hz: integer " + std::to_string(r.ratioInteger) +
               ", fraction " + std::to_string(r.ratioFraction);
    }
    return tip;
}

std::vector<std::string> FormModel::ChannelValues(int channel) const {
    std::vector<std::string> values;
    for (int k = 1; k <= profile_.RegisterRows(); ++k) {
        values.push_back(MSFlexGrid1.Cell(k, channel + 1));
    }
    return values;
}

// --- Frequency table file ----------------------------------------------------

void FormModel::OnFreqLoadSaveSWClick(int index) {
    if (index == 0) {
        LoadFrequencyTable();
    } else {
        SaveFrequencyTable();
    }
}

void FormModel::ClearTableMessage() {
    // Only what an earlier table load or save said; a sequence's message
    // stays until its own rules empty it.
    if (T_Message.text == kTableReadError || T_Message.text == kTableWriteError)
        T_Message.text.clear();
    T_Message.toolTip.clear();
}

void FormModel::LoadFrequencyTable() {
    // The dialog opens in the data folder, which must exist for that.
    store::fsys::MakeFolders(CommonDialog1.initialFolder);
    const auto name = dialogs_.OpenFileName(CommonDialog1.filter, CommonDialog1.initialFolder);
    if (!name || name->empty()) return;
    ClearTableMessage();
    const auto data = store::ReadTextFile(*name);
    if (!data) {
        T_Message.text = kTableReadError;
        T_Message.toolTip = *name + ": the file cannot be read; no channel was changed.";
        return;
    }
    // Values go into the boxes as read; the box check colours them. A record
    // cut short at the end leaves what came before it applied.
    const store::RecordList list = store::ReadRecords(*data);
    for (const store::Record& record : list.records) {
        const int channel = store::ChannelForKey(record.key);
        if (channel >= 0) SetFrequencyText(channel, record.value);
    }
    // The boxes keep what was loaded; the operator is told why the rest is
    // missing, the reason in the status line's tooltip.
    if (HoldsBinary(*data)) {
        T_Message.text = kTableReadError;
        T_Message.toolTip = *name +
                            ": this is not a frequency table (it holds bytes no table has); only "
                            "the CH0F to CH3F records found in it were loaded.";
    } else if (list.cutShort) {
        T_Message.text = kTableReadError;
        T_Message.toolTip = *name +
                            ": the table ends inside a record; the channels before it were "
                            "loaded, the rest kept their frequencies.";
    }
}

void FormModel::SaveFrequencyTable() {
    store::fsys::MakeFolders(CommonDialog1.initialFolder);
    const auto name = dialogs_.SaveFileName(CommonDialog1.filter, CommonDialog1.initialFolder);
    if (!name || name->empty()) return;
    ClearTableMessage();
    if (!store::EnsureFileExists(*name)) {
        T_Message.text = kTableWriteError;
        return;
    }
    const auto size = store::FileSize(*name);
    if (size && *size != 0) {
        const std::string text =
            *name + "\r\nThis file already exists.\r\r\nDo you want to overwite.";
        if (!dialogs_.AskOkCancel("Save frequency table.", text)) return;
    }
    std::array<std::string, 4> channels;
    for (int n = 0; n < 4; ++n) {
        SetFrequencyText(n, channel::CommasToPoints(Frequency[static_cast<std::size_t>(n)].text));
        channels[static_cast<std::size_t>(n)] = Frequency[static_cast<std::size_t>(n)].text;
    }
    if (!store::ReplaceFileContent(*name, store::FormatFrequencyTable(channels))) {
        T_Message.text = kTableWriteError;
    }
}

}  // namespace window
