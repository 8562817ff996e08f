#include "file_places.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace store {

namespace {

// Only an absolute folder counts; a relative one would depend on where the
// program was started from.
bool IsAbsolute(const std::string& path) {
#ifdef _WIN32
    return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.rfind("\\\\", 0) == 0;
#else
    return !path.empty() && path[0] == '/';
#endif
}

std::optional<std::string> AbsoluteVariable(const EnvironmentReader& environment,
                                            const char* name) {
    const auto value = environment(name);
    if (!value || !IsAbsolute(*value)) return std::nullopt;
    return value;
}

std::string Join(std::string folder, const std::string& name) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

// The programs of the suite whose own folders held ports/ before the suite
// shared one; the production programs first, whose names scripts and
// shortcuts use, when two of them gave one name to different adapters.
const char* const kEarlierPortOwners[] = {"modstation", "modsetup", "recvsetup", "sendsetup"};

}  // namespace

FilePlaces::FilePlaces(std::string configFolder, std::string dataFolder)
    : config(std::move(configFolder)), data(std::move(dataFolder)) {
    ports.user = Join(config, "ports");
}

std::optional<std::string> ProcessEnvironment(const char* name) {
#ifdef _WIN32
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wideName.c_str());
    if (!value) return std::nullopt;
    const int n = WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8.data(), n, nullptr, nullptr);
    if (!utf8.empty()) utf8.pop_back();  // the terminating zero
    return utf8;
#else
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
#endif
}

FilePlaces PlacesFor(FilePlacement placement, const std::string& programFolder,
                     const std::string& programName, const EnvironmentReader& environment) {
    const auto system = AbsoluteVariable(environment, "SETUP_SYSTEM_PORTS");
    if (placement == FilePlacement::BesideProgram) {
        FilePlaces places(programFolder, programFolder);
        places.ports.system = system.value_or("");
        return places;
    }

#ifdef _WIN32
    const auto config = AbsoluteVariable(environment, "APPDATA");
    const auto local = AbsoluteVariable(environment, "LOCALAPPDATA");
    const auto data = local ? local : config;
#else
    const auto home = AbsoluteVariable(environment, "HOME");
    auto config = AbsoluteVariable(environment, "XDG_CONFIG_HOME");
    if (!config && home) config = Join(*home, ".config");
    auto data = AbsoluteVariable(environment, "XDG_DATA_HOME");
    if (!data && home) data = Join(Join(*home, ".local"), "share");
#endif
    FilePlaces places(config ? Join(*config, programName) : programFolder,
                      data ? Join(*data, programName) : programFolder);
#ifndef _WIN32
    // Windows names its serial ports itself: no map there.
    places.ports.system = system.value_or(kSystemPortsFolder);
#endif
    if (config) {
        places.ports.user = Join(Join(*config, "setuptools"), "ports");
        for (const char* owner : kEarlierPortOwners) {
            places.ports.earlier.push_back(Join(Join(*config, owner), "ports"));
        }
    }
    return places;
}

}  // namespace store
