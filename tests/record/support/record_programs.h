#pragma once

// What the record's tests share: one PostgreSQL cluster per test program,
// the built programs run as a user would (modsetup's output and exit
// status), and the application object Qt SQL finds its drivers through.

#include <sys/wait.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "pg_cluster.h"

// One cluster for the whole program, started when the first test needs it;
// prepare (when given) runs once on it. Null with the reason when it cannot
// start.
inline PgCluster* SharedCluster(std::string* why, void (*prepare)(PgCluster&) = nullptr) {
    static std::unique_ptr<PgCluster> cluster;
    static std::string failed;
    if (!cluster && failed.empty()) {
        auto c = std::make_unique<PgCluster>();
        if (c->Start(&failed)) {
            if (prepare) prepare(*c);
            cluster = std::move(c);
        }
    }
    *why = failed;
    return cluster.get();
}

// Where the programs are: the build's bin folder (set by CMake for the test).
inline std::string BinDir() {
    const char* dir = std::getenv("SETUP_BIN_DIR");
    return dir ? dir : "bin";
}

// modsetup with args; its exit status, and its output and messages in *out.
inline int RunModsetup(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::string command = "'" + BinDir() + "/modsetup'";
    for (const auto& a : args) command += " '" + a + "'";
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buffer[4096];
    std::string text;
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) text.append(buffer, n);
    const int status = ::pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void NeedApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "record_test";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}
