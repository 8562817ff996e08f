#include "plan.h"

#include <cmath>
#include <cstdlib>

#include "field_reader.h"
#include "freq_table.h"
#include "frequency.h"
#include "hex2.h"
#include "leading_number.h"
#include "receiver_counters.h"
#include "text_file.h"
#include "transmitter_registers.h"

namespace modsetup {

namespace {

// The transmitter's fraction scale and the receiver's offset, as the
// register computation uses them.
constexpr double kFractionScale = 2097151.5;

bool HexByte(const std::string& text, long* value) {
    if (text.size() != 2 || text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        return false;
    *value = std::strtol(text.c_str(), nullptr, 16);
    return true;
}

}  // namespace

PlanTexts ReadPlanFile(const std::string& path, std::string* error) {
    PlanTexts texts;
    const auto data = store::ReadTextFile(path);
    if (!data) {
        *error = "Table File Read Error!! (" + path + " cannot be read)";
        return texts;
    }
    std::array<bool, 4> seen{};
    for (const store::Record& record : store::ReadRecords(*data).records) {
        const int ch = store::ChannelForKey(record.key);
        if (ch < 0) continue;
        texts[static_cast<std::size_t>(ch)] = record.value;
        seen[static_cast<std::size_t>(ch)] = true;
    }
    for (int ch = 0; ch < 4; ++ch) {
        if (!seen[static_cast<std::size_t>(ch)]) {
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

ChannelPlan EvaluateChannel(const window::ToolProfile& profile, const std::string& text) {
    ChannelPlan plan;
    plan.text = text;
    const window::ChannelRegisters r = profile.computeRegisters(text);
    plan.registers = r.registers;
    plan.wantedMHz = channel::LeadingNumber(text);
    if (!IsPlainFrequency(text)) {
        plan.problem = "\"" + text + "\" is not a frequency in MHz";
        return plan;
    }
    plan.makeable = true;
    for (const std::string& reg : r.registers) {
        if (reg == synth::kUnrepresentable) plan.makeable = false;
    }
    double resolutionHz = 0.0;
    if (plan.makeable && r.hasCounters) {
        plan.makeable = r.loValid;
        plan.producedMHz = r.loFrequency + synth::kIntermediateFrequency;
    } else if (plan.makeable) {
        long v[4];
        for (std::size_t k = 0; k < 4; ++k) {
            if (!HexByte(r.registers[k], &v[k])) plan.makeable = false;
        }
        if (plan.makeable) {
            const double fraction = static_cast<double>(v[3] * 65536 + v[2] * 256 + v[1]);
            plan.producedMHz = synth::kTransmitterRefFrequency *
                               (static_cast<double>(v[0]) + (fraction + 0.5) / kFractionScale);
            // The fractional synthesizer lands within half a step of any
            // frequency; that is as exact as it gets.
            resolutionHz = synth::kTransmitterRefFrequency * 1e6 / kFractionScale / 2.0;
        }
    }
    if (plan.makeable) plan.errorHz = (plan.producedMHz - plan.wantedMHz) * 1e6;

    const double f = plan.wantedMHz;
    const double kHz = f * 1000.0;
    if (!(f >= channel::kLowestFrequency - 1e-9 && f <= channel::kHighestFrequency + 1e-9)) {
        plan.problem = "outside 433.075-434.700 MHz";
    } else if (profile.gridCheck && std::fabs(f - channel::kOffGridFrequency) > 1e-9 &&
               std::fabs(kHz / 25.0 - std::nearbyint(kHz / 25.0)) > 1e-6) {
        plan.problem = "off the 25 kHz grid";
    } else if (!plan.makeable || (r.hasCounters && r.inexact) ||
               std::fabs(plan.errorHz) > resolutionHz + 0.01) {
        plan.problem = "the synthesizer cannot make it exactly";
    }
    return plan;
}

}  // namespace modsetup
