#pragma once

// Where a program keeps its files: the settings file and ports/ in the
// config folder, the setup log and the production log in the data folder.

#include <functional>
#include <optional>
#include <string>

namespace store {

enum class FilePlacement {
    // Everything in the folder that holds the executable (source builds).
    BesideProgram,
    // Per user: $XDG_CONFIG_HOME/<program> and $XDG_DATA_HOME/<program>
    // (~/.config and ~/.local/share when unset); %APPDATA%\<program> and
    // %LOCALAPPDATA%\<program> on Windows.
    PerUser,
};

struct FilePlaces {
    std::string config;
    std::string data;
};

// Reads an environment variable; nothing when it is unset.
using EnvironmentReader = std::function<std::optional<std::string>(const char* name)>;

// The environment of this process, as UTF-8.
std::optional<std::string> ProcessEnvironment(const char* name);

// A folder the environment does not give (no home folder at all) falls back
// on the program folder, so the files still have somewhere to go.
FilePlaces PlacesFor(FilePlacement placement, const std::string& programFolder,
                     const std::string& programName,
                     const EnvironmentReader& environment = ProcessEnvironment);

}  // namespace store
