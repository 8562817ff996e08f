// Started by modstation_bench: modstation's start-up as the program runs it
// (QApplication, the window, the discovery of all 255 COM names, the
// production of N sockets started and shown), in the program folder given,
// whose ports/ holds the simulated fixtures. Prints CLOCK_MONOTONIC at each
// stage and leaves once the window with its tiles is first painted.
//
//   modstation_probe FOLDER N
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "first_frame.h"
#include "station_window.h"

int main(int argc, char** argv) {
    const long long entered = bench::MonotonicNs();
    if (argc != 3) {
        std::fprintf(stderr, "usage: modstation_probe FOLDER N\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int sockets = std::atoi(argv[2]);
    probe::Stage("main", entered);
    QApplication app(argc, argv);
    probe::Stage("application", bench::MonotonicNs());
    station::StationWindow window({folder, folder}, "0");
    window.RefreshPorts();
    probe::Stage("window-built", bench::MonotonicNs());
    station::StationSetup setup;
    setup.channels = {"434.700", "434.600", "433.920", "434.075"};
    for (int n = 1; n <= sockets; ++n) setup.ports.push_back("COM" + std::to_string(n));
    window.Apply(setup);
    probe::FirstFrame firstFrame;
    if (sockets > 0 && !window.StartProduction()) {
        std::fprintf(stderr, "%s\n", window.Message().toStdString().c_str());
        return 1;
    }
    window.resize(1280, 800);
    window.show();
    probe::Stage("started-and-shown", bench::MonotonicNs());
    return app.exec();
}
