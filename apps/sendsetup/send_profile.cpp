#include "send_profile.h"

#include "settings_file.h"

namespace {

window::ToolProfile MakeProfile() {
    window::ToolProfile p;
    p.programName = "sendsetup";
    p.designCaption = "ZRV-TX-H4(434Z)_Setup";
    p.kind = &module::Transmitter();
    p.frequencyControl = "ChFrequency";
    p.identityFrame = "Frame3";
    p.channelFrame = "Frame2";
    p.frequencyHeading = "Label6";
    p.factoryDateLabel = "Label1";
    p.defaultSetResetsColours = false;
    p.gridFontPoints = 9.0;
    p.comNotOpenMessage = "COM Not Open!!";
    p.settingsComments = store::kTransmitterSettingsComments;
    return p;
}

}  // namespace

const window::ToolProfile& SendSetupProfile() {
    static const window::ToolProfile profile = MakeProfile();
    return profile;
}
