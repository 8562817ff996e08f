#include "recv_profile.h"

#include "settings_file.h"

namespace {

window::ToolProfile MakeProfile() {
    window::ToolProfile p;
    p.programName = "recvsetup";
    p.designCaption = "ZRV-RX-H4(434Z)_Setup";
    p.kind = &module::Receiver();
    p.frequencyControl = "RxFrequency";
    p.identityFrame = "Frame2";
    p.channelFrame = "Frame3";
    p.frequencyHeading = "Label8";
    p.factoryDateLabel = "Label11";
    p.defaultSetResetsColours = true;
    p.gridFontPoints = 9.75;
    p.comNotOpenMessage = "COM Not Open!";
    p.settingsComments = store::kReceiverSettingsComments;
    return p;
}

}  // namespace

const window::ToolProfile& RecvSetupProfile() {
    static const window::ToolProfile profile = MakeProfile();
    return profile;
}
