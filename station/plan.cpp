#include "plan.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "field_reader.h"
#include "freq_table.h"
#include "frequency.h"
#include "hex2.h"
#include "leading_number.h"
#include "text_file.h"

namespace station {

namespace {

// "CH0F" to "CH7F": the windows' table keys, and the same for the channels
// a kind of more than four has.
int ChannelOfKey(const std::string& key) {
    if (key.size() != 4 || key[0] != 'C' || key[1] != 'H' || key[3] != 'F') return -1;
    if (key[2] < '0' || key[2] >= '0' + module::kMaxChannels) return -1;
    return key[2] - '0';
}

}  // namespace

PlanTexts ReadPlanFile(const std::string& path, std::string* error) {
    PlanTexts texts;
    const auto data = store::ReadTextFile(path);
    if (!data) {
        *error = "Table File Read Error!! (" + path + " cannot be read)";
        return texts;
    }
    // An editor that saves UTF-8 may put a byte-order mark first; it would
    // become part of the first line's key and hide that channel.
    std::string_view text = *data;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<bool> seen;
    for (const store::Record& record : store::ReadRecords(text).records) {
        const int ch = ChannelOfKey(record.key);
        if (ch < 0) continue;
        const auto at = static_cast<std::size_t>(ch);
        if (at >= seen.size()) {
            seen.resize(at + 1);
            texts.resize(at + 1);
        }
        // Two lines for one channel: whichever the operator meant, the
        // other would be written without a word.
        if (seen[at]) {
            *error = "Table File Read Error!! (" + path + " names Ch" + std::to_string(ch) +
                     " twice)";
            return texts;
        }
        texts[at] = record.value;
        seen[at] = true;
    }
    seen.resize(std::max<std::size_t>(seen.size(), 4));
    for (std::size_t ch = 0; ch < seen.size(); ++ch) {
        if (!seen[ch]) {
            *error = "Table File Read Error!! (" + path + " has no frequency for Ch" +
                     std::to_string(ch) + ")";
            return texts;
        }
    }
    error->clear();
    return texts;
}

bool IsPlainFrequency(const std::string& text) {
    if (text.empty() || text.size() > 16) return false;
    int points = 0;
    for (const char c : text) {
        if (c == '.') {
            ++points;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return points <= 1 && text != ".";
}

std::vector<std::string> PlanProblems(const module::Kind& kind, const PlanTexts& plan) {
    std::vector<std::string> problems;
    if (static_cast<int>(plan.size()) != kind.channelCount) {
        problems.push_back(kind.name + ": the plan has " + std::to_string(plan.size()) +
                           " channels, the " + kind.description + " " +
                           std::to_string(kind.channelCount));
        return problems;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const ChannelPlan c = EvaluateChannel(kind, plan[i]);
        if (c.problem.empty()) continue;
        problems.push_back(kind.name + " Ch" + std::to_string(i) + " " + c.text + " MHz: " +
                           c.problem);
    }
    return problems;
}

bool Inexact(const ChannelPlan& c) {
    return !c.makeable || std::fabs(c.errorHz) >= 0.05;
}

bool RefusedByEveryKind(const PlanTexts& plan) {
    for (const module::Kind* k : module::Kinds()) {
        if (PlanProblems(*k, plan).empty()) return false;
    }
    return true;
}

std::vector<std::vector<std::string>> PlanRows(const module::Kind& kind, const PlanTexts& plan) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& text : plan) rows.push_back(kind.synthesize(text).registers);
    return rows;
}

ChannelPlan EvaluateChannel(const module::Kind& kind, const std::string& text) {
    ChannelPlan plan;
    plan.text = text;
    const module::ChannelSynthesis r = kind.synthesize(text);
    plan.registers = r.registers;
    plan.wantedMHz = channel::LeadingNumber(text);
    if (!IsPlainFrequency(text)) {
        plan.problem = "\"" + text + "\" is not a frequency in MHz";
        return plan;
    }
    plan.makeable = r.madeValid;
    for (const std::string& reg : r.registers) {
        if (reg == synth::kUnrepresentable) plan.makeable = false;
    }
    plan.producedMHz = r.madeFrequency;
    // The receiver's counters make the frequency or they do not; the
    // transmitter's fraction lands within one step of any frequency, and
    // that is as exact as it gets.
    const double resolutionHz = r.stepHz;
    if (plan.makeable) plan.errorHz = (plan.producedMHz - plan.wantedMHz) * 1e6;

    const double f = plan.wantedMHz;
    if (!(f >= kind.bandLowMHz && f <= kind.bandHighMHz)) {
        plan.problem = module::OutsideBandText(kind);
    } else if (!module::ChannelAcceptable(kind, text)) {
        // In the band, so the kind's grid refused it.
        plan.problem = module::OffGridText(kind);
    } else if (!plan.makeable || r.inexact ||
               std::fabs(plan.errorHz) > resolutionHz + 0.01) {
        plan.problem = "the synthesizer cannot make it exactly";
    }
    return plan;
}

}  // namespace station
