// A complete channel write through the real serial port against modsim on a
// pseudo-terminal, timed from the click on "Write" to the end of the
// sequence (its timer stopped), beside the ideal: 13 ticks of 208 ms, the
// sequence's own pace at 4800 baud.
//
//   write_bench [--runs 3]
#include <QApplication>
#include <filesystem>

#include "bench_support.h"
#include "e2e_support.h"
#include "event_loop_wait.h"
#include "recv_profile.h"
#include "send_profile.h"
#include "serial_port.h"

namespace {

constexpr int kWriteTicks = 13;  // lead-in, version, identity, common, 4 x (load, store), end

void RunTool(const std::string& tool, const window::ToolProfile& profile, int runs) {
    const double idealMs = kWriteTicks * wire::TickPeriod(wire::kBaudRate);
    const std::string folder = e2e::TempFolder();
    std::vector<double> ms;
    std::string failure;
    {
        e2e::ModSim sim(folder, tool == "recvsetup" ? "rx" : "tx");
        e2e::Session s(profile, folder);
        s.Start();
        window::FormModel& m = s.Model();
        s.SetText("Combo1", "COM1");
        s.Click("ComStart");
        s.Click("GetInfoSW");
        if (!s.Port().IsOpen()) {
            failure = "the port did not open: " + m.P_Message.toolTip;
        } else if (bench::WaitUntil([&] { return m.ChWriteSW.enabled; }, 5000) < 0) {
            failure = "the identity read did not enable Write: " + m.C_Message.text;
        }
        for (int run = 0; run < runs && failure.empty(); ++run) {
            const long long start = bench::MonotonicNs();
            s.Click("ChWriteSW");
            const long long end =
                bench::WaitUntil([&] { return !m.WriteAllTimer.Enabled(); }, 10000);
            if (end < 0) {
                failure = "the write did not end within 10 s";
                break;
            }
            bool stored = m.T_Message.text.empty();
            for (const window::Control& box : m.Frequency) stored &= box.back == window::Colour::Ok;
            if (!stored) {
                failure = "the write failed: \"" + m.T_Message.text + "\"";
                break;
            }
            ms.push_back(static_cast<double>(end - start) / 1e6);
            std::printf("%s write %d: %.1f ms\n", tool.c_str(), run + 1, ms.back());
        }
    }
    bench::RemoveFolder(folder);

    if (!failure.empty()) {
        bench::Row(tool + ": complete write against modsim", "no figure: " + failure,
                   bench::Format("ideal %d x %d ms = %.0f ms", kWriteTicks,
                                 wire::TickPeriod(wire::kBaudRate), idealMs),
                   "NOT MET");
        return;
    }
    const double median = bench::Median(ms);
    bench::Row(bench::Format("%s: complete write against modsim (%d runs)", tool.c_str(), runs),
               bench::Format("median %.0f ms (best %.0f, worst %.0f), %+.1f %% of ideal", median,
                             bench::Best(ms), bench::Worst(ms), (median / idealMs - 1.0) * 100.0),
               bench::Format("ideal %d x %d ms = %.0f ms", kWriteTicks,
                             wire::TickPeriod(wire::kBaudRate), idealMs));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = static_cast<int>(bench::Option(argc, argv, "--runs", 3));
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // modsim is found through the end-to-end helpers' variable.
    setenv("SETUP_BIN_DIR", bench::BinDir().c_str(), 0);
    QApplication app(argc, argv);
    bench::Section("Complete write with the real port against modsim (offscreen)");
    RunTool("recvsetup", RecvSetupProfile(), runs);
    RunTool("sendsetup", SendSetupProfile(), runs);
    return 0;
}
