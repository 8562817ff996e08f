#pragma once

// A throw-away MQTT broker for tests and benchmarks: Debian's mosquitto on
// a free port of 127.0.0.1 in a temporary folder, with its sessions kept on
// disk so that a subscriber's queue survives a stop and a start. Stopped and
// removed at the end.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "free_port.h"

class MosquittoBroker {
  public:
    static constexpr const char* kProgram = "/usr/sbin/mosquitto";

    // extra: more lines for mosquitto.conf (a password file, TLS).
    bool Start(std::string* why, const std::string& extra = "allow_anonymous true\n") {
        if (!std::filesystem::exists(kProgram)) {
            *why = "mosquitto is not installed (Debian: mosquitto)";
            return false;
        }
        char name[] = "/tmp/mosquitto.XXXXXX";
        if (!mkdtemp(name)) {
            *why = "no temporary folder";
            return false;
        }
        dir_ = name;
        port_ = FreePort();
        std::ofstream conf(dir_ + "/mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n"
             << extra << "persistence true\npersistence_location " << dir_ << "/\n"
             << "log_dest file " << dir_ << "/mosquitto.log\n"
             << "max_queued_messages 100000\n";
        // As root it would become the mosquitto user and lose the folder.
        if (::geteuid() == 0) conf << "user root\n";
        conf.close();
        if (!StartServer()) {
            *why = "mosquitto did not start, see " + dir_ + "/mosquitto.log";
            return false;
        }
        return true;
    }

    bool StartServer() {
        // Its start-up warnings go to the log beside the others.
        const int log = ::open((dir_ + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        pid_ = child::Spawn({kProgram, "-c", dir_ + "/mosquitto.conf"}, {}, -1, log);
        if (log >= 0) ::close(log);
        for (int i = 0; i < 200; ++i) {
            if (Listening()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

    // SIGTERM: it saves the sessions before it goes.
    void StopServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        if (child::WaitExit(pid_, 10000) < 0) {
            ::kill(pid_, SIGKILL);
            child::WaitExit(pid_, 5000);
        }
        pid_ = -1;
    }

    ~MosquittoBroker() {
        StopServer();
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    int Port() const { return port_; }
    const std::string& Dir() const { return dir_; }

    static int FreePort() { return FreeLoopbackPort(); }

  private:
    bool Listening() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};
