// What the operator waits for when the port list drops down: the survey of
// the 255 COM names again, through the real port adapter, and the device
// tooltips. Two pseudo-terminals are linked as
// ports/COM3 and ports/COM7, the other names map to their /dev/tty*
// defaults, as on a bench with two adapters.
//
//   port_list_bench [--runs 50]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>

#include "bench_support.h"
#include "fakes.h"
#include "qt_seams.h"
#include "qt_serial_port.h"
#include "recv_profile.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long runs = bench::Option(argc, argv, "--runs", 50);
    const std::string folder = bench::MakeTempFolder("bench-port-list");
    std::filesystem::create_directories(folder + "/ports");
    std::vector<int> masters;
    for (const char* name : {"COM3", "COM7"}) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
        std::filesystem::create_symlink(ptsname(master), folder + "/ports/" + name);
        masters.push_back(master);
    }

    const store::FilePlaces places(folder, folder);
    wire::QtSerialPort port(places.ports);
    window::QtPlatform platform(places, "recvsetup", port.Names());
    testing_support::VirtualClock clock;
    testing_support::FakeDialogs dialogs;
    window::FormModel model(RecvSetupProfile(), port, clock, dialogs, platform);

    std::vector<double> dropDown, describe;
    for (long run = 0; run < runs; ++run) {
        long long start = bench::MonotonicNs();
        model.OnCombo1DropDown();
        dropDown.push_back(static_cast<double>(bench::MonotonicNs() - start) / 1e6);
        start = bench::MonotonicNs();
        for (int n : {3, 7}) {
            wire::PortDescription(port.Names().PlaceOf(n), "COM" + std::to_string(n));
        }
        describe.push_back(static_cast<double>(bench::MonotonicNs() - start) / 1e6);
    }
    const std::size_t found = model.Combo1.items.size();
    for (int master : masters) ::close(master);
    bench::RemoveFolder(folder);

    // The same without the two links: what the names without a device cost.
    const std::string bare = bench::MakeTempFolder("bench-port-list-bare");
    const store::FilePlaces barePlaces(bare, bare);
    wire::QtSerialPort barePort(barePlaces.ports);
    window::QtPlatform barePlatform(barePlaces, "recvsetup", barePort.Names());
    window::FormModel bareModel(RecvSetupProfile(), barePort, clock, dialogs, barePlatform);
    std::vector<double> withoutLinks;
    for (long run = 0; run < runs; ++run) {
        const long long start = bench::MonotonicNs();
        bareModel.OnCombo1DropDown();
        withoutLinks.push_back(static_cast<double>(bench::MonotonicNs() - start) / 1e6);
    }
    const std::size_t bareFound = bareModel.Combo1.items.size();
    bench::RemoveFolder(bare);

    bench::Section(bench::Format("Port list drop-down (%ld runs, %zu ports found)", runs, found));
    bench::Row("discovery of 255 COM names + device tooltips",
               bench::Format("median %.2f ms, worst %.2f ms", bench::Median(dropDown),
                             bench::Worst(dropDown)),
               "target about 2 ms");
    bench::Row(bench::Format("the same without the two links (%zu ports found)", bareFound),
               bench::Format("median %.2f ms", bench::Median(withoutLinks)),
               "information: each device that opens adds its open and close");
    bench::Row("part of it: the two device tooltips",
               bench::Format("median %.2f ms", bench::Median(describe)), "information");
    return 0;
}
