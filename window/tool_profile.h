#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace window {

// What the refresh shows for one channel.
struct ChannelRegisters {
    std::vector<std::string> registers;  // grid rows 1..n
    bool inexact = false;                // InexactColour for the channel's box
    // The receiver's counter displays; empty in tools that have none.
    bool hasCounters = false;
    std::string stepText;
    bool loValid = false;
    double loFrequency = 0.0;
    std::string rCounter, programCounter, swallowCounter;
    // What the registers really make (MHz), next to what was asked for; the
    // transmitter's ratio parts and its step. Shown in the box's tooltip.
    bool madeValid = false;
    double madeFrequency = 0.0;
    double wantedFrequency = 0.0;
    long long ratioInteger = 0, ratioFraction = 0;
    double stepHz = 0.0;
};

// Everything in which recvsetup and sendsetup differ. Shared code asks the
// profile; it never asks which program it is.
struct ToolProfile {
    std::string programName;    // "recvsetup": the default program name
    std::string designCaption;  // "ZRV-RX-H4(434Z)_Setup"
    char kindLetter = 'R';      // the module kind the version reply must name

    // Control names that differ between the tools.
    std::string frequencyControl;  // "RxFrequency" / "ChFrequency"
    std::string identityFrame;     // frame "Get Target Information"
    std::string channelFrame;      // frame "Ch Setting"
    std::string frequencyHeading;  // label "Freq. [MHz]    Up  Down"
    std::string factoryDateLabel;  // label "Factory test date:"

    bool hasOffsetBox = false;  // FOffsetV and its label
    bool hasCounters = false;   // ChStep and the counter labels
    bool gridCheck = false;     // the box check also wants the 25 kHz grid
    bool defaultSetResetsColours = false;

    // Register grid.
    std::vector<std::string> gridRowNames;  // rows 1..n of column 0
    double gridFontPoints = 9.75;
    ChannelRegisters (*computeRegisters)(std::string_view frequencyText) = nullptr;

    // Replies.
    int testEchoValues = 3;    // values of "*T" compared
    int testEchoFirstPos = 4;  // position of the first "*T" value
    int writeEchoValues = 3;   // values of "*W" compared
    bool writeChannelHex = false;
    bool hasCommonParam = false;    // "/M" in the check and the write, "*M" replies
    std::string commonParam;        // "06,29,B8"
    bool testEndsWithStar = false;  // RTS off and "*" at the end of a test

    // Messages that differ by one "!" or by their label.
    std::string comNotOpenMessage;
    std::string flashClearErrorMessage;
    bool flashClearOnChannelLine = false;  // T_Message instead of C_Message
    std::string writeErrorReplyMessage;

    int writeAllTimerDesignInterval = 100;
    std::array<std::string_view, 4> settingsComments;  // CH3F..CH0F

    int RegisterRows() const { return static_cast<int>(gridRowNames.size()); }
};

}  // namespace window
