// How long a pulled cable takes to show: modsim is killed while the tool
// sits idle with the port open, and the time until the window shows the
// port error ("Open" again) is measured, then the CPU the tool uses in the
// second after it (a dead terminal must not keep it busy).
//
//   device_lost_bench [--runs 5]
#include <QApplication>
#include <csignal>

#include "bench_support.h"
#include "e2e_support.h"
#include "event_loop_wait.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace {

constexpr double kTargetMs = 200;

void RunTool(const std::string& tool, const window::ToolProfile& profile, int runs) {
    std::vector<double> delays;
    std::vector<double> cpu;
    std::string failure;
    for (int run = 0; run < runs && failure.empty(); ++run) {
        const std::string folder = e2e::TempFolder();
        {
            e2e::ModSim sim(folder, tool == "recvsetup" ? "rx" : "tx");
            e2e::Session s(profile, folder);
            s.Start();
            window::FormModel& m = s.Model();
            s.SetText("Combo1", "COM1");
            s.Click("ComStart");
            if (!s.Port().IsOpen()) {
                failure = "the port did not open: " + m.P_Message.toolTip;
            } else {
                bench::IdleFor(200);  // idle, port open
                const long long pulled = bench::MonotonicNs();
                sim.Kill();
                const long long shown = bench::WaitUntil(
                    [&] {
                        return m.P_Message.text == "Com port Error!" && m.ComStart.text == "Open";
                    },
                    5000);
                if (shown < 0) {
                    failure = "no port error within 5 s";
                } else {
                    delays.push_back(static_cast<double>(shown - pulled) / 1e6);
                    const double before = e2e::ProcessCpuSeconds();
                    bench::IdleFor(1000);
                    cpu.push_back((e2e::ProcessCpuSeconds() - before) * 100.0);
                    std::printf("%s run %d: shown after %.1f ms, then %.1f %% CPU\n", tool.c_str(),
                                run + 1, delays.back(), cpu.back());
                }
            }
        }
        bench::RemoveFolder(folder);
    }
    if (!failure.empty()) {
        bench::Row(tool + ": pulled cable shown", "no figure: " + failure,
                   bench::Format("within %.0f ms", kTargetMs), "NOT MET");
        return;
    }
    const double median = bench::Median(delays);
    bench::Row(bench::Format("%s: pulled cable shown as port error (%d runs)", tool.c_str(), runs),
               bench::Format("median %.1f ms (worst %.1f)", median, bench::Worst(delays)),
               bench::Format("within %.0f ms", kTargetMs),
               bench::Verdict(bench::Worst(delays) <= kTargetMs));
    bench::Row(tool + ": CPU in the second after it",
               bench::Format("median %.1f %% of a core", bench::Median(cpu)), "idle",
               bench::Verdict(bench::Worst(cpu) < 5.0));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = static_cast<int>(bench::Option(argc, argv, "--runs", 5));
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("SETUP_BIN_DIR", bench::BinDir().c_str(), 0);
    QApplication app(argc, argv);
    bench::Section("Pulled cable (modsim killed) with the real port, offscreen");
    RunTool("recvsetup", RecvSetupProfile(), runs);
    RunTool("sendsetup", SendSetupProfile(), runs);
    return 0;
}
