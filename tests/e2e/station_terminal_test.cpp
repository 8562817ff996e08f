// modsetup station on a terminal of 80x24 and of 200x50, with 24 modsim
// fixtures, half of them named by long /dev/serial/by-id-like paths: every
// screen it draws, played into a terminal emulator, shows the table fitted
// to the screen with its columns in line, the messages above it intact, and
// the serial of the module being written.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSockets = 24;

struct Size {
    int columns, rows;
};

class StationTerminal : public ::testing::TestWithParam<Size> {
  protected:
    void TearDown() override { fs::remove_all(folder); }
    std::string folder = e2e::TempFolder();
};
INSTANTIATE_TEST_SUITE_P(Sizes, StationTerminal, ::testing::Values(Size{80, 24}, Size{200, 50}),
                         [](const auto& info) {
                             return std::to_string(info.param.columns) + "x" +
                                    std::to_string(info.param.rows);
                         });

int Rows(const std::string& log) {
    int n = -1;  // the header
    for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++n;
    return n;
}

TEST_P(StationTerminal, EveryScreenFitsAndKeepsItsMessages) {
    const Size size = GetParam();
    fs::create_directories(folder + "/by-id");
    std::vector<std::unique_ptr<e2e::ModSim>> sims;
    std::vector<std::string> args = {e2e::BinDir() + "/modsetup",
                                     "station",
                                     "--station",
                                     "gang",
                                     "--log",
                                     folder + "/log.csv",
                                     "--channels",
                                     "434.700,434.600,433.920,434.075"};
    for (int s = 1; s <= kSockets; ++s) {
        char serial[8];
        std::snprintf(serial, sizeof serial, "%06X", s << 12);
        // Two modules each; socket 5's fail, with a message on standard
        // error.
        std::vector<std::string> options = {"--serial",  serial, "--fixture", "2",
                                            "--present", "8000", "--absent",  "1500"};
        if (s == 5) options.insert(options.end(), {"--wrong-channel", "1"});
        sims.push_back(std::make_unique<e2e::ModSim>(folder, "rx", options, s));
        std::string port = folder + "/ports/COM" + std::to_string(s);
        if (s % 2 == 0) {
            char name[80];
            std::snprintf(name, sizeof name, "/by-id/usb-FTDI_FT232R_USB_UART_A10K%04d-if00-port0",
                          s);
            fs::create_symlink(port, folder + name);
            port = folder + name;
        }
        args.insert(args.end(), {"--port", port});
    }

    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(size.columns);
    ws.ws_row = static_cast<unsigned short>(size.rows);
    int master = -1;
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // What the terminal got, read as it comes so the program never waits
    // for its terminal; stopped once both modules of every socket are done.
    std::string screen;
    std::string reads;  // where each read ended
    bool stopped = false;
    const auto deadline = started + std::chrono::seconds(90);
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline + std::chrono::seconds(30)) {
            kill(pid, SIGKILL);  // it did not end on SIGTERM
        }
        if (!stopped && (Rows(e2e::ReadFile(folder + "/log.csv")) >= 2 * kSockets ||
                         std::chrono::steady_clock::now() > deadline)) {
            kill(pid, SIGTERM);
            stopped = true;
            reads += "stop\n";
        }
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[65536];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;  // the program has ended
        screen.append(buffer, static_cast<std::size_t>(n));
        reads += std::to_string(screen.size()) + "\n";
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(Rows(e2e::ReadFile(folder + "/log.csv")), 2 * kSockets);
    // Socket 5's modules failed; nothing else went wrong.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(screen.find("Sanitizer"), std::string::npos) << screen;

    const std::string transcript = folder + "/terminal";
    e2e::WriteTextFile(transcript, screen);
    e2e::WriteTextFile(transcript + ".reads", reads);
    const char* output = std::getenv("SETUP_TEST_OUTPUT");
    const std::string command =
        "/usr/bin/python3 '" SETUP_SOURCE_DIR "/tests/e2e/support/terminal_screens.py' '" +
        transcript + "' " + std::to_string(size.columns) + " " + std::to_string(size.rows) + " " +
        std::to_string(kSockets) + " '" + (output ? output : folder.c_str()) + "' 2>&1";
    std::string verdict;
    FILE* checker = popen(command.c_str(), "r");
    ASSERT_NE(checker, nullptr);
    char line[512];
    while (fgets(line, sizeof line, checker)) verdict += line;
    EXPECT_EQ(pclose(checker), 0) << verdict;
    // A few redraws a second at most, however busy 24 sockets are.
    int frames = -1;
    std::sscanf(verdict.c_str(), "frames %d", &frames);
    EXPECT_GT(frames, 0) << verdict;
    EXPECT_LE(frames, 4 * seconds + 2) << verdict << seconds << " s";
    std::printf("%s%.1f s, %.1f redraws a second\n", verdict.c_str(), seconds, frames / seconds);
}

}  // namespace
