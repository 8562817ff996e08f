#pragma once

// Where a program keeps its files: the settings file in the config folder,
// the setup log and the production log in the data folder, and the COM
// names in the folders of links every program of the suite reads.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace store {

enum class FilePlacement {
    // Everything in the folder that holds the executable (source builds).
    BesideProgram,
    // Per user: $XDG_CONFIG_HOME/<program> and $XDG_DATA_HOME/<program>
    // (~/.config and ~/.local/share when unset); %APPDATA%\<program> and
    // %LOCALAPPDATA%\<program> on Windows. The COM names are the suite's,
    // not the program's: $XDG_CONFIG_HOME/setuptools/ports, under
    // /etc/setuptools/ports for every user.
    PerUser,
};

// The folders of COMn links (ports/) that name the serial devices. A name's
// entry in the system folder wins over one in the user's.
struct PortFolders {
    // For every user of the machine: the packages own it, an administrator
    // fills it. Empty where the build has none.
    std::string system;
    // The user's own, shared by every program of the suite; adapters seen
    // for the first time are named here.
    std::string user;
    // The per-program folders of earlier versions: their links are taken
    // over into the user's folder once, while that does not exist yet.
    std::vector<std::string> earlier;
};

struct FilePlaces {
    FilePlaces() = default;
    // Settings in config, logs in data, COM names in config/ports, and no
    // folder for every user: a source build's layout.
    FilePlaces(std::string configFolder, std::string dataFolder);

    std::string config;
    std::string data;
    PortFolders ports;
};

// Reads an environment variable; nothing when it is unset.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;

// The environment of this process, as UTF-8.
std::optional<std::string> ProcessEnvironment(const char* name);

// The folder for every user's COM names unless SETUP_SYSTEM_PORTS names
// another (tests, and a line that keeps its map elsewhere).
constexpr const char* kSystemPortsFolder = "/etc/setuptools/ports";

// A folder the environment does not give (no home folder at all) falls back
// on the program folder, so the files still have somewhere to go. Source
// builds read a folder for every user only when SETUP_SYSTEM_PORTS names one.
FilePlaces PlacesFor(FilePlacement placement, const std::string& programFolder,
                     const std::string& programName,
                     const EnvironmentReader& environment = ProcessEnvironment);

}  // namespace store
