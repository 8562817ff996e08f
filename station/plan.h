#pragma once

#include <string>
#include <vector>

#include "kinds.h"

namespace station {

// What the registers of one channel make, and whether a fixture may write it.
struct ChannelPlan {
    std::string text;  // as given
    std::vector<std::string> registers;
    bool makeable = false;  // every register representable
    double wantedMHz = 0.0;
    double producedMHz = 0.0;
    double errorHz = 0.0;
    std::string problem;  // why the channel is refused; empty when accepted
};

// One text per channel, Ch0 first: as many as the kinds it is for have.
using PlanTexts = std::vector<std::string>;

// The channel texts from a table file as the windows' Load reads it
// ("CH0F=..."): the file must name Ch0 to Ch3, and any channel after them
// without a gap, each once. Empty *error on success.
PlanTexts ReadPlanFile(const std::string& path, std::string* error);

// A frequency text that is not a plain number in MHz ("433.92", "434") is
// refused whatever --force says: the boxes would read a prefix of it.
bool IsPlainFrequency(const std::string& text);

// Judged by the kind's own rule, the one the windows' boxes use.
ChannelPlan EvaluateChannel(const module::Kind& kind, const std::string& text);

// Whether the registers miss the frequency (the error worth showing).
bool Inexact(const ChannelPlan& c);

// Every channel of the plan the kind may not write, Ch0 first, each as
// "rx Ch1 434.613 MHz: the synthesizer cannot make it exactly"; a plan of
// another channel count than the kind's is one problem of its own.
std::vector<std::string> PlanProblems(const module::Kind& kind, const PlanTexts& plan);

// No kind may write the plan: refused before any port is touched.
bool RefusedByEveryKind(const PlanTexts& plan);

// The plan's register rows for a kind, Ch0 first.
std::vector<std::vector<std::string>> PlanRows(const module::Kind& kind, const PlanTexts& plan);

}  // namespace station
