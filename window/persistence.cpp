// The settings file and the setup log.
#include "field_reader.h"
#include "file_system.h"
#include "form_model.h"
#include "freq_table.h"
#include "settings_file.h"
#include "setup_log.h"
#include "text_file.h"

namespace window {

std::string FormModel::SettingsPath() const {
    return platform_.ConfigFolder() + "/" + platform_.ProgramName() + ".ini";
}

std::string FormModel::LogPath() const {
    // The name is not validated: one with its own folder part is simply
    // appended to the data folder.
    return platform_.DataFolder() + "/" + LogFileName.text;
}

namespace {

// A saved position is kept on the screen: a value below 0 becomes 0, one
// that would push the window past the far edge puts it against that edge.
// On a screen smaller than the window the edge is 0, so the title bar stays
// reachable.
long BoundPosition(long v, long screen, long window) {
    long limit = screen - window;
    if (limit < 0) limit = 0;
    if (v < 0) return 0;
    return v > limit ? limit : v;
}

}  // namespace

void FormModel::LoadSettings() {
    const std::string path = SettingsPath();
    // A per-user folder does not exist before the first start.
    store::fsys::MakeFolders(platform_.ConfigFolder());
    if (!store::EnsureFileExists(path)) return;
    const auto data = store::ReadTextFile(path);
    if (!data) {
        settingsLoadFailed_ = true;
        return;
    }

    // Entries apply in file order; the first failure ends the load and what
    // was applied before it stays.
    const store::RecordList list = store::ReadRecords(*data);
    // A file that ends inside an entry has failed as well, after the
    // entries before it.
    settingsLoadFailed_ = list.cutShort;
    for (const store::Record& record : list.records) {
        const std::string& key = record.key;
        if (key == "TOP" || key == "LEFT") {
            const auto v = store::ParseTwips(record.value);
            if (!v) {
                settingsLoadFailed_ = true;
                return;
            }
            if (key == "TOP") {
                Top = BoundPosition(*v, platform_.ScreenHeight(), Height);
                TopSet = true;
            } else {
                Left = BoundPosition(*v, platform_.ScreenWidth(), Width);
                LeftSet = true;
            }
        } else if (key == "COM") {
            Combo1.text = record.value;
        } else if (key == "LOGF") {
            LogFileName.text = record.value;
        } else if (key == "DEBUG") {
            if (record.value == "ON") ApplyDebugLayout();
        } else if (const int channel = store::ChannelForKey(key); channel >= 0) {
            SetFrequencyText(channel, record.value);
        }
    }
}

void FormModel::SaveSettings() {
    store::SettingsValues values;
    values.top = Top;
    values.left = Left;
    values.com = Combo1.text;
    values.logFileName = LogFileName.text;
    for (std::size_t n = 0; n < 4; ++n) values.channels[n] = Frequency[n].text;
    values.debug = DebugMode == "ON";
    if (settingsLoadFailed_ && !settingsBackedUp_) {
        // What the load could not read is kept before it is overwritten:
        // one typo must not lose the rest of a hand-edited file. Without a
        // copy the file stays as it is and this save is given up.
        const std::string path = SettingsPath();
        const auto size = store::FileSize(path);
        if (size && *size > 0) {
            const auto old = store::ReadTextFile(path, static_cast<std::size_t>(*size));
            if (!old || !store::ReplaceFileContent(path + ".bak", *old)) return;
        }
        settingsBackedUp_ = true;
    }
    // Written completely to a temporary file first: a failed save leaves the
    // previous settings in place. Failures are not reported.
    store::ReplaceFileContent(SettingsPath(),
                              store::FormatSettings(values, profile_.settingsComments));
}

void FormModel::OnCheck1Click(int value) {
    Check1.value = value;
    LogFileName.enabled = value == 1;
}

void FormModel::OnLogFileNameChange(const std::string& text) {
    LogFileName.text = text;
}

void FormModel::AppendLogRecord() {
    const ProgramVersion v = platform_.Version();
    store::LogRecord record;
    record.serial = Serial.text;
    record.version = Version.text;
    for (std::size_t n = 0; n < 4; ++n) record.channels[n] = Frequency[n].text;
    record.date = platform_.DateText();
    record.time = platform_.TimeText();
    record.toolVersion =
        std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
    const std::string path = LogPath();
    store::fsys::MakeFolders(platform_.DataFolder());
    if (!store::EnsureFileExists(path) ||
        !store::AppendToFile(path, store::FormatLogRecord(record))) {
        L_Message.text = "Log File Write Error!!";
    }
}

}  // namespace window
