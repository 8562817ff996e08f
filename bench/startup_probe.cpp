// Started by startup_bench: one tool's start-up exactly as the program runs
// it (QApplication, the window with the real port, timers and platform,
// start-up with the discovery of all 255 COM names, show), in the program
// folder given. Prints CLOCK_MONOTONIC at each stage and leaves as soon as
// the window has been exposed and painted for the first time.
//
//   startup_probe recvsetup|sendsetup FOLDER
#include <unistd.h>

#include <QApplication>
#include <QWindow>
#include <cstdio>
#include <cstring>

#include "bench_support.h"
#include "first_frame.h"
#include "recv_profile.h"
#include "run_tool.h"
#include "send_profile.h"

int main(int argc, char** argv) {
    const long long entered = bench::MonotonicNs();
    if (argc != 3 ||
        (std::strcmp(argv[1], "recvsetup") != 0 && std::strcmp(argv[1], "sendsetup") != 0)) {
        std::fprintf(stderr, "usage: startup_probe recvsetup|sendsetup FOLDER\n");
        return 2;
    }
    const std::string tool = argv[1];
    const std::string folder = argv[2];
    const window::ToolProfile& profile =
        tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();

    probe::Stage("main", entered);
    QApplication app(argc, argv);
    probe::Stage("application", bench::MonotonicNs());
    window::ToolSession session(profile, store::FilePlaces{folder, folder}, tool);
    probe::Stage("window-built", bench::MonotonicNs());
    probe::FirstFrame firstFrame;
    session.Start();
    probe::Stage("started-and-shown", bench::MonotonicNs());
    return app.exec();
}
