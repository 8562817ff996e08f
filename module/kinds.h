#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace module {

// What one channel's frequency text gives on a kind's synthesizer.
struct ChannelSynthesis {
    std::vector<std::string> registers;  // in the order the module stores them
    bool hasComma = false;               // the text holds a decimal comma
    // The registers cannot make the frequency with the kind's step (the
    // receiver's counters); the transmitter's fraction lands within a step
    // of any frequency and never sets it.
    bool inexact = false;
    // What the registers really make (MHz), next to what was asked for.
    bool madeValid = false;
    double madeFrequency = 0.0;
    double wantedFrequency = 0.0;
    // The receiver's counters: the step, the oscillator and R, M, A.
    std::string stepText;
    bool loValid = false;
    double loFrequency = 0.0;
    std::string rCounter, programCounter, swallowCounter;
    // The transmitter's ratio parts and its step.
    long long ratioInteger = 0, ratioFraction = 0;
    double stepHz = 0.0;
};

// The most channels a kind may have (a table key names one digit); the
// windows' kinds have four.
inline constexpr int kMaxChannels = 8;

// A module kind as data: everything the protocol, the plan check and the
// front ends need to know of it. A new kind is one more entry in kinds.cpp.
struct Kind {
    char letter = 'R';           // what the version reply names at position 4
    std::string name;            // "rx": command lines, logs, records
    std::string description;     // "receiver"
    int channelCount = 4;
    double bandLowMHz = 0.0;     // both ends included
    double bandHighMHz = 0.0;
    bool gridCheck = false;      // channels must also lie on the grid
    int gridKHz = 25;            // the grid's step, counted from 0 Hz
    std::vector<std::string> registerNames;
    ChannelSynthesis (*synthesize)(std::string_view frequencyText) = nullptr;

    bool hasCounters = false;    // the receiver's R/M/A counters and step
    bool hasOffset = false;      // the identity reply carries a frequency offset

    // Replies.
    int testEchoValues = 3;      // values of "*T" compared
    int testEchoFirstPos = 4;    // position of the first "*T" value
    int writeEchoValues = 3;     // values of "*W" compared
    bool writeChannelHex = false;
    bool hasCommonParam = false;  // "/M" in the check and the write, "*M" replies
    std::string commonParam;      // "06,29,B8"
    bool testEndsWithStar = false;  // RTS off and "*" at the end of a test

    // Messages that differ between the kinds by one "!" or by their line.
    std::string flashClearErrorMessage;
    bool flashClearOnChannelLine = false;
    std::string writeErrorReplyMessage;
    std::string comNotOpenMessage;  // a port that does not open

    int RegisterRows() const { return static_cast<int>(registerNames.size()); }
};

const Kind& Receiver();
const Kind& Transmitter();
// Every kind, in the order a station tries them.
const std::vector<const Kind*>& Kinds();
// Adds a kind after those built in (a letter or name already taken is
// refused: false). For kinds that exist outside the table, as a test's; call
// it before any port opens, the list is read without a lock.
bool AddKind(const Kind& kind);
// nullptr for a letter or name no kind has.
const Kind* KindByLetter(char letter);
const Kind* KindByName(std::string_view name);

// Whether a channel text passes the kind's box check: in the band and, for
// a kind with a grid, on it (the one rule the windows and the programmer use).
bool ChannelAcceptable(const Kind& kind, std::string_view text);
// What a plan check says of a channel the kind refuses: "outside
// 433.075-434.700 MHz", "off the 25 kHz grid".
std::string OutsideBandText(const Kind& kind);
std::string OffGridText(const Kind& kind);

}  // namespace module
