// A settings file the start-up could not read to its end is kept beside the
// new one as <program>.ini.bak before the exit overwrites it.
#include <gtest/gtest.h>

#include <filesystem>

#include "fakes.h"
#include "recv_profile.h"

namespace {

using testing_support::Harness;
using testing_support::ReadFile;
using testing_support::WriteFile;
namespace fs = std::filesystem;

const std::string kGood =
    "TOP  , 1440 ,            Window Top position\r\n"
    "LEFT , 2880 ,            Window Left position\r\n"
    "COM  ,COM3,              Select Com Port: [COM1 to COM16]\r\n";

TEST(SettingsBackup, AFileTheLoadStoppedInIsKeptOncePerStart) {
    const struct {
        const char* trace;
        std::string file;  // before start-up; empty: no file
        bool kept;
    } cases[] = {
        {"a typo in TOP", "TOP  ,14x0 ,  hand edited\r\n" + kGood + "CH0F ,433.500,c\r\n", true},
        {"an entry cut short", kGood + "CH1F ,433.250", true},
        {"a file read to its end", kGood, false},
        {"no file", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        Harness h(RecvSetupProfile());
        const std::string ini = h.model.SettingsPath();
        if (!c.file.empty()) WriteFile(ini, c.file);
        WriteFile(ini + ".bak", "from an earlier start\r\n");
        h.StartUp();
        h.model.ShutDown();
        EXPECT_EQ(ReadFile(ini + ".bak"), c.kept ? c.file : "from an earlier start\r\n");
        EXPECT_EQ(ReadFile(ini).rfind("TOP  ,", 0), 0u) << "the settings were saved";
        // A second save of the same run does not copy its own file over it.
        h.model.SaveSettings();
        EXPECT_EQ(ReadFile(ini + ".bak"), c.kept ? c.file : "from an earlier start\r\n");
    }
}

TEST(SettingsBackup, WithoutACopyTheFileIsNotOverwritten) {
    Harness h(RecvSetupProfile());
    const std::string ini = h.model.SettingsPath();
    const std::string file = "TOP  ,abc,x\r\nCH0F ,433.500,c\r\n";
    WriteFile(ini, file);
    fs::create_directory(ini + ".bak");  // the copy cannot be made
    h.StartUp();
    h.model.ShutDown();
    EXPECT_EQ(ReadFile(ini), file);
}

}  // namespace
