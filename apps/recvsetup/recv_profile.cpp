#include "recv_profile.h"

#include "receiver_counters.h"
#include "settings_file.h"

namespace {

window::ChannelRegisters ReceiverRegisters(std::string_view text) {
    const synth::ReceiverChannel c = synth::ComputeReceiverChannel(text);
    window::ChannelRegisters r;
    r.registers.assign(c.registers.begin(), c.registers.end());
    r.inexact = c.hasComma || c.inexact;
    r.hasCounters = true;
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

window::ToolProfile MakeProfile() {
    window::ToolProfile p;
    p.programName = "recvsetup";
    p.designCaption = "ZRV-RX-H4(434Z)_Setup";
    p.kindLetter = 'R';
    p.frequencyControl = "RxFrequency";
    p.identityFrame = "Frame2";
    p.channelFrame = "Frame3";
    p.frequencyHeading = "Label8";
    p.factoryDateLabel = "Label11";
    p.hasOffsetBox = false;
    p.hasCounters = true;
    p.gridCheck = false;
    p.defaultSetResetsColours = true;
    p.gridRowNames = {"Counter-R", "   ''     (MSB)", "Counter-M", "   ''     (MSB)", "Counter-A"};
    p.gridFontPoints = 9.75;
    p.computeRegisters = ReceiverRegisters;
    p.testEchoValues = 3;
    p.testEchoFirstPos = 4;
    p.writeEchoValues = 3;
    p.writeChannelHex = false;
    p.hasCommonParam = false;
    p.testEndsWithStar = false;
    p.comNotOpenMessage = "COM Not Open!";
    p.flashClearErrorMessage = "Flash Clear Error!";
    p.flashClearOnChannelLine = false;
    p.writeErrorReplyMessage = "Flash Write Error!";
    p.writeAllTimerDesignInterval = 100;
    p.settingsComments = store::kReceiverSettingsComments;
    return p;
}

}  // namespace

const window::ToolProfile& RecvSetupProfile() {
    static const window::ToolProfile profile = MakeProfile();
    return profile;
}
