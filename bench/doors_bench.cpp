// The doors under abuse beside a working station: /status latency while
// 1000 requests a second, malformed requests, a client sending one byte a
// second and 500 idle connections all come at once; whether the station's
// writes still take their 13 ticks of 208 ms; the CPU the doors cost with
// 10 clients polling at 10 Hz; and the time from an attempt's end to an MQTT
// subscriber.
//
// The station is the real one by default: `modsetup station` over 8 modsim
// fixtures, with its doors, its writes read from its --json lines
// (--station fake: sockets that tick on a thread of this process).

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "fake_station.h"
#include "station_fixtures.h"
#include "mosquitto_broker.h"
#include "open_doors.h"

namespace {

int Connect(int port);
// CPU seconds of pid's threads whose names begin with "doors".
double DoorsCpuSeconds(const std::string& pid);

// What the benchmark needs of a station with its doors open.
class StationSide {
  public:
    virtual ~StationSide() = default;
    virtual std::string Name() const = 0;
    // Opens HTTP, Modbus and MQTT (to the broker, under the prefix "bench").
    virtual bool Start(int brokerPort, const std::string& outbox, std::string* why) = 0;
    virtual int HttpPort() const = 0;
    virtual void Stop() = 0;
    virtual std::vector<double> WriteMs() const = 0;
    virtual std::size_t Failed() const = 0;
    // When each attempt ended (monotonic ns), by attempt id.
    virtual std::map<std::string, long long> FinishedAtNs() const = 0;
    virtual double DoorsCpu() const = 0;
};

std::vector<std::string> DoorArgs(int http, int brokerPort, const std::string& outbox) {
    return {"--http",        "127.0.0.1:" + std::to_string(http),
            "--modbus",      "127.0.0.1:" + std::to_string(MosquittoBroker::FreePort()),
            "--mqtt",        "mqtt://127.0.0.1:" + std::to_string(brokerPort) + "/bench",
            "--mqtt-outbox", outbox};
}

class FakeSide : public StationSide {
  public:
    explicit FakeSide(int sockets) : station_(hub_, Options(sockets)) {}
    ~FakeSide() override { doors_.reset(); }
    std::string Name() const override { return "fake station"; }
    bool Start(int brokerPort, const std::string& outbox, std::string* why) override {
        doors::DoorsOptions options;
        std::vector<std::string> args = DoorArgs(0, brokerPort, outbox);
        if (!doors::TakeDoorOptions(args, &options, why)) return false;
        doors_ = doors::OpenDoors(options, hub_, why);
        if (!doors_) return false;
        station_.Start();
        return true;
    }
    int HttpPort() const override { return doors_->HttpPort(); }
    void Stop() override { station_.Stop(); }
    std::vector<double> WriteMs() const override { return station_.WriteMs(); }
    std::size_t Failed() const override {
        std::size_t n = 0;
        for (const record::Attempt& a : station_.Finished()) n += a.result != record::Result::Pass;
        return n;
    }
    std::map<std::string, long long> FinishedAtNs() const override {
        return station_.FinishedAtNs();
    }
    double DoorsCpu() const override { return DoorsCpuSeconds("self"); }

  private:
    static FakeStationOptions Options(int sockets) {
        FakeStationOptions o;
        o.sockets = sockets;
        o.tickMs = 208;
        return o;
    }
    doors::Hub hub_;
    FakeStation station_;
    std::unique_ptr<doors::Doors> doors_;
};

// modsetup station on modsim fixtures: an attempt's end is when its result
// line reached us, a hair after the station pushed it to the doors.
class ModsetupSide : public StationSide {
  public:
    explicit ModsetupSide(int sockets) : sockets_(sockets) {}
    ~ModsetupSide() override { Stop(); }
    std::string Name() const override { return "modsetup station on modsim"; }
    bool Start(int brokerPort, const std::string& outbox, std::string* why) override {
        folder_ = bench::MakeTempFolder("doors-bench");
        const std::vector<std::string> env = {"HOME=" + folder_,
                                              "XDG_DATA_HOME=" + folder_ + "/data",
                                              "XDG_CONFIG_HOME=" + folder_ + "/config"};
        sims_ = bench::StartFixtures(folder_, env, sockets_, 100000, 1);
        http_ = MosquittoBroker::FreePort();
        std::vector<std::string> argv =
            bench::StationCommand(folder_, sockets_, "434.700,434.600,433.920,434.075");
        for (const std::string& a : DoorArgs(http_, brokerPort, outbox)) argv.push_back(a);
        argv.insert(argv.end(), {"--log", folder_ + "/log.csv"});
        int out[2];
        if (pipe(out) != 0) return false;
        const int err = ::open((folder_ + "/stderr").c_str(), O_WRONLY | O_CREAT, 0600);
        pid_ = bench::Spawn(argv, env, out[1], err);
        ::close(out[1]);
        ::close(err);
        reader_ = std::thread([this, fd = out[0]] { Read(fd); });
        for (int i = 0; i < 150; ++i) {
            const int fd = Connect(http_);
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        *why = "modsetup station did not open its doors: " + bench::ReadFile(folder_ + "/stderr");
        return false;
    }
    int HttpPort() const override { return http_; }
    void Stop() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGINT);
            bench::WaitExit(pid_, 30000);
            pid_ = -1;
        }
        if (reader_.joinable()) reader_.join();
        for (pid_t sim : sims_) ::kill(sim, SIGTERM);
        for (pid_t sim : sims_) bench::WaitExit(sim, 10000);
        sims_.clear();
        if (!folder_.empty()) bench::RemoveFolder(folder_);
        folder_.clear();
    }
    std::vector<double> WriteMs() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return writes_;
    }
    std::size_t Failed() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }
    std::map<std::string, long long> FinishedAtNs() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_;
    }
    double DoorsCpu() const override { return DoorsCpuSeconds(std::to_string(pid_)); }

  private:
    void Read(int fd) {
        std::string pending;
        char buffer[8192];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                const std::string json = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (bench::JsonField(json, "command") != "write") continue;
                std::lock_guard<std::mutex> lock(mutex_);
                finished_[bench::JsonField(json, "attempt_id")] = bench::MonotonicNs();
                if (bench::JsonField(json, "result") != "pass") ++failed_;
                // Only a write that ran to its end takes 13 ticks.
                const double ms = std::atof(bench::JsonField(json, "write_ms").c_str());
                if (ms > 0) writes_.push_back(ms);
            }
        }
        ::close(fd);
    }

    int sockets_;
    std::string folder_;
    std::vector<pid_t> sims_;
    pid_t pid_ = -1;
    int http_ = 0;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<double> writes_;
    std::size_t failed_ = 0;
    std::map<std::string, long long> finished_;
};

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One GET on a kept-alive connection; false when it broke (the caller
// connects again).
bool Get(int fd, const std::string& path) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: bench\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return false;
    }
    std::string in;
    char buffer[8192];
    std::size_t want = std::string::npos;
    while (want == std::string::npos || in.size() < want) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        in.append(buffer, static_cast<std::size_t>(n));
        const std::size_t head = in.find("\r\n\r\n");
        if (want == std::string::npos && head != std::string::npos) {
            const std::size_t at = in.find("Content-Length: ");
            if (at == std::string::npos) return false;
            want = head + 4 + std::stoul(in.substr(at + 16));
        }
    }
    return in.rfind("HTTP/1.1 200", 0) == 0;
}

// Keeps GETting path every periodUs until stop; latencies in ms.
void Poll(int port, const std::string& path, long periodUs, std::atomic<bool>& stop,
          std::vector<double>* latencies, std::atomic<long>* served) {
    int fd = -1;
    long long next = bench::MonotonicNs();
    while (!stop) {
        if (fd < 0) fd = Connect(port);
        const long long t0 = bench::MonotonicNs();
        if (fd >= 0 && Get(fd, path)) {
            if (latencies)
                latencies->push_back(static_cast<double>(bench::MonotonicNs() - t0) / 1e6);
            if (served) ++*served;
        } else if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        next += periodUs * 1000;
        const long long wait = next - bench::MonotonicNs();
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
        else
            next = bench::MonotonicNs();
    }
    if (fd >= 0) ::close(fd);
}

double DoorsCpuSeconds(const std::string& pid) {
    double total = 0;
    const std::string tasks = "/proc/" + pid + "/task";
    DIR* d = ::opendir(tasks.c_str());
    if (!d) return 0;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string task = tasks + "/" + e->d_name;
        if (bench::ReadFile(task + "/comm").rfind("doors", 0) != 0) continue;
        const std::string stat = bench::ReadFile(task + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string f;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> f; ++i) {
            if (i == 14) utime = std::stod(f);
            if (i == 15) stime = std::stod(f);
        }
        total += (utime + stime) / tick;
    }
    ::closedir(d);
    return total;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// The MES: records when each UnitsTested arrives.
struct MqttListener {
    std::mutex mutex;
    std::map<std::string, long long> arrivedNs;
    mosquitto* m = nullptr;

    bool Start(int port) {
        mosquitto_lib_init();
        m = mosquitto_new("bench-mes", true, this);
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            const long long now = bench::MonotonicNs();
            const std::string payload(static_cast<const char*>(msg->payload),
                                      static_cast<std::size_t>(msg->payloadlen));
            if (payload.find("UnitsTested") == std::string::npos) return;
            const std::size_t at = payload.find("\"TransactionID\":\"");
            if (at == std::string::npos) return;
            const std::string id = payload.substr(at + 17, 36);
            auto* l = static_cast<MqttListener*>(self);
            std::lock_guard<std::mutex> lock(l->mutex);
            l->arrivedNs.emplace(id, now);
        });
        if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return false;
        mosquitto_subscribe(m, nullptr, "bench/+/attempt", 1);
        return mosquitto_loop_start(m) == MOSQ_ERR_SUCCESS;
    }
    ~MqttListener() {
        if (!m) return;
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        mosquitto_destroy(m);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 30;
    int cpuSeconds = 20;
    int sockets = 8;
    std::string kind = "real";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--seconds") seconds = std::atoi(argv[i + 1]);
        if (a == "--cpu-seconds") cpuSeconds = std::atoi(argv[i + 1]);
        if (a == "--sockets") sockets = std::atoi(argv[i + 1]);
        if (a == "--station") kind = argv[i + 1];
    }
    MosquittoBroker broker;
    std::string why;
    if (!broker.Start(&why)) {
        std::fprintf(stderr, "doors_bench: %s\n", why.c_str());
        return 1;
    }
    std::unique_ptr<StationSide> side;
    if (kind == "fake") {
        side = std::make_unique<FakeSide>(sockets);
    } else {
        side = std::make_unique<ModsetupSide>(sockets);
    }
    StationSide& station = *side;
    MqttListener mes;
    if (!mes.Start(broker.Port())) return 1;
    if (!station.Start(broker.Port(), broker.Dir() + "/outbox", &why)) {
        std::fprintf(stderr, "doors_bench: %s\n", why.c_str());
        return 1;
    }
    const int port = station.HttpPort();

    bench::Section("Doors under abuse beside a " + station.Name() + " of " +
                   std::to_string(sockets) + " sockets (" + std::to_string(seconds) + " s)");
    std::atomic<bool> stop{false};
    std::atomic<long> flooded{0}, malformed{0}, slowCut{0}, idleCut{0};
    std::vector<std::thread> threads;
    // 1000 requests a second over four kept-alive connections.
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] { Poll(port, "/status", 4000, stop, nullptr, &flooded); });
    }
    // Malformed requests, a hundred a second, each on a new connection.
    threads.emplace_back([&] {
        const char* kinds[] = {"GARBAGE\r\n\r\n", "GET /status HTTP/9.9\r\n\r\n",
                               "GET /status HTTP/1.1\r\nHost: x\r\nContent-Length: 99999\r\n\r\n",
                               "\x16\x03\x01\x02\x00"};
        for (int n = 0; !stop; ++n) {
            const int fd = Connect(port);
            if (fd >= 0) {
                const char* k = kinds[n % 4];
                ::send(fd, k, std::strlen(k), MSG_NOSIGNAL);
                char b[512];
                if (::recv(fd, b, sizeof b, 0) > 0) ++malformed;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // One byte a second.
    threads.emplace_back([&] {
        const std::string request = "GET /status HTTP/1.1\r\nHost: slow\r\n\r\n";
        int fd = -1;
        std::size_t at = 0;
        while (!stop) {
            if (fd < 0) {
                fd = Connect(port);
                at = 0;
            }
            if (fd >= 0 && ::send(fd, request.data() + at % request.size(), 1, MSG_NOSIGNAL) != 1) {
                ++slowCut;
                ::close(fd);
                fd = -1;
                continue;
            }
            ++at;
            for (int i = 0; i < 10 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            char b[512];
            if (fd >= 0 && ::recv(fd, b, sizeof b, MSG_DONTWAIT) == 0) {
                ++slowCut;
                ::close(fd);
                fd = -1;
            }
        }
        if (fd >= 0) ::close(fd);
    });
    // 500 idle connections, opened at once; those cut off are opened again.
    threads.emplace_back([&] {
        std::vector<int> idle(500, -1);
        while (!stop) {
            for (int& fd : idle) {
                char b;
                if (fd >= 0 && ::recv(fd, &b, 1, MSG_DONTWAIT) == 0) {
                    ++idleCut;
                    ::close(fd);
                    fd = -1;
                }
                if (fd < 0) fd = Connect(port);
            }
            for (int i = 0; i < 10 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int fd : idle) {
            if (fd >= 0) ::close(fd);
        }
    });
    std::vector<double> latencies;
    threads.emplace_back([&] { Poll(port, "/status", 20000, stop, &latencies, nullptr); });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& t : threads) t.join();

    const std::vector<double> writes = station.WriteMs();
    const double worstOff = [&] {
        double w = 0;
        for (double ms : writes) w = std::max(w, std::abs(ms - 2704.0) / 2704.0);
        return w;
    }();
    bench::Row("/status p99 (p50) under abuse",
               bench::Format("%.1f ms (%.1f ms), %zu requests", Percentile(latencies, 0.99),
                             Percentile(latencies, 0.5), latencies.size()),
               "under 20 ms",
               bench::Verdict(!latencies.empty() && Percentile(latencies, 0.99) < 20));
    bench::Row("flood served", bench::Format("%.0f requests/s", flooded.load() / double(seconds)),
               "1000 requests/s");
    bench::Row("malformed answered, slow and idle clients cut",
               bench::Format("%ld, %ld, %ld", malformed.load(), slowCut.load(), idleCut.load()),
               "");
    bench::Row("station writes (13 ticks of 208 ms)",
               bench::Format("%zu, worst %.2f %% off 2704 ms", writes.size(), worstOff * 100),
               "within 1 %", bench::Verdict(!writes.empty() && worstOff <= 0.01));
    bench::Row("modules failed", std::to_string(station.Failed()), "none",
               bench::Verdict(station.Failed() == 0));

    std::vector<double> mqttMs;
    {
        const auto finished = station.FinishedAtNs();
        std::lock_guard<std::mutex> lock(mes.mutex);
        for (const auto& [id, at] : finished) {
            const auto got = mes.arrivedNs.find(id);
            if (got != mes.arrivedNs.end())
                mqttMs.push_back(static_cast<double>(got->second - at) / 1e6);
        }
    }
    bench::Row("attempt end to MQTT subscriber p99",
               bench::Format("%.1f ms over %zu attempts", Percentile(mqttMs, 0.99), mqttMs.size()),
               "under 50 ms", bench::Verdict(!mqttMs.empty() && Percentile(mqttMs, 0.99) < 50));

    bench::Section("Doors' CPU beside the same station (" + std::to_string(cpuSeconds) +
                   " s each)");
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the abusers' leftovers time out
    double before = station.DoorsCpu();
    std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
    const double idleShare = (station.DoorsCpu() - before) / cpuSeconds;
    stop = false;
    std::atomic<long> polled{0};
    threads.clear();
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&] { Poll(port, "/status", 100000, stop, nullptr, &polled); });
    }
    before = station.DoorsCpu();
    std::this_thread::sleep_for(std::chrono::seconds(cpuSeconds));
    const double pollShare = (station.DoorsCpu() - before) / cpuSeconds;
    stop = true;
    for (std::thread& t : threads) t.join();
    bench::Row("doors' threads, no client", bench::Format("%.2f %% of a core", idleShare * 100),
               "");
    bench::Row("doors' threads, 10 clients polling /status at 10 Hz",
               bench::Format("%.2f %% of a core (%ld requests)", pollShare * 100, polled.load()),
               "under 1 %", bench::Verdict(pollShare < 0.01));
    station.Stop();
    return 0;
}
