#pragma once

// A line of modsim fixtures for benchmarks that run the real `modsetup
// station` beside them, and the fields of its --json result lines.

#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

// Starts one modsim fixture per socket, COM1..COMn in folder/ports, each
// playing `modules` rx modules whose serials begin with `round`. A module
// stays in until the station has read it back, as an operator who waits for
// the result leaves it: a station slow to answer fails nothing for want of a
// module. Returns once each has said it is ready.
inline std::vector<pid_t> StartFixtures(const std::string& folder,
                                        const std::vector<std::string>& env, int sockets,
                                        int modules, int round) {
    std::vector<pid_t> sims;
    const std::string bin = BinDir();
    for (int s = 1; s <= sockets; ++s) {
        int out[2];
        if (pipe(out) != 0) return sims;
        sims.push_back(Spawn({bin + "/modsim", "--kind", "rx", "--folder", folder, "--com",
                              std::to_string(s), "--serial", Format("%02X%04X", round, s << 8),
                              "--fixture", std::to_string(modules), "--hold", "--present", "1500",
                              "--absent", "600"},
                             env, out[1]));
        close(out[1]);
        char ready[256];
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0 || read(out[0], ready, sizeof ready) <= 0)
            Note("modsim did not start");
        close(out[0]);
    }
    return sims;
}

// `modsetup station --json --quiet` over those fixtures, before its record
// and door options.
inline std::vector<std::string> StationCommand(const std::string& folder, int sockets,
                                               const std::string& channels) {
    std::vector<std::string> argv = {BinDir() + "/modsetup", "station", "--json", "--quiet",
                                     "--station", "bench", "--channels", channels};
    for (int s = 1; s <= sockets; ++s) {
        argv.push_back("--port");
        argv.push_back(folder + "/ports/COM" + std::to_string(s));
    }
    return argv;
}

// The value of "key" in one of modsetup's JSON lines, unquoted; enough for
// the numbers and plain texts a benchmark reads.
inline std::string JsonField(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    std::size_t at = json.find(tag);
    if (at == std::string::npos) return {};
    at += tag.size();
    if (json[at] == '"') {
        const std::size_t end = json.find('"', at + 1);
        return json.substr(at + 1, end - at - 1);
    }
    return json.substr(at, json.find_first_of(",}", at) - at);
}

}  // namespace bench
