#include "record_commands.h"

#include <functional>
#include <map>
#include <set>

#include "attempt_id.h"
#include "csv_log.h"
#include "report.h"
#include "sql_record.h"
#include "text_file.h"

namespace modsetup {

const char kRecordUsageText[] =
    "usage: modsetup db init --db URI [--to VERSION]\n"
    "       modsetup db verify --db URI\n"
    "       modsetup db release (SERIAL | --station NAME) --db URI\n"
    "       modsetup report (--db URI | --log FILE) [--since TIME] [--until TIME]\n"
    "                       [--station NAME] [--json] [--html FILE]\n"
    "       modsetup export --db URI --csv FILE [--since TIME] [--until TIME] [--station NAME]\n"
    "\n"
    "URI: sqlite:PATH, postgresql://[user@]host[:port]/database[?sslmode=...], or\n"
    "postgres:service=NAME. Passwords come from ~/.pgpass, PGPASSFILE or the service\n"
    "file, never from the URI. TIME: 2026-12-09, 2026-12-09T06:00 (local time) or with\n"
    "an offset (2026-12-09T06:00+01:00, ...Z). db init --to stops at an older schema\n"
    "version. db verify (PostgreSQL) exits 1 when the record was changed past its\n"
    "rules; db release, run as the owner, ends a serial's running attempts as\n"
    "interrupted or frees a station name (exit 1: nothing to release).\n";

namespace {

// Options that take a value, the main command line's among them, so that
// the command word is found whatever stands before it.
const std::set<std::string> kValued = {"--db",   "--log",      "--since", "--until",   "--station",
                                       "--html", "--csv",      "--to",    "--port",    "--kind",
                                       "--plan", "--channels", "--count", "--operator"};

struct Parsed {
    std::vector<std::string> words;
    std::map<std::string, std::string> values;
    bool json = false;
    bool help = false;
    std::string error;
};

Parsed Parse(const std::vector<std::string>& args) {
    Parsed p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (a.rfind("--", 0) != 0) {
            p.words.push_back(a);
            continue;
        }
        std::string value;
        const std::size_t eq = a.find('=');
        const bool inline_value = eq != std::string::npos;
        if (inline_value) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        if (a == "--json" || a == "--help") {
            (a == "--json" ? p.json : p.help) = true;
            continue;
        }
        if (!kValued.count(a)) {
            p.error = "unknown option " + a;
            return p;
        }
        if (!inline_value) {
            if (i + 1 >= args.size()) {
                p.error = a + " needs a value";
                return p;
            }
            value = args[++i];
        }
        p.values[a] = value;
    }
    return p;
}

bool Filter(const Parsed& p, record::ReportFilter* f, std::string* error) {
    for (const char* name : {"--since", "--until"}) {
        const auto it = p.values.find(name);
        if (it == p.values.end()) continue;
        long long ms = 0;
        if (!record::ParseIsoTime(it->second, &ms)) {
            *error = std::string(name) + " " + it->second + ": not a time (e.g. 2026-12-09T06:00)";
            return false;
        }
        // A day alone names the whole day: --since D --until D is that day,
        // not the empty span from its midnight to the same midnight.
        if (std::string(name) == "--until" && it->second.size() == 10) ms += 24LL * 3600 * 1000;
        (std::string(name) == "--since" ? f->sinceMs : f->untilMs) = ms;
    }
    if (p.values.count("--station")) f->station = p.values.at("--station");
    return true;
}

std::string Value(const Parsed& p, const char* name) {
    const auto it = p.values.find(name);
    return it == p.values.end() ? std::string() : it->second;
}

// Hands every attempt of the record to each, one at a time.
bool ForEach(const Parsed& p, const record::ReportFilter& filter,
             const std::function<bool(const record::Attempt&)>& each, std::string* error,
             bool forReport = false) {
    const std::string db = Value(p, "--db"), log = Value(p, "--log");
    if (db.empty() == log.empty()) {
        *error = "give the record: --db URI or --log FILE";
        return false;
    }
    if (!db.empty()) return record::ForEachAttempt(db, filter, each, error, forReport);
    record::CsvLogReader reader(log);
    if (!reader.Open(error)) {
        *error = "cannot read " + log;
        return false;
    }
    record::Attempt a;
    while (reader.Next(&a)) {
        if (!each(a)) return false;
    }
    return true;
}

std::string Count(long long n, const std::string& one, const std::string& many = "") {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

template <typename Usage>
int RunDbCommand(const Parsed& p, std::ostream& out, std::ostream& err, const Usage& usage) {
    const std::string what = p.words.size() >= 2 ? p.words[1] : "";
    const std::string uri = Value(p, "--db");
    const bool release = what == "release";
    if ((what != "init" && what != "verify" && !release) || (!release && p.words.size() != 2))
        return usage("expected: db init, db verify or db release, with --db URI");
    if (uri.empty()) return usage("db " + what + " needs --db URI");
    std::string error;
    if (what == "init") {
        // --to N stops at an older schema version (to try a migration).
        const int upTo = std::atoi(Value(p, "--to").c_str());
        std::string done, note;
        if (!record::InitDatabase(uri, upTo, &done, &error, &note)) {
            err << "modsetup: db init: " << error << "\n";
            return 2;
        }
        out << "modsetup: " << uri << ": "
            << (done.empty() ? "schema already up to date" : "applied " + done) << "\n";
        if (!note.empty()) out << "modsetup: " << note << "\n";
        return 0;
    }
    if (what == "verify") {
        record::VerifyReport report;
        if (!record::VerifyRecord(uri, &report, &error)) {
            err << "modsetup: db verify: " << error << "\n";
            return 2;
        }
        for (const auto& chain : report.chains) {
            out << "chain \"" << chain.stationId << "\": " << Count(chain.links, "link");
            if (!chain.head.empty()) out << "; link " << chain.headLink << ": " << chain.head;
            out << "\n";
        }
        for (const std::string& finding : report.findings) out << finding << "\n";
        out << "modsetup: db verify: " << Count(report.attempts, "finished attempt") << " in "
            << Count(static_cast<long long>(report.chains.size()), "chain") << ", "
            << Count(report.auditEntries, "audit entry", "audit entries") << ": "
            << (report.findings.empty()
                    ? "all is well"
                    : Count(static_cast<long long>(report.findings.size()), "finding"))
            << "\n";
        return report.findings.empty() ? 0 : 1;
    }
    const std::string station = Value(p, "--station");
    if ((p.words.size() == 3) == !station.empty() || p.words.size() > 3)
        return usage("db release takes a serial number or --station NAME");
    std::vector<std::string> released;
    std::string note;
    const bool ok = station.empty()
                        ? record::ReleaseSerial(uri, p.words[2], &released, &error)
                        : record::ReleaseStation(uri, station, &released, &note, &error);
    if (!ok) {
        err << "modsetup: db release: " << error << "\n";
        return 2;
    }
    for (const std::string& line : released) out << "modsetup: released " << line << "\n";
    if (!note.empty()) err << "modsetup: " << note << "\n";
    if (!released.empty()) return 0;
    err << "modsetup: db release: "
        << (station.empty() ? "no running attempt of serial " + p.words[2]
                            : "no station \"" + station + "\" is registered")
        << "\n";
    return 1;
}

}  // namespace

bool IsRecordCommand(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) == 0) {
            if (a.find('=') == std::string::npos && kValued.count(a)) ++i;
            continue;
        }
        return a == "db" || a == "report" || a == "export";
    }
    return false;
}

int RunRecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Parsed p = Parse(args);
    const auto usage = [&err](const std::string& why) {
        err << "modsetup: " << why << "\n" << kRecordUsageText;
        return 2;
    };
    if (p.help) {
        out << kRecordUsageText;
        return 0;
    }
    if (!p.error.empty()) return usage(p.error);
    if (p.words.empty()) return usage("no command");
    const std::string& command = p.words[0];
    std::string error;

    if (command == "db") return RunDbCommand(p, out, err, usage);
    if (p.words.size() != 1) return usage("unexpected " + p.words.back());
    record::ReportFilter filter;
    if (!Filter(p, &filter, &error)) return usage(error);

    if (command == "report") {
        record::ReportBuilder builder(filter);
        const auto add = [&builder](const record::Attempt& a) {
            builder.Add(a);
            return true;
        };
        if (!ForEach(p, filter, add, &error, true)) {
            err << "modsetup: report: " << error << "\n";
            return 2;
        }
        const record::Report report = builder.Finish();
        const std::string html = Value(p, "--html");
        if (!html.empty()) {
            std::string title = "Production report";
            if (!filter.station.empty()) title += ": " + filter.station;
            if (!store::ReplaceFileContent(html, record::FormatReportHtml(report, title), &error)) {
                err << "modsetup: report: " << error << "\n";
                return 2;
            }
        }
        if (p.json) {
            out << record::FormatReportJson(report);
        } else if (html.empty()) {
            out << record::FormatReportText(report);
        } else {
            err << "modsetup: report written to " << html << "\n";
        }
        return 0;
    }
    if (command == "export") {
        const std::string csv = Value(p, "--csv");
        if (Value(p, "--db").empty() || csv.empty())
            return usage("export needs --db URI --csv FILE");
        // Row by row from the database into the new file; the old one is
        // replaced only once every row is in.
        long long rows = 0;
        std::string readError;
        const bool written = store::ReplaceFileStreamed(
            csv,
            [&](const std::function<bool(std::string_view)>& put) {
                if (!put(record::ProductionLogHeader())) return false;
                return ForEach(
                    p, filter,
                    [&](const record::Attempt& a) {
                        ++rows;
                        return put(record::FormatProductionRow(a));
                    },
                    &readError);
            },
            &error);
        if (!written) {
            err << "modsetup: export: " << (readError.empty() ? error : readError) << "\n";
            return 2;
        }
        if (!p.json) err << "modsetup: " << rows << " attempts written to " << csv << "\n";
        return 0;
    }
    return usage("unknown command " + command);
}

}  // namespace modsetup
