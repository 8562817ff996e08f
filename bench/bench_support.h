// What the benchmarks share: clocks, medians, the /proc readers, child
// processes, and the result lines that scripts/bench lays out as one table.
//
// Every benchmark prints its results as tab-separated lines:
//   SECTION <title>
//   ROW     <what> <measured> <reference or target> <verdict>
//   NOTE    <text>
// Anything else it prints is detail for the log, not for the table.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace bench {

inline long long MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

inline void Section(const std::string& title) {
    std::printf("SECTION\t%s\n", title.c_str());
    std::fflush(stdout);
}

inline void Row(const std::string& what, const std::string& measured, const std::string& reference,
                const std::string& verdict = "") {
    std::printf("ROW\t%s\t%s\t%s\t%s\n", what.c_str(), measured.c_str(), reference.c_str(),
                verdict.c_str());
    std::fflush(stdout);
}

inline void Note(const std::string& text) {
    std::printf("NOTE\t%s\n", text.c_str());
    std::fflush(stdout);
}

inline const char* Verdict(bool met) {
    return met ? "met" : "NOT MET";
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double Best(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

inline double Worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// A "Name:   value kB" field of /proc/<pid>/status; -1 when absent.
inline long StatusField(const std::string& pid, const std::string& name) {
    std::istringstream in(ReadFile("/proc/" + pid + "/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    }
    return -1;
}

inline long VmRssKb() {
    return StatusField("self", "VmRSS");
}

// User plus system CPU seconds of a process, all its threads, from fields 14
// and 15 of /proc/<pid>/stat (clock ticks, usually 10 ms each).
inline double CpuSeconds(pid_t pid) {
    const std::string all = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::stoll(field);
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Nanoseconds on a CPU summed over the process's threads (schedstat); finer
// than the clock ticks of /proc/<pid>/stat. -1 when the kernel has none.
inline double CpuSecondsPrecise(pid_t pid) {
    namespace fs = std::filesystem;
    std::error_code ec;
    long long ns = 0;
    bool any = false;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(ReadFile(task.path().string() + "/schedstat"));
        long long running = 0;
        if (in >> running) {
            ns += running;
            any = true;
        }
    }
    return any ? static_cast<double>(ns) / 1e9 : -1;
}

// Voluntary context switches of all threads: how often the process slept
// and woke up again.
inline long Wakeups(pid_t pid) {
    namespace fs = std::filesystem;
    std::error_code ec;
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(ReadFile(task.path().string() + "/status"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + 24);
        }
    }
    return total;
}

using child::Spawn;

// The exit status, 128 + signal when killed, or -1 when it did not end in
// time (it is then killed).
inline int WaitExit(pid_t pid, int timeoutMs) {
    const int status = child::WaitExit(pid, timeoutMs);
    if (status < 0) {
        kill(pid, SIGKILL);
        child::WaitExit(pid, 10000);
    }
    return status;
}

inline std::string MakeTempFolder(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

inline void RemoveFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// The folder of this executable: the probes are built beside the benchmarks.
inline std::string ExeDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// The built programs (recvsetup, sendsetup, modsim).
inline std::string BinDir() {
    if (const char* dir = std::getenv("SETUP_BIN_DIR")) return dir;
#ifdef SETUP_BENCH_BIN_DIR
    return SETUP_BENCH_BIN_DIR;
#else
    return ExeDir() + "/../bin";
#endif
}

// "--name value" from the command line, or the fallback.
inline long Option(int argc, char** argv, const std::string& name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (name == argv[i]) return std::atol(argv[i + 1]);
    }
    return fallback;
}

// "--name text" from the command line, or the fallback.
inline std::string TextOption(int argc, char** argv, const std::string& name,
                              const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (name == argv[i]) return argv[i + 1];
    }
    return fallback;
}

}  // namespace bench
