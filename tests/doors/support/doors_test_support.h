#pragma once

// What the doors' tests share: running a Debian client program and reading
// its output, and waiting for something that happens on another thread.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "open_doors.h"

namespace doorstest {

struct Output {
    int status = -1;  // the program's exit status
    std::string text;
};

// Runs a shell command line and collects its standard output.
inline Output Run(const std::string& command) {
    Output out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
    const int rc = ::pclose(pipe);
    out.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// curl's answer: the body, then the status code on the last line.
struct Answer {
    int code = 0;
    std::string body;
};

inline Answer Curl(const std::string& args) {
    const Output o = Run("curl -s -m 10 -w '\\n%{http_code}' " + args);
    Answer a;
    const std::size_t nl = o.text.rfind('\n');
    if (nl == std::string::npos) return a;
    a.body = o.text.substr(0, nl);
    a.code = std::atoi(o.text.c_str() + nl + 1);
    return a;
}

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
