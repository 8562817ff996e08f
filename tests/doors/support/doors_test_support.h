#pragma once

// What the doors' tests share: the Debian clients (client_programs.h), the
// doors opened from a command line, and waiting for something that happens
// on another thread.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "client_programs.h"
#include "open_doors.h"

namespace doorstest {

// The doors a command line asks for, as the programs open them.
inline std::unique_ptr<doors::Doors> Open(doors::Hub& hub, std::vector<std::string> args,
                                          std::string* error) {
    doors::DoorsOptions options;
    if (!doors::TakeDoorOptions(args, &options, error)) return nullptr;
    return doors::OpenDoors(options, hub, error);
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

}  // namespace doorstest
