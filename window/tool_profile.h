#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "kinds.h"

namespace window {

// Everything in which recvsetup and sendsetup differ as windows. What the
// module kind itself decides (registers, replies, messages) is the kind's;
// shared code asks the profile or its kind, never which program it is.
struct ToolProfile {
    std::string programName;    // "recvsetup": the default program name
    std::string designCaption;  // "ZRV-RX-H4(434Z)_Setup"
    const module::Kind* kind = nullptr;

    // Control names that differ between the tools.
    std::string frequencyControl;  // "RxFrequency" / "ChFrequency"
    std::string identityFrame;     // frame "Get Target Information"
    std::string channelFrame;      // frame "Ch Setting"
    std::string frequencyHeading;  // label "Freq. [MHz]    Up  Down"
    std::string factoryDateLabel;  // label "Factory test date:"

    bool defaultSetResetsColours = false;
    double gridFontPoints = 9.75;  // the register grid
    std::string comNotOpenMessage;
    std::array<std::string_view, 4> settingsComments;  // CH3F..CH0F

    const module::Kind& Kind() const { return *kind; }
    // FOffsetV and its label; ChStep and the counter labels.
    bool HasOffsetBox() const { return kind->hasOffset; }
    bool HasCounters() const { return kind->hasCounters; }
    int RegisterRows() const { return kind->RegisterRows(); }
};

}  // namespace window
