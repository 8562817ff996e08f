#pragma once

// Starting and reaping the programs that end-to-end tests and benchmarks run
// beside themselves (modsim, the tools, Xvfb, probes).

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace child {

// Starts argv[0] with extra environment entries, which replace inherited ones
// of the same name; its standard output goes to stdoutFd when that is >= 0,
// its standard error to stderrFd likewise.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                   int stdoutFd = -1, int stderrFd = -1) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& x : extraEnv) replaced = replaced || x.rfind(name, 0) == 0;
        if (!replaced) envStrings.push_back(entry);
    }
    for (const std::string& e : extraEnv) envStrings.push_back(e);
    std::vector<char*> env;
    for (std::string& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

// The exit status (128 + signal when killed) once the child has ended, or -1
// when it is still running after timeoutMs.
inline int WaitExit(pid_t pid, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace child
