// The record as it grows, and the line while the record stalls.
//
//   record_scale_bench [--sizes 0,100000,1000000] [--records csv,sqlite,postgresql]
//                      [--modules 3] [--stall 1] [--report 1000000]
//
// For every record and size: a record of that many earlier attempts, then one
// modsetup station with one modsim fixture of --modules modules. A module's
// time is the station's own (from its first command to its result) and its
// time end to end (from its row's started_at to its result line, so with the
// row kept). Then `modsetup report` over a record of --report attempts, each
// form timed with its peak memory. Then 8 sockets on PostgreSQL while every
// server process is stopped (SIGSTOP) for 30 s, and on SQLite while another
// program holds the file's exclusive lock for 15 s.
//
// 10 000 000 attempts take about 3 GB on disk per record and minutes to make.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "bench_support.h"
#include "csv_log.h"
#include "pg_cluster.h"
#include "station_fixtures.h"
#include "sql_record.h"
#include "serial_port.h"

namespace {

const char kChannels[] = "434.700,434.600,433.920,434.075";

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');) parts.push_back(item);
    return parts;
}

// A record: how a station is pointed at it, and how it grows.
struct Store {
    std::string kind;  // "csv", "sqlite", "postgresql"
    std::vector<std::string> args;  // --log PATH or --db URI
    std::string path;               // the file, for csv and sqlite
    std::string uri;                // sqlite:PATH or postgresql://...
    long long rows = 0;
};

// The earlier attempts: 3 stations of 8 sockets, one in seven failed, one
// module in ten written twice, none of them a serial the fixtures play.
record::Attempt Earlier(long long i) {
    record::Attempt a;
    a.attemptId = bench::Format("%08llx-0000-4000-8000-000000000000", i);
    const long long ms = 1780000000000LL + i * 600;
    const time_t s = static_cast<time_t>(ms / 1000);
    tm t{};
    gmtime_r(&s, &t);
    char when[40];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &t);
    a.startedAt = bench::Format("%s.%03lld+00:00", when, ms % 1000);
    a.station = bench::Format("line %lld", i % 3 + 1);
    a.stationId = bench::Format("ST%lld", i % 3);
    a.socket = static_cast<int>(i / 3 % 8) + 1;
    a.port = bench::Format("COM%d", a.socket);
    a.kind = "rx";
    a.serial = bench::Format("P%07llX", i % 10 == 9 ? i - 1 : i);
    a.version = "R1.05";
    a.channels = {"434.700", "434.600", "433.920", "434.075"};
    a.operation = record::Operation::Write;
    const bool fail = i % 7 == 0;
    a.result = fail ? record::Result::Fail : record::Result::Pass;
    a.failedStep = fail ? record::Step::Check : record::Step::None;
    a.message = fail ? "Discrepancy!!" : "";
    a.durationMs = 4236;
    a.toolVersion = "1.6.0";
    return a;
}

bool GrowCsv(Store& s, long long to) {
    std::ofstream out(s.path, std::ios::binary | std::ios::app);
    if (s.rows == 0) out << record::ProductionLogHeader();
    std::string block;
    for (long long i = s.rows; i < to; ++i) {
        block += record::FormatProductionRow(Earlier(i));
        if (block.size() > (1 << 20)) {
            out << block;
            block.clear();
        }
    }
    out << block;
    s.rows = to;
    return static_cast<bool>(out);
}

// The same rows made by the server itself; PostgreSQL's rules and audit are
// switched off for the load (as a restore would), SQLite's audit runs.
bool GrowSql(Store& s, long long to) {
    const bool pg = s.kind == "postgresql";
    const QString name = QStringLiteral("grow");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", name);
        if (pg) {
            const std::string host = s.uri.substr(s.uri.find('@') + 1);
            db.setHostName("127.0.0.1");
            db.setPort(std::atoi(host.substr(host.find(':') + 1).c_str()));
            db.setDatabaseName("postgres");
            db.setUserName(PgCluster::kUser);
            db.setPassword(PgCluster::kPassword);
        } else {
            db.setDatabaseName(QString::fromStdString(s.path));
        }
        if (!db.open()) {
            bench::Note("record_scale_bench: " + db.lastError().text().toStdString());
        } else {
            QSqlQuery q(db);
            const QString id = pg ? "(lpad(to_hex(i), 8, '0') || '-0000-4000-8000-000000000000')::uuid"
                                  : "printf('%08x-0000-4000-8000-000000000000', i)";
            const QString serial =
                pg ? "'P' || lpad(upper(to_hex(CASE WHEN i % 10 = 9 THEN i - 1 ELSE i END)), 7, '0')"
                   : "printf('P%07X', CASE WHEN i % 10 = 9 THEN i - 1 ELSE i END)";
            const QString when =
                pg ? "to_timestamp(1780000000 + i * 0.6)"
                   : "strftime('%Y-%m-%dT%H:%M:%f+00:00', 1780000000 + i * 0.6, 'unixepoch')";
            const QString rows = pg ? QString("generate_series(%1, %2) AS g(i)").arg(s.rows).arg(to - 1)
                                    : QString("n");
            const QString head =
                pg ? QString()
                   : QString("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n "
                             "WHERE i + 1 < %2) ")
                         .arg(s.rows)
                         .arg(to);
            const QString insert =
                head +
                "INSERT INTO attempts (attempt_id, station, station_id, socket, port, kind, serial, "
                "version, ch0, ch1, ch2, ch3, operation, result, failed_step, message, started_at, "
                "duration_ms, tool_version, finished_at) SELECT " +
                id + ", 'line ' || (i % 3 + 1), 'ST' || (i % 3), i / 3 % 8 + 1, 'COM' || (i / 3 % 8 + 1), "
                "'rx', " + serial + ", 'R1.05', '434.700', '434.600', '433.920', '434.075', 'write', "
                "CASE WHEN i % 7 = 0 THEN 'fail' ELSE 'pass' END, "
                "CASE WHEN i % 7 = 0 THEN 'check' ELSE '' END, "
                "CASE WHEN i % 7 = 0 THEN 'Discrepancy!!' ELSE '' END, " +
                when + ", 4236, '1.6.0', " + when + " FROM " + rows;
            ok = (!pg || q.exec("SET session_replication_role = replica")) && db.transaction() &&
                 q.exec(insert) && db.commit();
            if (!ok) bench::Note("record_scale_bench: " + q.lastError().text().toStdString());
            // As a record that has been in use for a while: vacuumed (the
            // server's own autovacuum would have), its write-ahead log
            // written back into the tables.
            if (ok && pg) ok = q.exec("VACUUM (ANALYZE) attempts") && q.exec("CHECKPOINT");
            if (ok && !pg) ok = q.exec("PRAGMA wal_checkpoint(TRUNCATE)");
            if (!ok) bench::Note("record_scale_bench: " + q.lastError().text().toStdString());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (ok) s.rows = to;
    return ok;
}

bool Grow(Store& s, long long to) {
    if (to <= s.rows) return true;
    return s.kind == "csv" ? GrowCsv(s, to) : GrowSql(s, to);
}

// Milliseconds since the epoch of "2026-12-09T19:40:42.123+01:00".
long long EpochMs(const std::string& iso) {
    tm t{};
    int ms = 0, oh = 0, om = 0;
    char sign = '+';
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%d%c%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &ms, &sign, &oh, &om) != 10)
        return 0;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    const long long offset = (oh * 60 + om) * 60LL * (sign == '-' ? -1 : 1);
    return (static_cast<long long>(timegm(&t)) - offset) * 1000 + ms;
}

long long RealMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

struct Module {
    bool pass = false;
    double stationMs = 0;  // duration_ms
    double endToEndMs = 0;
    double writeMs = 0;
    std::string message;
    long long atMs = 0;  // when its result came, CLOCK_REALTIME
};

struct Line {
    std::vector<Module> modules;
    long peakKb = 0;
    std::string exit;
};

// One station over `sockets` fixtures of `modules` modules each; `during`
// runs once, while the station works, with the station's pid.
Line RunStation(const std::string& folder, const std::vector<std::string>& record, int sockets,
                int modules, const std::function<void(pid_t)>& during = {}) {
    Line line;
    const std::vector<std::string> env = {"HOME=" + folder, "XDG_DATA_HOME=" + folder + "/data",
                                          "XDG_CONFIG_HOME=" + folder + "/config"};
    static int fixtureRound = 0;
    const std::vector<pid_t> sims = bench::StartFixtures(folder, env, sockets, modules, ++fixtureRound);
    std::vector<std::string> argv = bench::StationCommand(folder, sockets, kChannels);
    argv.insert(argv.end(), record.begin(), record.end());
    int out[2];
    if (pipe(out) != 0) return line;
    const pid_t tool = bench::Spawn(argv, env, out[1]);
    close(out[1]);
    std::thread side;
    if (during) side = std::thread([&] { during(tool); });
    std::string pending;
    const int total = sockets * modules;
    while (static_cast<int>(line.modules.size()) < total) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 120000) <= 0) break;
        char buffer[8192];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string json = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (bench::JsonField(json, "command") != "write") continue;
            Module m;
            m.atMs = RealMs();
            m.pass = bench::JsonField(json, "result") == "pass";
            m.stationMs = std::atof(bench::JsonField(json, "duration_ms").c_str());
            m.writeMs = std::atof(bench::JsonField(json, "write_ms").c_str());
            m.endToEndMs = static_cast<double>(m.atMs - EpochMs(bench::JsonField(json, "started_at")));
            m.message = bench::JsonField(json, "message");
            line.modules.push_back(m);
        }
    }
    if (side.joinable()) side.join();
    line.peakKb = bench::StatusField(std::to_string(tool), "VmHWM");
    kill(tool, SIGINT);
    const int status = bench::WaitExit(tool, 30000);
    if (status != 0 && status != 1) line.exit = bench::Format("modsetup ended with %d", status);
    close(out[0]);
    for (pid_t sim : sims) kill(sim, SIGTERM);
    for (pid_t sim : sims) bench::WaitExit(sim, 10000);
    return line;
}

std::vector<double> Pick(const std::vector<Module>& modules, double Module::*what) {
    std::vector<double> v;
    for (const Module& m : modules) v.push_back(m.*what);
    return v;
}

int Passed(const std::vector<Module>& modules) {
    int n = 0;
    for (const Module& m : modules) n += m.pass;
    return n;
}

// Wall seconds and peak memory (MB) of one run of a program.
std::pair<double, double> Timed(const std::vector<std::string>& argv) {
    const long long t0 = bench::MonotonicNs();
    const int devnull = open("/dev/null", O_WRONLY);
    const pid_t pid = bench::Spawn(argv, {}, devnull, devnull);
    close(devnull);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        bench::Note("record_scale_bench: " + argv[1] + " " + argv[2] + " failed");
    }
    return {(bench::MonotonicNs() - t0) / 1e9, usage.ru_maxrss / 1024.0};
}

// Every process of the cluster: the postmaster and its children.
std::vector<pid_t> ServerProcesses(const PgCluster& cluster) {
    std::vector<pid_t> pids;
    std::ifstream pidFile(cluster.Dir() + "/data/postmaster.pid");
    pid_t postmaster = 0;
    pidFile >> postmaster;
    if (postmaster <= 0) return pids;
    pids.push_back(postmaster);
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            const pid_t pid = std::atoi(e->d_name);
            if (pid <= 0) continue;
            const std::string stat = bench::ReadFile("/proc/" + std::string(e->d_name) + "/stat");
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            int ppid = 0;
            char state = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
                ppid == postmaster)
                pids.push_back(pid);
        }
        closedir(proc);
    }
    return pids;
}

void ReportStall(const std::string& what, const Line& line, long long fromMs, long long toMs,
                 int total) {
    // The writes that ran while the record was away, and after it came back.
    std::vector<double> writes, waited;
    int failed = 0;
    for (const Module& m : line.modules) {
        if (!m.pass) ++failed;
        if (m.atMs >= fromMs && m.atMs - static_cast<long long>(m.stationMs) <= toMs)
            writes.push_back(m.writeMs);
        waited.push_back(m.endToEndMs);
    }
    const double worstOff = [&] {
        double w = 0;
        for (double ms : writes) w = std::max(w, std::abs(ms - 2704) / 2704);
        return w;
    }();
    bench::Row(what + ": modules passed",
               bench::Format("%d of %d", Passed(line.modules), total), "all, none failed",
               bench::Verdict(failed == 0 && Passed(line.modules) == total));
    bench::Row(what + ": writes during the stall",
               bench::Format("%zu, median %.0f ms, worst %.2f %% off", writes.size(),
                             bench::Median(writes), 100 * worstOff),
               "2704 ms +-1 %", bench::Verdict(!writes.empty() && worstOff <= 0.01));
    bench::Row(what + ": attempt end to end, worst",
               bench::Format("%.1f s", bench::Worst(waited) / 1000), "a socket waits for the record", "");
    for (const Module& m : line.modules) {
        if (!m.pass) bench::Note("  failed: " + m.message);
    }
    if (!line.exit.empty()) bench::Note("  " + line.exit);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::vector<long long> sizes;
    for (const std::string& s : Split(bench::TextOption(argc, argv, "--sizes", "0,100000,1000000")))
        sizes.push_back(std::atoll(s.c_str()));
    const std::vector<std::string> kinds =
        Split(bench::TextOption(argc, argv, "--records", "csv,sqlite,postgresql"));
    const int modules = static_cast<int>(bench::Option(argc, argv, "--modules", 3));
    const bool stall = bench::Option(argc, argv, "--stall", 1) != 0;
    const long long reportRows = bench::Option(argc, argv, "--report", 1000000);

    const int tick = wire::TickPeriod(wire::kBaudRate);
    const double floorMs = 13 * tick + 5 * wire::TickPeriod(wire::kBaudRate, 0.7) + 4 * 200;
    const std::string folder = bench::MakeTempFolder("record-scale");
    const std::string bin = bench::BinDir();
    PgCluster cluster;
    std::string why;
    bool pgUp = false;

    for (const std::string& kind : kinds) {
        Store store;
        store.kind = kind;
        if (kind == "csv") {
            store.path = folder + "/log.csv";
            store.args = {"--log", store.path};
        } else {
            if (kind == "postgresql") {
                if (!pgUp && !(pgUp = cluster.Start(&why, true))) {
                    bench::Note("record_scale_bench: no PostgreSQL cluster: " + why);
                    continue;
                }
                store.uri = cluster.Uri();
            } else {
                store.path = folder + "/record.db";
                store.uri = "sqlite:" + store.path;
            }
            std::string done;
            if (!record::InitDatabase(store.uri, 0, &done, &why)) {
                bench::Note("record_scale_bench: db init: " + why);
                continue;
            }
            store.args = {"--log", folder + "/" + kind + "-beside.csv", "--db", store.uri};
        }
        bench::Section("One module with a record of N earlier attempts: " + kind);
        std::vector<long long> wanted = sizes;
        if (reportRows > 0 &&
            std::find(wanted.begin(), wanted.end(), reportRows) == wanted.end())
            wanted.push_back(reportRows);
        std::sort(wanted.begin(), wanted.end());
        for (const long long n : wanted) {
            const long long t0 = bench::MonotonicNs();
            if (!Grow(store, n)) break;
            // A record long on disk, as a line's is: the first row's flush
            // to disk must not write out the rows just made.
            ::sync();
            const double grew = (bench::MonotonicNs() - t0) / 1e9;
            if (std::find(sizes.begin(), sizes.end(), n) != sizes.end()) {
                // The CSV beside a database starts empty every time: only
                // the database's size is under test there.
                if (kind != "csv") std::remove((folder + "/" + kind + "-beside.csv").c_str());
                const Line line = RunStation(folder, store.args, 1, modules);
                const auto station = Pick(line.modules, &Module::stationMs);
                const auto whole = Pick(line.modules, &Module::endToEndMs);
                const double worst = std::max(bench::Worst(station), bench::Worst(whole));
                bench::Row(bench::Format("%lld earlier attempts", n),
                           bench::Format("%d of %d passed; station %.0f ms, end to end %.0f ms "
                                         "(worst %.0f), peak %ld MB",
                                         Passed(line.modules), modules, bench::Median(station),
                                         bench::Median(whole), worst, line.peakKb / 1024),
                           bench::Format("floor %.0f ms, target <= %.0f", floorMs, floorMs * 1.01),
                           bench::Verdict(Passed(line.modules) == modules &&
                                          worst <= floorMs * 1.01));
                if (!line.exit.empty()) bench::Note("  " + line.exit);
                std::string each;
                for (const Module& m : line.modules)
                    each += bench::Format(" %.0f/%.0f", m.stationMs, m.endToEndMs);
                bench::Note(bench::Format("  %s, %lld earlier: station/end to end ms:", kind.c_str(), n) +
                            each);
                if (n > 0) bench::Note(bench::Format("  (%lld rows made in %.0f s)", n, grew));
            }
            if (reportRows > 0 && n == reportRows) {
                std::vector<std::string> source = kind == "csv"
                                                      ? std::vector<std::string>{"--log", store.path}
                                                      : std::vector<std::string>{"--db", store.uri};
                const std::vector<std::pair<std::string, std::vector<std::string>>> forms = {
                    {"text", {}},
                    {"json", {"--json"}},
                    {"html", {"--html", folder + "/report.html"}}};
                for (const auto& [form, extra] : forms) {
                    std::vector<std::string> args = {bin + "/modsetup", "report"};
                    args.insert(args.end(), source.begin(), source.end());
                    args.insert(args.end(), extra.begin(), extra.end());
                    const auto [seconds, mb] = Timed(args);
                    bench::Row(bench::Format("report %s over %lld attempts", form.c_str(), n),
                               bench::Format("%.2f s, peak %.0f MB", seconds, mb),
                               "target < 3 s, < 100 MB",
                               bench::Verdict(seconds < 3 && mb < 100));
                }
            }
        }
        if (!store.path.empty()) std::remove(store.path.c_str());
    }

    if (stall) {
        constexpr int kSockets = 8, kModules = 8;
        bench::Section("8 sockets while the record stalls");
        if (!pgUp && !(pgUp = cluster.Start(&why, true))) {
            bench::Note("record_scale_bench: no PostgreSQL cluster: " + why);
        } else {
            std::string done;
            record::InitDatabase(cluster.Uri(), 0, &done, &why);
            long long from = 0, to = 0;
            const Line line = RunStation(
                folder, {"--db", cluster.Uri()}, kSockets, kModules, [&](pid_t) {
                    std::this_thread::sleep_for(std::chrono::seconds(8));
                    const auto pids = ServerProcesses(cluster);
                    from = RealMs();
                    for (pid_t p : pids) kill(p, SIGSTOP);
                    std::this_thread::sleep_for(std::chrono::seconds(30));
                    for (pid_t p : pids) kill(p, SIGCONT);
                    to = RealMs();
                });
            ReportStall("PostgreSQL stopped 30 s", line, from, to, kSockets * kModules);
        }
        const std::string file = folder + "/stall.db";
        std::string done;
        if (record::InitDatabase("sqlite:" + file, 0, &done, &why)) {
            long long from = 0, to = 0;
            const Line line = RunStation(
                folder, {"--db", "sqlite:" + file}, kSockets, kModules, [&](pid_t) {
                    std::this_thread::sleep_for(std::chrono::seconds(8));
                    // Another program's write transaction: the file is locked
                    // for everyone else until it ends.
                    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "holder");
                    db.setDatabaseName(QString::fromStdString(file));
                    db.open();
                    QSqlQuery q(db);
                    from = RealMs();
                    if (!q.exec("BEGIN EXCLUSIVE")) bench::Note("record_scale_bench: no lock");
                    std::this_thread::sleep_for(std::chrono::seconds(15));
                    q.exec("COMMIT");
                    to = RealMs();
                });
            ReportStall("SQLite locked 15 s", line, from, to, kSockets * kModules);
        }
    }
    bench::RemoveFolder(folder);
    return 0;
}
