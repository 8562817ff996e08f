#include "kinds.h"

#include "frequency.h"
#include "receiver_counters.h"
#include "transmitter_registers.h"

namespace module {

namespace {

ChannelSynthesis ReceiverSynthesis(std::string_view text) {
    const synth::ReceiverChannel c = synth::ComputeReceiverChannel(text);
    ChannelSynthesis r;
    r.registers.assign(c.registers.begin(), c.registers.end());
    r.hasComma = c.hasComma;
    r.inexact = c.inexact;
    r.stepText = c.stepText;
    r.loValid = c.loValid;
    r.loFrequency = c.loFrequency;
    r.rCounter = c.rCounter;
    r.programCounter = c.programCounter;
    r.swallowCounter = c.swallowCounter;
    r.madeValid = c.loValid;
    r.madeFrequency = c.madeFrequency;
    r.wantedFrequency = c.wantedFrequency;
    return r;
}

ChannelSynthesis TransmitterSynthesis(std::string_view text) {
    const synth::TransmitterChannel c = synth::ComputeTransmitterChannel(text);
    ChannelSynthesis r;
    r.registers.assign(c.registers.begin(), c.registers.end());
    r.hasComma = c.hasComma;
    r.madeValid = c.ratioValid;
    r.madeFrequency = c.madeFrequency;
    r.wantedFrequency = c.wantedFrequency;
    r.ratioInteger = c.ratioInteger;
    r.ratioFraction = c.ratioFraction;
    r.stepHz = synth::kTransmitterStepHz;
    return r;
}

Kind MakeReceiver() {
    Kind k;
    k.letter = 'R';
    k.name = "rx";
    k.description = "receiver";
    k.bandLowMHz = channel::kLowestFrequency;
    k.bandHighMHz = channel::kHighestFrequency;
    k.gridCheck = false;
    k.registerNames = {"Counter-R", "   ''     (MSB)", "Counter-M", "   ''     (MSB)", "Counter-A"};
    k.synthesize = ReceiverSynthesis;
    k.hasCounters = true;
    k.hasOffset = false;
    k.testEchoValues = 3;
    k.testEchoFirstPos = 4;
    k.writeEchoValues = 3;
    k.writeChannelHex = false;
    k.hasCommonParam = false;
    k.testEndsWithStar = false;
    k.flashClearErrorMessage = "Flash Clear Error!";
    k.flashClearOnChannelLine = false;
    k.writeErrorReplyMessage = "Flash Write Error!";
    k.comNotOpenMessage = "COM Not Open!";
    return k;
}

Kind MakeTransmitter() {
    Kind k;
    k.letter = 'T';
    k.name = "tx";
    k.description = "transmitter";
    k.bandLowMHz = channel::kLowestFrequency;
    k.bandHighMHz = channel::kHighestFrequency;
    k.gridCheck = true;
    k.registerNames = {"PLLINT", "PLLFRAC0", "PLLFRAC1", "PLLFRAC2",  "POWCFG0", "POWCFG1",
                       "FDEV",   "GFDIV",    "GFXOSC",   "(Reserve)", "VAC0",    "VAC1"};
    k.synthesize = TransmitterSynthesis;
    k.hasCounters = false;
    k.hasOffset = true;
    k.testEchoValues = 12;
    k.testEchoFirstPos = 5;
    k.writeEchoValues = 12;
    k.writeChannelHex = true;
    k.hasCommonParam = true;
    k.commonParam = synth::kCommonParam;
    k.testEndsWithStar = true;
    k.flashClearErrorMessage = "Flash Clear Error!!";
    k.flashClearOnChannelLine = true;
    k.writeErrorReplyMessage = "Flash Write Error!!";
    k.comNotOpenMessage = "COM Not Open!!";
    return k;
}

}  // namespace

const Kind& Receiver() {
    static const Kind kind = MakeReceiver();
    return kind;
}

const Kind& Transmitter() {
    static const Kind kind = MakeTransmitter();
    return kind;
}

namespace {

std::vector<const Kind*>& KindList() {
    static std::vector<const Kind*> kinds = {&Receiver(), &Transmitter()};
    return kinds;
}

}  // namespace

const std::vector<const Kind*>& Kinds() {
    return KindList();
}

bool AddKind(const Kind& kind) {
    if (KindByLetter(kind.letter) || KindByName(kind.name)) return false;
    // Kept for the program's life: the engines hold pointers to their kind.
    KindList().push_back(new Kind(kind));
    return true;
}

const Kind* KindByLetter(char letter) {
    for (const Kind* k : Kinds()) {
        if (k->letter == letter) return k;
    }
    return nullptr;
}

const Kind* KindByName(std::string_view name) {
    for (const Kind* k : Kinds()) {
        if (k->name == name) return k;
    }
    return nullptr;
}

bool ChannelAcceptable(const Kind& kind, std::string_view text) {
    return channel::FrequencyAcceptable(text, kind.bandLowMHz, kind.bandHighMHz,
                                        kind.gridCheck ? kind.gridKHz : 0);
}

std::string OutsideBandText(const Kind& kind) {
    return "outside " + channel::FormatFrequency(kind.bandLowMHz) + "-" +
           channel::FormatFrequency(kind.bandHighMHz) + " MHz";
}

std::string OffGridText(const Kind& kind) {
    return "off the " + std::to_string(kind.gridKHz) + " kHz grid";
}

}  // namespace module
