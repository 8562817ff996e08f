// Station mode over many modules: modsim plays a fixture into which module
// after module is put, modsetup writes and checks each one. Prints the time
// per module beside the protocol's own floor, and modsetup's resident memory
// and open file descriptors at the first and the last module.
//
//   station_bench [--modules N]   (200 unless told)
#include <poll.h>

#include <cstring>
#include <filesystem>

#include "bench_support.h"
#include "serial_port.h"

namespace {

long OpenFds(pid_t pid) {
    std::error_code ec;
    long n = 0;
    for (const auto& e :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        (void)e;
        ++n;
    }
    return n;
}

long long DurationMs(const std::string& json) {
    const std::size_t at = json.find("\"duration_ms\":");
    return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + 14);
}

}  // namespace

int main(int argc, char** argv) {
    int modules = 200;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--modules") == 0) modules = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::string folder = bench::MakeTempFolder("station-bench");
    const std::string bin = bench::BinDir();

    // Each module stays long enough for the slowest catch (a poll that just
    // missed it) plus the write, the check and the serial read after it.
    int simOut[2];
    if (pipe(simOut) != 0) return 1;
    const pid_t sim =
        bench::Spawn({bin + "/modsim", "--kind", "rx", "--folder", folder, "--fixture",
                      std::to_string(modules), "--present", "7000", "--absent", "600"},
                     {}, simOut[1]);
    close(simOut[1]);
    char ready[256];
    pollfd sp{simOut[0], POLLIN, 0};
    if (poll(&sp, 1, 10000) <= 0 || read(simOut[0], ready, sizeof ready) <= 0) {
        std::fprintf(stderr, "modsim did not start\n");
        return 1;
    }
    close(simOut[0]);

    int out[2];
    if (pipe(out) != 0) return 1;
    // No --count: the station is still running when the last module is
    // sampled, and is stopped by SIGINT as an operator would.
    const pid_t tool = bench::Spawn(
        {bin + "/modsetup", "station", "--json", "--port", folder + "/ports/COM1", "--log",
         folder + "/log.csv", "--channels", "434.700,434.600,433.920,434.075"},
        {}, out[1]);
    close(out[1]);

    std::vector<double> perModule;
    long rssFirst = -1, rssLast = -1, fdsFirst = -1, fdsLast = -1;
    int failed = 0;
    std::string pending;
    const std::string pid = std::to_string(tool);
    while (static_cast<int>(perModule.size()) < modules) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (line.find("\"command\":\"write\"") == std::string::npos) continue;
            if (line.find("\"result\":\"pass\"") == std::string::npos) ++failed;
            perModule.push_back(static_cast<double>(DurationMs(line)));
            const long rss = bench::StatusField(pid, "VmRSS");
            const long fds = OpenFds(tool);
            if (perModule.size() == 1) {
                rssFirst = rss;
                fdsFirst = fds;
            }
            rssLast = rss;
            fdsLast = fds;
            std::printf("module %zu: %.0f ms, RSS %ld kB, %ld fds:", perModule.size(),
                        perModule.back(), rss, fds);
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator("/proc/" + pid + "/fd", ec)) {
                std::printf(" %s", std::filesystem::read_symlink(e.path(), ec).c_str());
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    kill(tool, SIGINT);
    const int status = bench::WaitExit(tool, 20000);
    close(out[0]);
    kill(sim, SIGTERM);
    bench::WaitExit(sim, 10000);
    bench::RemoveFolder(folder);

    // The floor: the write's 13 ticks, the check's five shorter ones and the
    // identity read after them (four ticks of 200 ms), as the sequences run
    // them. The identity poll that found the module comes before the row
    // starts.
    const int tick = wire::TickPeriod(wire::kBaudRate);
    const int checkTick = wire::TickPeriod(wire::kBaudRate, 0.7);
    const double floorMs = 13 * tick + 5 * checkTick + 4 * 200;
    // From the start of the row to the serial read again after the check.
    const double median = bench::Median(perModule);
    const double worst = bench::Worst(perModule);

    const int n = static_cast<int>(perModule.size());
    bench::Section(bench::Format("modsetup station over %d receiver modules (modsim fixture)", n));
    bench::Row("time per module, median", bench::Format("%.0f ms", median),
               bench::Format("floor %.0f ms, +3 %% = %.0f ms", floorMs, floorMs * 1.03),
               bench::Verdict(median > 0 && median <= floorMs * 1.03));
    bench::Row("time per module, worst", bench::Format("%.0f ms", worst),
               bench::Format("+3 %% = %.0f ms", floorMs * 1.03),
               bench::Verdict(worst > 0 && worst <= floorMs * 1.03));
    bench::Row("resident memory, module 1 / " + std::to_string(n),
               bench::Format("%ld / %ld kB", rssFirst, rssLast), "must not grow",
               bench::Verdict(rssLast >= 0 && rssLast <= rssFirst + 256));
    bench::Row("open fds, module 1 / " + std::to_string(n),
               bench::Format("%ld / %ld", fdsFirst, fdsLast), "must not grow",
               bench::Verdict(fdsLast >= 0 && fdsLast <= fdsFirst));
    bench::Row("modules passed", bench::Format("%d of %d", n - failed, modules),
               "all, exit status 0", bench::Verdict(failed == 0 && n == modules && status == 0));
    return 0;
}
