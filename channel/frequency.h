#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace channel {

// Accepted channel band, MHz, both ends included.
constexpr double kLowestFrequency = 433.075;
constexpr double kHighestFrequency = 434.7;
// 25 kHz channel grid from the lowest frequency.
constexpr double kGridStep = 0.025;
// The one accepted frequency off the grid (the default of channel 2).
constexpr double kOffGridFrequency = 433.92;

// Channel texts of the default plan, index = channel.
extern const std::array<const char*, 4> kDefaultFrequencies;

// A number with a fixed count of decimals, no grouping, and the given decimal
// separator; never depends on the process locale.
std::string FormatFixed(double value, int decimals, char separator = '.');

// A frequency as the boxes and files show it: three decimals and "." always.
std::string FormatFrequency(double value);

// The 68 entries of every channel's drop-down list: "433.920", "---.----",
// then the grid from 433.075 to 434.700.
std::vector<std::string> FrequencyPresetList();

enum class StepDirection { Up, Down };

// The text a step button writes into its box.
std::string StepFrequency(std::string_view text, StepDirection direction);

// Whether a channel text passes the box check (true = NormalColour,
// false = RangeErrorColour). With gridCheck the value must also lie on the
// 25 kHz grid or be 433.920.
bool FrequencyAcceptable(std::string_view text, bool gridCheck);
// The same for any band: low..high MHz, both included, and with gridKHz > 0
// on that grid counted from 0 Hz (433.920 always passes, as above).
bool FrequencyAcceptable(std::string_view text, double lowMHz, double highMHz, int gridKHz);

// Every "," replaced by "."; frequencies are stored with a point whatever
// the locale.
std::string CommasToPoints(std::string text);

}  // namespace channel
