// modsetup station with eight sockets, each a modsim of its own on a
// pseudo-terminal: every module written once, one row per attempt with its
// socket, a socket whose device dies leaves the others alone and comes back,
// and a stop leaves eight whole rows.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_support.h"

namespace fs = std::filesystem;

namespace {

using e2e::ModSim;

constexpr int kSockets = 8;
constexpr const char* kPlan = "434.700,434.600,433.920,434.075";

std::string Serial(int socket, int module = 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", (socket << 12) + module);
    return text;
}

// The serial as the tools show it: the six hex digits as eight decimal ones.
std::string Shown(int socket) {
    char text[16];
    std::snprintf(text, sizeof text, "%08ld", std::stol(Serial(socket), nullptr, 16));
    return text;
}

// Rows of the log as fields; the socket is the last column.
std::vector<std::vector<std::string>> Rows(const std::string& log) {
    std::vector<std::vector<std::string>> rows;
    std::size_t start = log.find("\r\n");
    if (start == std::string::npos) return rows;
    start += 2;
    for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (std::size_t i = start; i < end; ++i) {
            const char c = log[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == ',' && !quoted) {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        rows.push_back(fields);
    }
    return rows;
}

class GangStation : public ::testing::Test {
  protected:
    void TearDown() override { fs::remove_all(folder); }
    pid_t Start() {
        std::string line = "exec '" + e2e::BinDir() +
                           "/modsetup' station --json --station gang --log '" + folder +
                           "/log.csv' --channels " + kPlan;
        for (int s = 1; s <= kSockets; ++s)
            line += " --port '" + folder + "/ports/COM" + std::to_string(s) + "'";
        line += " >'" + folder + "/out' 2>'" + folder + "/err'";
        return child::Spawn({"/bin/sh", "-c", line}, {});
    }
    std::vector<std::vector<std::string>> Log() const {
        return Rows(e2e::ReadFile(folder + "/log.csv"));
    }
    int Count(const std::string& result, int socket = 0) const {
        int n = 0;
        for (const auto& r : Log()) {
            if (r.size() < 16 || r[11] != result) continue;
            if (socket == 0 || r[15] == std::to_string(socket)) ++n;
        }
        return n;
    }
    std::string folder = e2e::TempFolder();
};

TEST_F(GangStation, EverySocketGoesItsOwnWayIntoOneLog) {
    std::vector<std::unique_ptr<ModSim>> sims;
    for (int s = 1; s <= kSockets; ++s) {
        std::vector<std::string> options = {"--serial", Serial(s)};
        // Socket 3's module is slow to store its third channel: its device
        // dies during that write.
        if (s == 3) options.insert(options.end(), {"--late", "/W 02:4000"});
        sims.push_back(std::make_unique<ModSim>(folder, "rx", options, s));
    }
    const pid_t pid = Start();
    ASSERT_TRUE(e2e::WaitFor(
        [&] { return sims[2]->Recorded().find("/W 02\r") != std::string::npos; }, 20000));
    sims[2]->Kill();
    // The other seven pass; socket 3 records the loss.
    ASSERT_TRUE(e2e::WaitFor([&] { return Count("pass") == 7 && Count("fail", 3) == 1; }, 30000))
        << e2e::ReadFile(folder + "/log.csv") << e2e::ReadFile(folder + "/err");
    for (const auto& r : Log()) {
        ASSERT_GE(r.size(), 16u);
        const int socket = std::stoi(r[15]);
        // Each row names the socket its module sat in.
        EXPECT_EQ(r[4], Shown(socket)) << "socket " << socket;
        if (socket == 3) {
            EXPECT_NE(r[12].find("Com port Error!"), std::string::npos) << r[12];
        }
    }
    // Its device comes back with another module in it: a new attempt.
    sims[2] = std::make_unique<ModSim>(folder, "rx",
                                       std::vector<std::string>{"--serial", Serial(3, 1)}, 3);
    ASSERT_TRUE(e2e::WaitFor([&] { return Count("pass", 3) == 1; }, 20000))
        << e2e::ReadFile(folder + "/log.csv");
    // Each module was written exactly once (socket 3 had two, one record).
    for (int s = 1; s <= kSockets; ++s) {
        const std::string recorded = sims[static_cast<std::size_t>(s - 1)]->Recorded();
        std::size_t writes = 0;
        for (std::size_t at = recorded.find("/W 00\r"); at != std::string::npos;
             at = recorded.find("/W 00\r", at + 1)) {
            ++writes;
        }
        EXPECT_EQ(writes, s == 3 ? 2u : 1u) << "socket " << s;
    }
    // Socket 1's adapter goes while it only waits for its module to be taken
    // out: said on standard error and as a JSON event, off a terminal too.
    sims[0]->Kill();
    ASSERT_TRUE(e2e::WaitFor(
        [&] {
            return e2e::ReadFile(folder + "/out").find("{\"command\":\"adapter\",\"socket\":1,") !=
                   std::string::npos;
        },
        10000))
        << e2e::ReadFile(folder + "/out");
    EXPECT_NE(e2e::ReadFile(folder + "/err").find("socket 1 "), std::string::npos);
    EXPECT_NE(e2e::ReadFile(folder + "/err").find(": adapter missing ("), std::string::npos)
        << e2e::ReadFile(folder + "/err");
    kill(pid, SIGTERM);
    EXPECT_EQ(child::WaitExit(pid, 10000), 1);  // socket 3 failed once
    EXPECT_EQ(Log().size(), 9u);
    // The summary counts each socket's losses.
    const std::string err = e2e::ReadFile(folder + "/err");
    EXPECT_NE(err.find("1 passed, 0 failed, 0 skipped, adapter lost 1 time"), std::string::npos)
        << err;
    EXPECT_NE(e2e::ReadFile(folder + "/out").find("\"adapter_losses\":2"), std::string::npos);
}

TEST_F(GangStation, SigtermLeavesEightWholeInterruptedRows) {
    std::vector<std::unique_ptr<ModSim>> sims;
    for (int s = 1; s <= kSockets; ++s) {
        sims.push_back(std::make_unique<ModSim>(
            folder, "rx", std::vector<std::string>{"--serial", Serial(s), "--late", "/W 02:8000"},
            s));
    }
    const pid_t pid = Start();
    ASSERT_TRUE(e2e::WaitFor(
        [&] {
            for (const auto& sim : sims) {
                if (sim->Recorded().find("/W 02\r") == std::string::npos) return false;
            }
            return true;
        },
        20000));
    kill(pid, SIGTERM);
    EXPECT_EQ(child::WaitExit(pid, 10000), 1);
    const std::string log = e2e::ReadFile(folder + "/log.csv");
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(Count("interrupted"), kSockets) << log;
    EXPECT_EQ(Log().size(), static_cast<std::size_t>(kSockets)) << log;
    EXPECT_NE(e2e::ReadFile(folder + "/err").find("8 written, 0 passed, 8 failed"),
              std::string::npos)
        << e2e::ReadFile(folder + "/err");
}

}  // namespace
