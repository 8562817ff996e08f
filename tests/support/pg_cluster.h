#pragma once

// A throw-away PostgreSQL cluster for tests and benchmarks: initdb and
// pg_ctl from Debian's postgresql package in a temporary folder, listening
// on a free port of 127.0.0.1 only, password logins through a pgpass file
// (PGPASSFILE is set for this process), stopped and removed at the end.
// PostgreSQL refuses to run as root, so as root it runs as "nobody".

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "free_port.h"

class PgCluster {
  public:
    // The folder of initdb and pg_ctl, or empty when PostgreSQL is not installed.
    static std::string BinDir() {
        namespace fs = std::filesystem;
        std::string best;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
            const std::string bin = e.path().string() + "/bin";
            if (fs::exists(bin + "/initdb") && fs::exists(bin + "/pg_ctl") && bin > best)
                best = bin;
        }
        return best;
    }

    // fsync off makes a test cluster fast; a benchmark keeps it on.
    bool Start(std::string* why, bool durable = false) {
        bin_ = BinDir();
        if (bin_.empty()) {
            *why = "PostgreSQL is not installed (Debian: postgresql)";
            return false;
        }
        char name[] = "/tmp/pgcluster.XXXXXX";
        if (!mkdtemp(name)) {
            *why = "no temporary folder";
            return false;
        }
        dir_ = name;
        port_ = FreePort();
        std::ofstream(dir_ + "/pw") << kPassword << "\n";
        const std::string pass = dir_ + "/pgpass";
        std::ofstream(pass) << "127.0.0.1:" << port_ << ":*:" << kUser << ":" << kPassword << "\n"
                            << "127.0.0.1:" << port_ << ":*:station_a:" << kPassword << "\n";
        ::chmod(pass.c_str(), 0600);
        ::setenv("PGPASSFILE", pass.c_str(), 1);
        if (::geteuid() == 0) {
            if (std::system(("chown -R nobody " + dir_ + " && chmod 755 " + dir_).c_str()) != 0) {
                *why = "cannot hand the folder to nobody";
                return false;
            }
            // PGPASSFILE stays root's; the server does not read it.
            ::chown(pass.c_str(), 0, 0);
        }
        if (Run("'" + bin_ + "/initdb' -D '" + dir_ + "/data' -U " + kUser + " --pwfile='" + dir_ +
                "/pw' -A scram-sha-256 --no-sync -E UTF8 --locale=C.UTF-8 >'" + dir_ +
                "/initdb.log' 2>&1") != 0) {
            *why = "initdb failed, see " + dir_ + "/initdb.log";
            return false;
        }
        options_ = "-p " + std::to_string(port_) + " -k " + dir_ +
                   " -c listen_addresses=127.0.0.1 -c max_connections=60" +
                   (durable ? "" : " -c fsync=off -c synchronous_commit=off");
        if (!StartServer()) {
            *why = "pg_ctl start failed, see " + dir_ + "/server.log";
            return false;
        }
        return true;
    }
    bool StartServer() {
        return Run("'" + bin_ + "/pg_ctl' -D '" + dir_ + "/data' -l '" + dir_ +
                   "/server.log' -w -t 60 -o '" + options_ + "' start >/dev/null 2>&1") == 0;
    }
    bool StopServer() {
        return Run("'" + bin_ + "/pg_ctl' -D '" + dir_ +
                   "/data' -w -t 60 -m fast stop >/dev/null 2>&1") == 0;
    }
    ~PgCluster() {
        if (dir_.empty()) return;
        StopServer();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // psql as the owner (or another user) on a database; its exit status.
    int Psql(const std::string& args, const std::string& user = kUser) const {
        return std::system(
            ("psql -X -q -v ON_ERROR_STOP=1 'host=127.0.0.1 port=" + std::to_string(port_) +
             " dbname=postgres user=" + user + " sslmode=disable' " + args)
                .c_str());
    }

    std::string Uri(const std::string& user = kUser) const {
        return "postgresql://" + user + "@127.0.0.1:" + std::to_string(port_) +
               "/postgres?sslmode=disable";
    }
    int Port() const { return port_; }
    const std::string& Dir() const { return dir_; }

    static constexpr const char* kUser = "modsetup";
    static constexpr const char* kPassword = "line-secret";

  private:
    int Run(const std::string& command) const {
        if (::geteuid() != 0) return std::system(command.c_str());
        std::string quoted;
        for (const char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return std::system(("runuser -u nobody -- sh -c '" + quoted + "'").c_str());
    }
    static int FreePort() { return FreeLoopbackPort(); }

    std::string bin_, dir_, options_;
    int port_ = 0;
};
