#include "file_places.h"

#include <gtest/gtest.h>

#include <map>

using store::FilePlacement;

namespace {

store::EnvironmentReader Environment(std::map<std::string, std::string> variables) {
    return [variables](const char* name) -> std::optional<std::string> {
        const auto it = variables.find(name);
        if (it == variables.end()) return std::nullopt;
        return it->second;
    };
}

}  // namespace

TEST(FilePlaces, BesideTheProgramIgnoresTheEnvironment) {
    auto places = store::PlacesFor(FilePlacement::BesideProgram, "/opt/tools", "recvsetup",
                                   Environment({{"HOME", "/home/op"}}));
    EXPECT_EQ(places.config, "/opt/tools");
    EXPECT_EQ(places.data, "/opt/tools");
#ifndef _WIN32
    EXPECT_EQ(places.ports.user, "/opt/tools/ports");
    EXPECT_EQ(places.ports.system, "");
    // Only a folder for every user named on purpose counts.
    places = store::PlacesFor(FilePlacement::BesideProgram, "/opt/tools", "recvsetup",
                              Environment({{"SETUP_SYSTEM_PORTS", "/srv/ports"}}));
    EXPECT_EQ(places.ports.system, "/srv/ports");
#endif
}

#ifndef _WIN32
TEST(FilePlaces, PerUserFollowsTheXdgFolders) {
    struct Case {
        std::map<std::string, std::string> env;
        const char* config;
        const char* data;
    };
    const Case cases[] = {
        {{{"HOME", "/home/op"}}, "/home/op/.config/recvsetup", "/home/op/.local/share/recvsetup"},
        {{{"HOME", "/home/op/"}, {"XDG_CONFIG_HOME", "/cfg/"}, {"XDG_DATA_HOME", "/data"}},
         "/cfg/recvsetup",
         "/data/recvsetup"},
        // Empty and relative values are not folders to trust.
        {{{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", ""}, {"XDG_DATA_HOME", "rel/data"}},
         "/home/op/.config/recvsetup",
         "/home/op/.local/share/recvsetup"},
        {{{"XDG_CONFIG_HOME", "/cfg"}}, "/cfg/recvsetup", "/opt/tools"},
        {{}, "/opt/tools", "/opt/tools"},
    };
    for (const Case& c : cases) {
        const auto places =
            store::PlacesFor(FilePlacement::PerUser, "/opt/tools", "recvsetup", Environment(c.env));
        EXPECT_EQ(places.config, c.config) << c.config;
        EXPECT_EQ(places.data, c.data) << c.data;
    }
    // The COM names are the suite's, not the program's; the folder for
    // every user first.
    const auto places = store::PlacesFor(FilePlacement::PerUser, "/opt/tools", "recvsetup",
                                         Environment({{"HOME", "/home/op"}}));
    EXPECT_EQ(places.ports.system, "/etc/setuptools/ports");
    EXPECT_EQ(places.ports.user, "/home/op/.config/setuptools/ports");
    EXPECT_EQ(places.ports.earlier,
              (std::vector<std::string>{
                  "/home/op/.config/modstation/ports", "/home/op/.config/modsetup/ports",
                  "/home/op/.config/recvsetup/ports", "/home/op/.config/sendsetup/ports"}));
}
#else
TEST(FilePlaces, PerUserUsesTheApplicationDataFolders) {
    auto places =
        store::PlacesFor(FilePlacement::PerUser, "C:\\tools", "sendsetup",
                         Environment({{"APPDATA", "C:\\Users\\op\\AppData\\Roaming"},
                                      {"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}}));
    EXPECT_EQ(places.config, "C:\\Users\\op\\AppData\\Roaming\\sendsetup");
    EXPECT_EQ(places.data, "C:\\Users\\op\\AppData\\Local\\sendsetup");
    places = store::PlacesFor(FilePlacement::PerUser, "C:\\tools", "sendsetup", Environment({}));
    EXPECT_EQ(places.config, "C:\\tools");
    EXPECT_EQ(places.data, "C:\\tools");
}
#endif
