// modstation with 24 sockets against 24 simulated fixtures (modsim --fixture,
// modules put in and taken out), offscreen:
//  - start-up to the first paint of the window with its 24 tiles (a probe
//    that starts exactly as the program does, spawn to first paint), beside
//    the same window with one socket and in set-up mode;
//  - CPU of the real modstation program while all 24 sockets work, from
//    /proc/<pid>/stat over a window of --seconds, and the attempts recorded
//    meanwhile.
//
//   modstation_bench [--runs 10] [--seconds 30]
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSockets = 24;

double FirstFrameMs(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    const long long spawned = bench::MonotonicNs();
    const pid_t pid = bench::Spawn(argv, {"QT_QPA_PLATFORM=offscreen"}, out[1]);
    close(out[1]);
    std::string text;
    char buffer[1024];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (bench::WaitExit(pid, 30000) != 0) throw std::runtime_error(argv[0] + " failed");
    std::istringstream in(text);
    std::string word, name;
    long long ns = 0;
    while (in >> word >> name >> ns) {
        if (word == "stage" && name == "first-frame")
            return static_cast<double>(ns - spawned) / 1e6;
    }
    throw std::runtime_error(argv[0] + " showed no window");
}

long CountRows(const std::string& path) {
    const std::string log = bench::ReadFile(path);
    long n = 0;
    for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++n;
    return n > 0 ? n - 1 : 0;  // the header
}

struct Busy {
    double percent = 0, wall = 0;
    long rows = 0, rss = 0;
    int status = 0;
};

// CPU of a program copied into the folder while it works, from 3 s after
// its start over a window of the given seconds; then SIGTERM.
Busy Measure(const std::string& folder, const std::string& bin, const std::string& program,
             std::vector<std::string> args, const std::string& logName, long seconds, int quiet) {
    fs::copy_file(bin + "/" + program, folder + "/" + program,
                  fs::copy_options::overwrite_existing);
    args.insert(args.begin(), folder + "/" + program);
    const pid_t pid = bench::Spawn(args, {"QT_QPA_PLATFORM=offscreen"}, quiet);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string log = folder + "/" + logName;
    const long rows0 = CountRows(log);
    const double cpu0 = bench::CpuSecondsPrecise(pid);
    const long long t0 = bench::MonotonicNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    Busy b;
    const double cpu1 = bench::CpuSecondsPrecise(pid);
    b.wall = static_cast<double>(bench::MonotonicNs() - t0) / 1e9;
    b.rows = CountRows(log) - rows0;
    b.rss = bench::StatusField(std::to_string(pid), "VmRSS");
    b.percent = 100.0 * (cpu1 - cpu0) / b.wall;
    kill(pid, SIGTERM);
    b.status = bench::WaitExit(pid, 10000);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    const long runs = bench::Option(argc, argv, "--runs", 10);
    const long seconds = bench::Option(argc, argv, "--seconds", 30);
    const std::string bin = bench::BinDir();
    const std::string dir = bench::ExeDir();
    const std::string folder = bench::MakeTempFolder("bench-modstation");

    const int quiet = open("/dev/null", O_WRONLY);
    std::vector<pid_t> sims;
    for (int com = 1; com <= kSockets; ++com) {
        sims.push_back(
            bench::Spawn({bin + "/modsim", "--kind", "rx", "--folder", folder, "--com",
                          std::to_string(com), "--fixture", "1000", "--present", "6000", "--absent",
                          "1000", "--serial", bench::Format("%06x", 0x100000 + com * 0x1000)},
                         {}, quiet));
    }
    for (int i = 0; i < 100 && !fs::exists(folder + "/ports/COM" + std::to_string(kSockets)); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    std::map<int, std::vector<double>> firstFrame;
    std::string failure;
    try {
        for (long i = 0; i < runs + 1; ++i) {
            for (int n : {0, 1, kSockets}) {
                const double ms =
                    FirstFrameMs({dir + "/modstation_probe", folder, std::to_string(n)});
                if (i > 0) firstFrame[n].push_back(ms);  // the first run warms the caches
            }
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }

    // The real program, copied beside ports/, straight into production; then
    // modsetup station on the same fixtures, the same sockets without a
    // window, for what the station itself costs.
    const Busy window =
        Measure(folder, bin, "modstation",
                {"--ports", "COM1-COM24", "--channels", "434.700,434.600,433.920,434.075",
                 "--station", "bench", "--start"},
                "modstation_log.csv", seconds, quiet);
    const Busy line = Measure(folder, bin, "modsetup",
                              {"station", "--ports", "COM1-COM24", "--channels",
                               "434.700,434.600,433.920,434.075", "--station", "bench", "--quiet"},
                              "modsetup_log.csv", seconds, quiet);
    for (pid_t p : sims) kill(p, SIGTERM);
    for (pid_t p : sims) bench::WaitExit(p, 5000);
    bench::RemoveFolder(folder);
    close(quiet);

    bench::Section(
        bench::Format("modstation, %d sockets against modsim fixtures (offscreen)", kSockets));
    if (!failure.empty()) {
        bench::Row("start-up to first paint", "no figure: " + failure, "", bench::Verdict(false));
    } else {
        bench::Row(
            bench::Format("start-up to first paint, %d tiles (median of %ld)", kSockets, runs),
            bench::Format("%.1f ms (best %.1f)", bench::Median(firstFrame[kSockets]),
                          bench::Best(firstFrame[kSockets])),
            bench::Format("1 tile %.1f ms, set-up mode %.1f ms", bench::Median(firstFrame[1]),
                          bench::Median(firstFrame[0])),
            "");
    }
    bench::Row(
        bench::Format("CPU of the window while %d sockets work, over %.0f s", kSockets,
                      window.wall),
        bench::Format("%.2f %% of a core; %ld attempts recorded meanwhile; RSS %ld kB",
                      window.percent, window.rows, window.rss),
        bench::Format("target < 5 %%; modsetup station on the same sockets %.2f %% (%ld attempts)",
                      line.percent, line.rows),
        bench::Verdict(window.percent < 5.0));
    if (window.status != 0)
        bench::Note(bench::Format("modstation ended with status %d after SIGTERM", window.status));
    return failure.empty() ? 0 : 1;
}
