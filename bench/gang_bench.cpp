// Several sockets on one PC: N modsim fixtures, one modsetup station with a
// socket each. Prints the station's throughput against N times one socket,
// the time per module against the protocol's floor, modsetup's CPU while
// every socket works and while every socket waits, and its memory per socket.
//
//   gang_bench [--sockets 1,8,24] [--modules 20]   (modules per socket)
#include <poll.h>

#include <cstring>
#include <sstream>

#include "bench_support.h"
#include "serial_port.h"

namespace {

struct Run {
    int sockets = 0;
    int passed = 0;
    int failed = 0;
    double seconds = 0;  // first module found to last module passed
    std::vector<double> perModule;
    double workCpu = 0;  // share of one core
    double idleCpu = 0;
    long rssKb = 0;
};

long long DurationMs(const std::string& json) {
    const std::size_t at = json.find("\"duration_ms\":");
    return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + 14);
}

bool WaitReady(int fd) {
    char ready[256];
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 10000) > 0 && read(fd, ready, sizeof ready) > 0;
}

Run Measure(int sockets, int modules) {
    Run run;
    run.sockets = sockets;
    const std::string folder = bench::MakeTempFolder("gang-bench");
    const std::string bin = bench::BinDir();
    std::vector<pid_t> sims;
    for (int s = 1; s <= sockets; ++s) {
        int out[2];
        if (pipe(out) != 0) return run;
        char serial[16];
        std::snprintf(serial, sizeof serial, "%06X", s << 12);
        // Long enough for a poll that just missed it, the write, the check
        // and the serial read after it.
        sims.push_back(bench::Spawn({bin + "/modsim", "--kind", "rx", "--folder", folder, "--com",
                                     std::to_string(s), "--serial", serial, "--fixture",
                                     std::to_string(modules), "--present", "7000", "--absent",
                                     "600"},
                                    {}, out[1]));
        close(out[1]);
        if (!WaitReady(out[0])) std::fprintf(stderr, "modsim %d did not start\n", s);
        close(out[0]);
    }
    std::vector<std::string> argv = {bin + "/modsetup", "station", "--json", "--quiet", "--log",
                                     folder + "/log.csv", "--channels",
                                     "434.700,434.600,433.920,434.075"};
    for (int s = 1; s <= sockets; ++s) {
        argv.push_back("--port");
        argv.push_back(folder + "/ports/COM" + std::to_string(s));
    }
    int out[2];
    if (pipe(out) != 0) return run;
    const pid_t tool = bench::Spawn(argv, {}, out[1]);
    close(out[1]);

    const int total = sockets * modules;
    std::string pending;
    long long first = 0, last = 0;
    double cpuAtFirst = -1, cpuAtLast = -1;
    while (run.passed + run.failed < total) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        char buffer[8192];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line.find("\"command\":\"write\"") == std::string::npos) continue;
            const bool pass = line.find("\"result\":\"pass\"") != std::string::npos;
            pass ? ++run.passed : ++run.failed;
            run.perModule.push_back(static_cast<double>(DurationMs(line)));
            const long long now = bench::MonotonicNs();
            if (first == 0) {
                first = now - DurationMs(line) * 1000000LL;
                cpuAtFirst = bench::CpuSecondsPrecise(tool);
            }
            last = now;
            cpuAtLast = bench::CpuSecondsPrecise(tool);
        }
    }
    run.seconds = static_cast<double>(last - first) / 1e9;
    if (run.seconds > 0) run.workCpu = (cpuAtLast - cpuAtFirst) / run.seconds;
    run.rssKb = bench::StatusField(std::to_string(tool), "VmRSS");
    // Every fixture is empty now: the station polls and waits.
    const double idleStart = bench::CpuSecondsPrecise(tool);
    const long long idleFrom = bench::MonotonicNs();
    usleep(5 * 1000 * 1000);
    run.idleCpu = (bench::CpuSecondsPrecise(tool) - idleStart) /
                  (static_cast<double>(bench::MonotonicNs() - idleFrom) / 1e9);
    kill(tool, SIGINT);
    bench::WaitExit(tool, 20000);
    close(out[0]);
    for (pid_t sim : sims) kill(sim, SIGTERM);
    for (pid_t sim : sims) bench::WaitExit(sim, 10000);
    bench::RemoveFolder(folder);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int modules = static_cast<int>(bench::Option(argc, argv, "--modules", 20));
    std::vector<int> counts;
    std::stringstream list(bench::TextOption(argc, argv, "--sockets", "1,8,24"));
    for (std::string item; std::getline(list, item, ',');) counts.push_back(std::atoi(item.c_str()));

    // The protocol's floor per module: the write (13 ticks), the check (5
    // shorter ones) and the serial read after it (4 ticks of 200 ms).
    const int tick = wire::TickPeriod(wire::kBaudRate);
    const int checkTick = wire::TickPeriod(wire::kBaudRate, 0.7);
    const double floorMs = 13 * tick + 5 * checkTick + 4 * 200;

    std::vector<Run> runs;
    for (int n : counts) runs.push_back(Measure(n, modules));
    const Run* single = nullptr;
    for (const Run& r : runs) {
        if (r.sockets == 1) single = &r;
    }
    const double singleRate = single && single->seconds > 0 ? single->passed / single->seconds : 0;

    for (const Run& r : runs) {
        const double rate = r.seconds > 0 ? r.passed / r.seconds : 0;
        bench::Section(bench::Format("modsetup station, %d socket%s x %d modules (modsim fixtures)",
                                     r.sockets, r.sockets == 1 ? "" : "s", modules));
        bench::Row("modules passed", bench::Format("%d of %d", r.passed, r.sockets * modules),
                   "all", bench::Verdict(r.failed == 0 && r.passed == r.sockets * modules));
        bench::Row("throughput", bench::Format("%.0f modules/hour", rate * 3600),
                   singleRate > 0 ? bench::Format("%.1f %% of %d x one socket", 100.0 * rate / (singleRate * r.sockets), r.sockets)
                                  : std::string("no one-socket run"),
                   singleRate > 0 && r.sockets == 24 ? bench::Verdict(rate >= 0.97 * singleRate * r.sockets) : "");
        bench::Row("time per module, median", bench::Format("%.0f ms", bench::Median(r.perModule)),
                   bench::Format("floor %.0f ms", floorMs), "");
        bench::Row("time per module, worst", bench::Format("%.0f ms", bench::Worst(r.perModule)),
                   bench::Format("floor %.0f ms", floorMs), "");
        bench::Row("CPU while every socket works", bench::Format("%.2f %% of one core", 100 * r.workCpu),
                   "target < 5 % at 24 sockets",
                   r.sockets == 24 ? bench::Verdict(r.workCpu < 0.05) : "");
        bench::Row("CPU while every socket waits", bench::Format("%.2f %% of one core", 100 * r.idleCpu),
                   "target < 5 % at 24 sockets",
                   r.sockets == 24 ? bench::Verdict(r.idleCpu < 0.05) : "");
        bench::Row("resident memory", bench::Format("%ld kB", r.rssKb),
                   single && r.sockets > 1
                       ? bench::Format("%.0f kB per socket beyond the first",
                                       static_cast<double>(r.rssKb - single->rssKb) / (r.sockets - 1))
                       : std::string(),
                   "");
    }
    return 0;
}
