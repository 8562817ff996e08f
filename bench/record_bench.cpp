// The production record under a line's load: 16 station processes with 24
// sockets each writing into one PostgreSQL server on this machine, one
// station on SQLite, and a spool of rows sent after the server was away.
//
//   record_bench [--stations 16] [--seconds 10] [--attempts 1000] [--spooled 10000]
//
// "End to committed" is the time a station's Finish takes: from the moment
// the attempt has ended to its row committed on the server (or the SQLite
// file on disk).
#include <QCoreApplication>
#include <cstring>
#include <map>

#include "attempt_id.h"
#include "bench_support.h"
#include "csv_log.h"
#include "pg_cluster.h"
#include "scratch_folder.h"
#include "sql_record.h"

namespace {

constexpr int kSockets = 24;
// One module takes 4.24 s in a socket, so 24 sockets end one every 177 ms.
constexpr int kLinePaceMs = 4240 / kSockets;

record::Attempt MakeAttempt(const std::string& station, long long n) {
    record::Attempt a;
    a.attemptId = record::NewAttemptId();
    a.startedAt = record::IsoTimeNow();
    a.station = station;
    a.socket = static_cast<int>(n % kSockets) + 1;
    a.port = "/dev/ttyUSB" + std::to_string(a.socket - 1);
    a.kind = "rx";
    a.serial = bench::Format("%08lld", n);
    a.version = "R1.05";
    a.channels = {"434.700", "434.600", "433.920", "434.075"};
    a.operation = record::Operation::Write;
    a.result = record::Result::Running;
    a.toolVersion = "1.5.2";
    return a;
}

record::Attempt Ended(record::Attempt a) {
    a.result = record::Result::Pass;
    a.durationMs = 4236;
    a.readBack = {"A4,06,02,01,10", "A4,06,02,01,08", "4D,08,42,01,06", "A4,06,01,01,5E"};
    return a;
}

struct Run {
    std::vector<double> finishMs;
    long long startNs = 0, endNs = 0;
};

// One station: attempts as its sockets end them, paced or as fast as it can.
bool Station(const std::string& uri, const std::string& spool, const std::string& name,
             long long firstSerial, int attempts, int paceMs, double seconds, Run* run) {
    std::string error;
    auto sink = record::OpenDatabaseSink(uri, spool, &error);
    if (!sink) {
        std::fprintf(stderr, "record_bench: %s\n", error.c_str());
        return false;
    }
    run->startNs = bench::MonotonicNs();
    const long long stopNs = run->startNs + static_cast<long long>(seconds * 1e9);
    for (long long i = 0; paceMs > 0 ? bench::MonotonicNs() < stopNs : i < attempts; ++i) {
        const record::Attempt a = MakeAttempt(name, firstSerial + i);
        if (!sink->Begin(a).ok) return false;
        const record::Attempt done = Ended(a);
        const long long t0 = bench::MonotonicNs();
        if (!sink->Finish(done, &error)) return false;
        run->finishMs.push_back((bench::MonotonicNs() - t0) / 1e6);
        if (paceMs > 0) {
            const long long next = run->startNs + (i + 1) * paceMs * 1000000LL;
            while (bench::MonotonicNs() < next) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    run->endNs = bench::MonotonicNs();
    return sink->Unsent() == 0;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * v.size()))];
}

// The stations as processes of this program; their figures come back in files.
bool Line(const std::string& uri, const std::string& folder, int stations, int attempts, int paceMs,
          double seconds, Run* all) {
    std::vector<pid_t> pids;
    for (int s = 0; s < stations; ++s) {
        pids.push_back(child::Spawn(
            {"/proc/self/exe", "--child", uri, folder + "/spool" + std::to_string(s),
             "station " + std::to_string(s + 1), std::to_string((s + 1) * 1000000LL + paceMs * 7),
             std::to_string(attempts), std::to_string(paceMs), std::to_string(seconds),
             folder + "/run" + std::to_string(s)},
            {}));
    }
    bool ok = true;
    all->startNs = 0;
    for (int s = 0; s < stations; ++s) {
        ok = child::WaitExit(pids[s], 600000) == 0 && ok;
        std::ifstream in(folder + "/run" + std::to_string(s));
        long long start = 0, end = 0;
        in >> start >> end;
        if (all->startNs == 0 || start < all->startNs) all->startNs = start;
        all->endNs = std::max(all->endNs, end);
        for (double ms; in >> ms;) all->finishMs.push_back(ms);
    }
    return ok;
}

void Report(const std::string& what, const Run& r, int stations) {
    const double seconds = (r.endNs - r.startNs) / 1e9;
    const double p99 = Percentile(r.finishMs, 0.99);
    bench::Row(
        what + ": attempts per second",
        bench::Format("%.0f /s (%zu attempts in %.1f s)", r.finishMs.size() / seconds,
                      r.finishMs.size(), seconds),
        bench::Format("%d station%s x %d sockets", stations, stations == 1 ? "" : "s", kSockets));
    bench::Row(what + ": end of attempt to row committed",
               bench::Format("p99 %.1f ms (median %.1f, max %.1f)", p99,
                             Percentile(r.finishMs, 0.5), Percentile(r.finishMs, 1.0)),
               "target < 50 ms", bench::Verdict(p99 < 50));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 10 && std::strcmp(argv[1], "--child") == 0) {
        Run run;
        const bool ok = Station(argv[2], argv[3], argv[4], std::atoll(argv[5]), std::atoi(argv[6]),
                                std::atoi(argv[7]), std::atof(argv[8]), &run);
        std::ofstream out(argv[9]);
        out << run.startNs << " " << run.endNs << "\n";
        for (double ms : run.finishMs) out << ms << "\n";
        return ok ? 0 : 1;
    }
    int stations = 16, attempts = 1000, spooled = 10000;
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string o = argv[i];
        if (o == "--stations") stations = std::atoi(argv[i + 1]);
        if (o == "--attempts") attempts = std::atoi(argv[i + 1]);
        if (o == "--seconds") seconds = std::atof(argv[i + 1]);
        if (o == "--spooled") spooled = std::atoi(argv[i + 1]);
    }
    ScratchFolder folder("record_bench");
    PgCluster cluster;
    std::string why;
    bench::Section("Production record (PostgreSQL on this machine, fsync on)");
    if (!cluster.Start(&why, true)) {
        bench::Note("record_bench: no PostgreSQL cluster: " + why);
        return 1;
    }
    const std::string uri = cluster.Uri();
    std::string done;
    if (!record::InitDatabase(uri, 0, &done, &why)) {
        bench::Note("record_bench: db init: " + why);
        return 1;
    }
    Run paced, flat;
    if (!Line(uri, folder.Path(), stations, 0, kLinePaceMs, seconds, &paced)) {
        bench::Note("record_bench: a paced station failed");
    }
    Report(bench::Format("line pace (a module every %d ms per station)", kLinePaceMs), paced,
           stations);
    if (!Line(uri, folder.Path(), stations, attempts, 0, 0, &flat)) {
        bench::Note("record_bench: a station flat out failed");
    }
    Report("flat out", flat, stations);

    bench::Section("Production record (SQLite, one station, synchronous=FULL)");
    Run sqlite;
    if (!Station("sqlite:" + folder.Path() + "/one.db", "", "one", 1, attempts * 3, 0, 0,
                 &sqlite)) {
        bench::Note("record_bench: the SQLite station failed");
    }
    Report("flat out", sqlite, 1);

    bench::Section("Spool: rows kept while the server was away, then sent");
    cluster.StopServer();
    std::string error;
    auto sink = record::OpenDatabaseSink(uri, folder.Path() + "/catchup", &error, 3600000);
    if (!sink) {
        bench::Note("record_bench: " + error);
        return 1;
    }
    const long long s0 = bench::MonotonicNs();
    for (int i = 0; i < spooled; ++i) {
        const record::Attempt a = MakeAttempt("offline", 50000000LL + i);
        sink->Begin(a);
        sink->Finish(Ended(a), nullptr);
    }
    const double spoolSeconds = (bench::MonotonicNs() - s0) / 1e9;
    const int kept = sink->Unsent();
    cluster.StartServer();
    const long long c0 = bench::MonotonicNs();
    const int left = sink->Flush();
    const double catchUp = (bench::MonotonicNs() - c0) / 1e9;
    bench::Row("spooling while away",
               bench::Format("%.2f ms per attempt (%d attempts in %.1f s)",
                             spoolSeconds * 1000 / std::max(1, spooled), kept, spoolSeconds),
               "running row and result, each on disk");
    bench::Row(bench::Format("catching up %d spooled attempts", kept),
               bench::Format("%.2f s (%.0f attempts/s), %d left", catchUp, kept / catchUp, left),
               "in order, 500 per transaction");
    return 0;
}
