#include "send_profile.h"

#include "settings_file.h"
#include "transmitter_registers.h"

namespace {

window::ChannelRegisters TransmitterRegisters(std::string_view text) {
    const synth::TransmitterChannel c = synth::ComputeTransmitterChannel(text);
    window::ChannelRegisters r;
    r.registers.assign(c.registers.begin(), c.registers.end());
    r.inexact = c.hasComma;
    r.madeValid = c.ratioValid;
    r.madeFrequency = c.madeFrequency;
    r.wantedFrequency = c.wantedFrequency;
    r.ratioInteger = c.ratioInteger;
    r.ratioFraction = c.ratioFraction;
    r.stepHz = synth::kTransmitterStepHz;
    return r;
}

window::ToolProfile MakeProfile() {
    window::ToolProfile p;
    p.programName = "sendsetup";
    p.designCaption = "ZRV-TX-H4(434Z)_Setup";
    p.kindLetter = 'T';
    p.frequencyControl = "ChFrequency";
    p.identityFrame = "Frame3";
    p.channelFrame = "Frame2";
    p.frequencyHeading = "Label6";
    p.factoryDateLabel = "Label1";
    p.hasOffsetBox = true;
    p.hasCounters = false;
    p.gridCheck = true;
    p.defaultSetResetsColours = false;
    p.gridRowNames = {"PLLINT", "PLLFRAC0", "PLLFRAC1", "PLLFRAC2",  "POWCFG0", "POWCFG1",
                      "FDEV",   "GFDIV",    "GFXOSC",   "(Reserve)", "VAC0",    "VAC1"};
    p.gridFontPoints = 9.0;
    p.computeRegisters = TransmitterRegisters;
    p.testEchoValues = 12;
    p.testEchoFirstPos = 5;
    p.writeEchoValues = 12;
    p.writeChannelHex = true;
    p.hasCommonParam = true;
    p.commonParam = synth::kCommonParam;
    p.testEndsWithStar = true;
    p.comNotOpenMessage = "COM Not Open!!";
    p.flashClearErrorMessage = "Flash Clear Error!!";
    p.flashClearOnChannelLine = true;
    p.writeErrorReplyMessage = "Flash Write Error!!";
    p.writeAllTimerDesignInterval = 200;
    p.settingsComments = store::kTransmitterSettingsComments;
    return p;
}

}  // namespace

const window::ToolProfile& SendSetupProfile() {
    static const window::ToolProfile profile = MakeProfile();
    return profile;
}
