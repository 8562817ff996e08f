#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <set>
#include <unordered_map>

#include "attempt_id.h"
#include "control_bytes.h"
#include "json_text.h"

namespace record {

double Report::Figures::FirstPassYield() const {
    return units == 0 ? 0.0 : static_cast<double>(firstPassUnits) / units;
}

double Report::Figures::FinalYield() const {
    return units == 0 ? 0.0 : static_cast<double>(passedUnits) / units;
}

std::string ReasonOfFailure(const std::string& message) {
    static const std::string kNote = "decided offline: ";
    if (message.compare(0, kNote.size(), kNote) == 0) return {};
    const std::size_t at = message.find("; " + kNote);
    return at == std::string::npos ? message : message.substr(0, at);
}

namespace {

constexpr std::size_t kSeenKept = 8;

std::size_t Index(Result r) {
    return static_cast<std::size_t>(r);
}

bool Failed(Result r) {
    return r == Result::Fail || r == Result::Interrupted || r == Result::NotRecorded;
}

std::string HourOf(long long ms) {
    return FormatUtcIso(ms - ((ms % 3600000) + 3600000) % 3600000).substr(0, 13) + ":00Z";
}

std::string Percent(double v) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", v * 100);
    return text;
}

std::string Html(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Reason(const Report::Failure& f) {
    std::string r = f.step.empty() ? "" : f.step + ": ";
    return r + (f.message.empty() ? "(no message)" : f.message);
}

const char* ToText(Report::RepeatKind kind) {
    switch (kind) {
        case Report::RepeatKind::DoublePass:
            return "double pass";
        case Report::RepeatKind::FailThenPass:
            return "fail then pass";
        case Report::RepeatKind::Other:
            break;
    }
    return "other";
}

// One group's counts of attempts; its units are counted at the end.
struct Group {
    Report::Figures figures;

    void Count(const Attempt& a) {
        ++figures.attempts[Index(a.result)];
        ++figures.operations[static_cast<std::size_t>(a.operation)][Index(a.result)];
    }
};

// An attempt at a module, as small as its tally needs: a week of a line is a
// million of them, so each is 32 bytes and owns no memory of its own.
struct Sighting {
    using Serial = std::array<char, 11>;
    Serial serial{};           // the text, or an index into the long ones
    std::uint8_t kinds = 0;    // operation, result and whether it is a correction
    std::uint32_t seq = 0;     // its place in the record as read
    long long at = 0;          // ms since 1970; kUntimed when not a time
    std::uint32_t id = 0;      // the attempt id's hash; 0 for none
    std::uint32_t socket = 0;  // index of its station's socket
    Operation Op() const { return static_cast<Operation>(kinds & 7); }
    Result Res() const { return static_cast<Result>((kinds >> 3) & 7); }
    bool Correction() const { return (kinds & 64) != 0; }
};
static_assert(sizeof(Sighting) == 32, "a sighting stays small");

constexpr long long kUntimed = std::numeric_limits<long long>::min();

// A take-back names an attempt of its own module: the module and this hash
// tell the attempt apart.
std::uint32_t HashOf(const std::string& text) {
    if (text.empty()) return 0;
    std::uint32_t h = 2166136261u;
    for (const unsigned char c : text) h = (h ^ c) * 16777619u;
    return h == 0 ? 1 : h;
}

// What one module's attempts (of one group, or all) come to.
struct Tally {
    int times = 0;
    bool firstPassed = false;
    bool firstSeen = false;
    int passes = 0;
    bool failThenPass = false;
};

}  // namespace

struct ReportBuilder::State {
    ReportFilter filter;
    std::vector<Group> sockets;  // in the order first met
    std::vector<std::uint32_t> stationOf;  // each socket's index in stations
    std::map<std::pair<std::string, int>, std::uint32_t> socketIndex;
    std::vector<Group> stations;
    std::map<std::string, std::uint32_t> stationIndex;
    std::uint32_t lastSocket = 0;
    bool anySocket = false;
    Group total;
    // In blocks while reading, so growing never holds two copies of them all.
    std::vector<std::vector<Sighting>> blocks;
    std::uint32_t seen = 0;
    std::vector<std::string> longSerials;
    std::unordered_map<std::string, std::uint32_t> longSerialIndex;
    std::set<std::pair<Sighting::Serial, std::uint32_t>> corrected;  // attempts taken back
    std::map<long long, Report::Hour> hours;
    std::map<std::pair<std::string, std::string>, int> failures;
    long long first = 0, last = 0;
    bool any = false;

    std::uint32_t SocketOf(const Attempt& a) {
        // Rows come in runs from one socket; its name is compared, not copied.
        if (anySocket) {
            const Report::Figures& f = sockets[lastSocket].figures;
            if (f.socket == a.socket && f.station == a.station) return lastSocket;
        }
        const auto [it, added] = socketIndex.try_emplace({a.station, a.socket},
                                                         static_cast<std::uint32_t>(sockets.size()));
        if (added) {
            Group g;
            g.figures.station = a.station;
            g.figures.socket = a.socket;
            sockets.push_back(std::move(g));
            const auto [st, newStation] = stationIndex.try_emplace(
                a.station, static_cast<std::uint32_t>(stations.size()));
            if (newStation) {
                Group station;
                station.figures.station = a.station;
                stations.push_back(std::move(station));
            }
            stationOf.push_back(st->second);
        }
        anySocket = true;
        lastSocket = it->second;
        return lastSocket;
    }

    Sighting::Serial KeyOf(const std::string& serial) {
        Sighting::Serial key{};
        const bool plain =
            serial.size() < key.size() &&
            std::all_of(serial.begin(), serial.end(), [](char c) { return c > 0x1f; });
        if (plain) {
            std::copy(serial.begin(), serial.end(), key.begin());
            return key;
        }
        // Long or odd ones are kept once, by number; a control byte marks them.
        const auto [it, added] =
            longSerialIndex.try_emplace(serial, static_cast<std::uint32_t>(longSerials.size()));
        if (added) longSerials.push_back(serial);
        key[0] = '\x01';
        std::memcpy(key.data() + 1, &it->second, sizeof it->second);
        return key;
    }

    std::string SerialOf(const Sighting::Serial& key) const {
        if (key[0] != '\x01') return std::string(key.data(), strnlen(key.data(), key.size()));
        std::uint32_t i = 0;
        std::memcpy(&i, key.data() + 1, sizeof i);
        return longSerials[i];
    }

    bool Passed(const Sighting& s) const {
        return s.Res() == Result::Pass && !(s.id != 0 && corrected.count({s.serial, s.id}));
    }

    // A module's verified writes among [from, to), those `take` accepts.
    template <typename Take>
    Tally TallyOf(const Sighting* from, const Sighting* to, Take take) const {
        Tally t;
        bool failedWrite = false;
        long long firstAt = 0;
        for (const Sighting* s = from; s != to; ++s) {
            if (!take(*s)) continue;
            ++t.times;
            if (s->Correction() || s->Op() != Operation::Write || s->Res() == Result::Skipped)
                continue;
            const bool passed = Passed(*s);
            const bool timed = s->at != kUntimed;
            if (!t.firstSeen || (timed && s->at < firstAt)) {
                t.firstSeen = true;
                firstAt = timed ? s->at : firstAt;
                t.firstPassed = passed;
            }
            if (passed) {
                ++t.passes;
                if (failedWrite) t.failThenPass = true;
            } else if (Failed(s->Res())) {
                failedWrite = true;
            }
        }
        return t;
    }
};

namespace {

void AddUnit(Report::Figures& f, const Tally& t) {
    ++f.units;
    f.firstPassUnits += t.firstSeen && t.firstPassed;
    f.passedUnits += t.passes > 0;
}

}  // namespace

ReportBuilder::ReportBuilder(ReportFilter filter) : state_(std::make_unique<State>()) {
    state_->filter = std::move(filter);
}

ReportBuilder::~ReportBuilder() = default;

void ReportBuilder::Add(const Attempt& a) {
    State& s = *state_;
    if (a.operation == Operation::Info) return;
    if (!s.filter.station.empty() && a.station != s.filter.station) return;
    long long ms = 0;
    const bool timed = ParseIsoTime(a.startedAt, &ms);
    if ((s.filter.sinceMs || s.filter.untilMs) && !timed) return;
    if (s.filter.sinceMs && ms < *s.filter.sinceMs) return;
    if (s.filter.untilMs && ms >= *s.filter.untilMs) return;

    const std::uint32_t socket = s.SocketOf(a);
    s.sockets[socket].Count(a);
    s.stations[s.stationOf[socket]].Count(a);
    s.total.Count(a);
    // A module whose serial was never read is no unit.
    if (!a.serial.empty()) {
        Sighting seen;
        seen.serial = s.KeyOf(a.serial);
        if (!a.corrects.empty()) s.corrected.insert({seen.serial, HashOf(a.corrects)});
        seen.at = timed ? ms : kUntimed;
        seen.id = HashOf(a.attemptId);
        seen.seq = s.seen++;
        seen.socket = socket;
        seen.kinds = static_cast<std::uint8_t>(static_cast<int>(a.operation) |
                                               static_cast<int>(a.result) << 3 |
                                               (a.corrects.empty() ? 0 : 64));
        constexpr std::size_t kBlock = 1 << 16;
        if (s.blocks.empty() || s.blocks.back().size() == kBlock) {
            s.blocks.emplace_back();
            s.blocks.back().reserve(kBlock);
        }
        s.blocks.back().push_back(seen);
    }
    if (timed && a.corrects.empty()) {
        if (!s.any || ms < s.first) s.first = ms;
        if (!s.any || ms > s.last) s.last = ms;
        s.any = true;
        if (a.operation == Operation::Write) {
            Report::Hour& h = s.hours[ms - ((ms % 3600000) + 3600000) % 3600000];
            if (a.result == Result::Pass) ++h.passed;
            if (Failed(a.result)) ++h.failed;
            if (a.result == Result::Running) ++h.incomplete;
        }
    }
    if ((a.result == Result::Fail || a.result == Result::Interrupted) && a.corrects.empty()) {
        const std::string reason = ReasonOfFailure(a.message);
        ++s.failures[{ToText(a.failedStep), a.result == Result::Interrupted && reason.empty()
                                                ? std::string("interrupted")
                                                : reason}];
    }
}

Report ReportBuilder::Finish() {
    State& s = *state_;
    Report report;
    std::vector<Sighting> sightings;
    sightings.reserve(s.seen);
    for (std::vector<Sighting>& block : s.blocks) {
        sightings.insert(sightings.end(), block.begin(), block.end());
        std::vector<Sighting>().swap(block);
    }
    // Each module's attempts side by side, by time (a record need not be read
    // in order), then in the order read.
    std::sort(sightings.begin(), sightings.end(), [](const Sighting& x, const Sighting& y) {
        if (x.serial != y.serial) return x.serial < y.serial;
        return x.at != y.at ? x.at < y.at : x.seq < y.seq;
    });
    std::vector<std::uint32_t> socketsOfUnit, stationsOfUnit;
    for (std::size_t i = 0; i < sightings.size();) {
        std::size_t j = i;
        while (j < sightings.size() && sightings[j].serial == sightings[i].serial) ++j;
        const Sighting* from = sightings.data() + i;
        const Sighting* to = sightings.data() + j;
        const Tally all = s.TallyOf(from, to, [](const Sighting&) { return true; });
        AddUnit(s.total.figures, all);
        socketsOfUnit.clear();
        stationsOfUnit.clear();
        for (const Sighting* x = from; x != to; ++x) {
            if (std::find(socketsOfUnit.begin(), socketsOfUnit.end(), x->socket) ==
                socketsOfUnit.end())
                socketsOfUnit.push_back(x->socket);
            const std::uint32_t station = s.stationOf[x->socket];
            if (std::find(stationsOfUnit.begin(), stationsOfUnit.end(), station) ==
                stationsOfUnit.end())
                stationsOfUnit.push_back(station);
        }
        // Most modules are seen at one socket only: its tally is the whole one.
        for (const std::uint32_t socket : socketsOfUnit) {
            AddUnit(s.sockets[socket].figures,
                    socketsOfUnit.size() == 1
                        ? all
                        : s.TallyOf(from, to, [&](const Sighting& x) { return x.socket == socket; }));
        }
        for (const std::uint32_t station : stationsOfUnit) {
            AddUnit(s.stations[station].figures,
                    stationsOfUnit.size() == 1 ? all : s.TallyOf(from, to, [&](const Sighting& x) {
                        return s.stationOf[x.socket] == station;
                    }));
        }
        if (all.times >= 2) {
            Report::Repeat r;
            r.serial = s.SerialOf(from->serial);
            r.times = all.times;
            r.kind = all.passes >= 2    ? Report::RepeatKind::DoublePass
                     : all.failThenPass ? Report::RepeatKind::FailThenPass
                                        : Report::RepeatKind::Other;
            for (const Sighting* x = from; x != to && r.seen.size() < kSeenKept; ++x) {
                const Report::Figures& where = s.sockets[x->socket].figures;
                r.seen.push_back(ToText(x->Res()) + std::string(" at ") + where.station +
                                 " socket " + std::to_string(where.socket) +
                                 (x->at == kUntimed ? std::string() : ", " + FormatUtcIso(x->at)));
            }
            report.repeats.push_back(std::move(r));
        }
        i = j;
    }
    std::vector<std::uint32_t> order(s.sockets.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    // By station, then socket.
    std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        const Report::Figures& a = s.sockets[x].figures;
        const Report::Figures& b = s.sockets[y].figures;
        return a.station != b.station ? a.station < b.station : a.socket < b.socket;
    });
    for (const std::uint32_t i : order) report.sockets.push_back(s.sockets[i].figures);
    for (const auto& [name, i] : s.stationIndex) report.stations.push_back(s.stations[i].figures);
    report.total = s.total.figures;
    if (s.any) {
        report.from = FormatUtcIso(s.first);
        report.to = FormatUtcIso(s.last);
        if (s.last - s.first >= 60000) {
            report.modulesPerHour =
                report.total.passedUnits * 3600000.0 / static_cast<double>(s.last - s.first);
        }
        // Every hour in between, the quiet ones too, so the chart shows gaps.
        const long long start = s.first - ((s.first % 3600000) + 3600000) % 3600000;
        for (long long h = start; h <= s.last && report.hours.size() < 24 * 366; h += 3600000) {
            const auto it = s.hours.find(h);
            Report::Hour hour = it == s.hours.end() ? Report::Hour{} : it->second;
            hour.start = HourOf(h);
            report.hours.push_back(hour);
        }
    }
    for (const auto& [key, n] : s.failures) report.failures.push_back({key.first, key.second, n});
    std::stable_sort(
        report.failures.begin(), report.failures.end(),
        [](const Report::Failure& a, const Report::Failure& b) { return a.count > b.count; });
    std::sort(report.repeats.begin(), report.repeats.end(),
              [](const Report::Repeat& a, const Report::Repeat& b) { return a.serial < b.serial; });
    return report;
}

Report MakeReport(const std::vector<Attempt>& attempts, const ReportFilter& filter) {
    ReportBuilder builder(filter);
    for (const Attempt& a : attempts) builder.Add(a);
    return builder.Finish();
}

namespace {

std::string Fixed(double v, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string PerHour(const Report& r) {
    return r.modulesPerHour ? Fixed(*r.modulesPerHour, "%.1f") : std::string("--");
}

// "pass 3, fail 1": the results a count was given for, in the enum's order.
std::string ResultCounts(const std::array<long long, Report::kResults>& counts) {
    std::string out;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] == 0) continue;
        out += (out.empty() ? "" : ", ") + std::string(ToText(static_cast<Result>(i))) + " " +
               std::to_string(counts[i]);
    }
    return out.empty() ? "none" : out;
}

}  // namespace

std::string FormatReportText(const Report& r) {
    std::ostringstream out;
    if (r.from.empty()) {
        out << "No attempts in the record for this choice.\n";
        return out.str();
    }
    const Report::Figures& t = r.total;
    out << "Attempts from " << r.from << " to " << r.to << "\n\n"
        << "Modules: " << t.units << ", first-pass yield " << Percent(t.FirstPassYield())
        << ", final yield " << Percent(t.FinalYield()) << ", " << PerHour(r)
        << " made good per hour\n"
        << "Attempts: " << ResultCounts(t.attempts) << "\n";
    for (std::size_t op = 1; op < Report::kOperations; ++op) {
        const auto& counts = t.operations[op];
        long long n = 0;
        for (const long long c : counts) n += c;
        if (n == 0) continue;
        out << "  " << ToText(static_cast<Operation>(op)) << ": " << ResultCounts(counts) << "\n";
    }
    out << "\n";
    char line[256];
    std::snprintf(line, sizeof line, "%-20s %6s %6s %10s %8s %7s %7s %11s %8s\n", "station",
                  "socket", "units", "first pass", "final", "passed", "failed", "incomplete",
                  "skipped");
    out << line;
    const auto row = [&](const Report::Figures& f, const std::string& name,
                         const std::string& socket) {
        // A name or a message is printed, never obeyed by the terminal.
        std::snprintf(
            line, sizeof line, "%-20s %6s %6lld %10s %8s %7lld %7lld %11lld %8lld\n",
            store::EscapeControlBytes(name).c_str(), socket.c_str(), f.units,
            Percent(f.FirstPassYield()).c_str(), Percent(f.FinalYield()).c_str(),
            f.Writes(Result::Pass),
            f.Writes(Result::Fail) + f.Writes(Result::Interrupted) + f.Writes(Result::NotRecorded),
            f.Writes(Result::Running), f.Attempts(Result::Skipped));
        out << line;
    };
    for (const auto& s : r.sockets) row(s, s.station, std::to_string(s.socket));
    if (r.stations.size() > 1) {
        for (const auto& s : r.stations) row(s, s.station, "all");
    }
    row(t, "all", "");
    out << "(passed, failed, incomplete: verified writes)\n";
    out << "\nVerified writes per hour (UTC)\n";
    for (const auto& h : r.hours) {
        std::snprintf(line, sizeof line, "  %s  %4d  (%d passed, %d failed, %d incomplete)\n",
                      h.start.c_str(), h.passed + h.failed + h.incomplete, h.passed, h.failed,
                      h.incomplete);
        out << line;
    }
    out << "\nFailures by step and message\n";
    if (r.failures.empty()) out << "  none\n";
    for (const auto& f : r.failures) {
        out << "  " << f.count << "  " << store::EscapeControlBytes(Reason(f)) << "\n";
    }
    out << "\nSerial numbers seen more than once\n";
    if (r.repeats.empty()) out << "  none\n";
    for (const auto& rep : r.repeats) {
        out << "  " << store::EscapeControlBytes(rep.serial) << "  " << rep.times << " times, "
            << ToText(rep.kind) << "\n";
        for (const auto& s : rep.seen) out << "      " << store::EscapeControlBytes(s) << "\n";
    }
    return out.str();
}

std::string FormatReportJson(const Report& r) {
    std::ostringstream out;
    const auto results = [&out](const std::array<long long, Report::kResults>& counts) {
        out << "{";
        for (std::size_t i = 0; i < counts.size(); ++i) {
            out << (i ? "," : "") << JsonText(ToText(static_cast<Result>(i))) << ":" << counts[i];
        }
        out << "}";
    };
    const auto figures = [&](const Report::Figures& f) {
        out << "\"units\":" << f.units
            << ",\"first_pass_yield\":" << Fixed(f.FirstPassYield(), "%.4f")
            << ",\"final_yield\":" << Fixed(f.FinalYield(), "%.4f") << ",\"attempts\":";
        results(f.attempts);
        out << ",\"operations\":{";
        for (std::size_t op = 1; op < Report::kOperations; ++op) {
            out << (op > 1 ? "," : "") << JsonText(ToText(static_cast<Operation>(op))) << ":";
            results(f.operations[op]);
        }
        out << "}";
    };
    out << "{\"from\":" << JsonText(r.from) << ",\"to\":" << JsonText(r.to) << ",";
    figures(r.total);
    out << ",\"modules_per_hour\":"
        << (r.modulesPerHour ? Fixed(*r.modulesPerHour, "%.2f") : std::string("null"))
        << ",\"by_socket\":[";
    for (std::size_t i = 0; i < r.sockets.size(); ++i) {
        out << (i ? "," : "") << "{\"station\":" << JsonText(r.sockets[i].station)
            << ",\"socket\":" << r.sockets[i].socket << ",";
        figures(r.sockets[i]);
        out << "}";
    }
    out << "],\"by_station\":[";
    for (std::size_t i = 0; i < r.stations.size(); ++i) {
        out << (i ? "," : "") << "{\"station\":" << JsonText(r.stations[i].station) << ",";
        figures(r.stations[i]);
        out << "}";
    }
    out << "],\"hours\":[";
    for (std::size_t i = 0; i < r.hours.size(); ++i) {
        const auto& h = r.hours[i];
        out << (i ? "," : "") << "{\"hour\":" << JsonText(h.start) << ",\"passed\":" << h.passed
            << ",\"failed\":" << h.failed << ",\"incomplete\":" << h.incomplete << "}";
    }
    out << "],\"failures\":[";
    for (std::size_t i = 0; i < r.failures.size(); ++i) {
        const auto& f = r.failures[i];
        out << (i ? "," : "") << "{\"step\":" << JsonText(f.step)
            << ",\"message\":" << JsonText(f.message) << ",\"count\":" << f.count << "}";
    }
    out << "],\"repeats\":[";
    for (std::size_t i = 0; i < r.repeats.size(); ++i) {
        const auto& rep = r.repeats[i];
        out << (i ? "," : "") << "{\"serial\":" << JsonText(rep.serial)
            << ",\"times\":" << rep.times << ",\"kind\":" << JsonText(ToText(rep.kind))
            << ",\"seen\":[";
        for (std::size_t j = 0; j < rep.seen.size(); ++j)
            out << (j ? "," : "") << JsonText(rep.seen[j]);
        out << "]}";
    }
    out << "]}\n";
    return out.str();
}

namespace {

constexpr std::size_t kReasonsShown = 12;

// Verified writes per hour as stacked columns; the date is written under the
// first hour and under each midnight, so a week reads as days.
std::string HourChart(const Report& r) {
    const int width = 760, height = 270, left = 44, bottom = 50, top = 16;
    int most = 1;
    for (const auto& h : r.hours) most = std::max(most, h.passed + h.failed + h.incomplete);
    const int n = std::max<int>(1, static_cast<int>(r.hours.size()));
    const double slot = static_cast<double>(width - left - 10) / n;
    const double scale = static_cast<double>(height - bottom - top) / most;
    std::ostringstream svg;
    svg << "<svg id=\"per-hour\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
        << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << " " << height
        << "\" role=\"img\" aria-label=\"verified writes per hour\">\n";
    const int base = height - bottom;
    svg << "<line x1=\"" << left << "\" y1=\"" << base << "\" x2=\"" << width - 10 << "\" y2=\""
        << base << "\" class=\"axis\"/>\n";
    // Whole-number ticks, about four of them.
    const int step = std::max(1, (most + 3) / 4);
    for (int value = 0; value <= most; value += step) {
        const double y = base - value * scale;
        svg << "<text x=\"" << left - 6 << "\" y=\"" << y + 4 << "\" class=\"tick\">" << value
            << "</text>\n";
    }
    const int every = std::max(1, n / 12);
    for (int i = 0; i < static_cast<int>(r.hours.size()); ++i) {
        const auto& h = r.hours[i];
        const double x = left + i * slot + slot * 0.15;
        const double w = std::max(1.0, slot * 0.7);
        double y = base;
        const auto bar = [&](int count, const char* cls, const char* what) {
            if (count == 0) return;
            const double hgt = count * scale;
            y -= hgt;
            svg << "<rect class=\"" << cls << "\" x=\"" << x << "\" y=\"" << y << "\" width=\"" << w
                << "\" height=\"" << hgt << "\" data-hour=\"" << h.start << "\" data-count=\""
                << count << "\"><title>" << h.start << ": " << count << " " << what
                << "</title></rect>\n";
        };
        bar(h.passed, "pass", "passed");
        bar(h.failed, "fail", "failed");
        bar(h.incomplete, "incomplete", "incomplete");
        const bool midnight = h.start.compare(11, 2, "00") == 0;
        if (i % every == 0 || midnight) {
            svg << "<text x=\"" << x + w / 2 << "\" y=\"" << base + 16 << "\" class=\"hour\">"
                << h.start.substr(11, 5) << "</text>\n";
        }
        if (i == 0 || midnight) {
            svg << "<text x=\"" << x + w / 2 << "\" y=\"" << base + 34 << "\" class=\"day\">"
                << h.start.substr(0, 10) << "</text>\n";
        }
    }
    svg << "</svg>\n";
    return svg.str();
}

// The reasons' labels as shown: cut to fit, and never two alike, so two
// long messages that begin the same stay two bars a reader can tell apart.
std::vector<std::string> ReasonLabels(const Report& r, std::size_t shown) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < shown; ++i) {
        const std::string whole = Reason(r.failures[i]);
        std::string label = whole.size() > 52 ? whole.substr(0, 50) + "..." : whole;
        for (int k = 2; std::find(labels.begin(), labels.end(), label) != labels.end(); ++k) {
            label = whole.substr(0, 44) + "... (" + std::to_string(k) + ")";
        }
        labels.push_back(label);
    }
    return labels;
}

// Failure reasons as horizontal bars, largest on top.
std::string ReasonChart(const Report& r) {
    const std::size_t shown = std::min(r.failures.size(), kReasonsShown);
    const std::vector<std::string> labels = ReasonLabels(r, shown);
    const int rowHeight = 26, labelWidth = 340, width = 760;
    const std::size_t rows = std::max<std::size_t>(shown, 1) + (r.failures.size() > shown);
    const int height = static_cast<int>(rows) * rowHeight + 10;
    int most = 1;
    for (std::size_t i = 0; i < shown; ++i) most = std::max(most, r.failures[i].count);
    const double scale = static_cast<double>(width - labelWidth - 60) / most;
    std::ostringstream svg;
    svg << "<svg id=\"failure-reasons\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
        << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << " " << height
        << "\" role=\"img\" aria-label=\"failure reasons\">\n";
    if (shown == 0) svg << "<text x=\"8\" y=\"20\" class=\"none\">no failures</text>\n";
    for (std::size_t i = 0; i < shown; ++i) {
        const auto& f = r.failures[i];
        const int y = static_cast<int>(i) * rowHeight + 5;
        svg << "<text x=\"" << labelWidth - 8 << "\" y=\"" << y + 16 << "\" class=\"reason\">"
            << Html(labels[i]) << "</text>\n"
            << "<rect class=\"fail\" x=\"" << labelWidth << "\" y=\"" << y << "\" width=\""
            << f.count * scale << "\" height=\"" << rowHeight - 8 << "\" data-count=\"" << f.count
            << "\"><title>" << Html(Reason(f)) << ": " << f.count << "</title></rect>\n"
            << "<text x=\"" << labelWidth + f.count * scale + 6 << "\" y=\"" << y + 16
            << "\" class=\"count\">" << f.count << "</text>\n";
    }
    if (r.failures.size() > shown) {
        int rest = 0;
        for (std::size_t i = shown; i < r.failures.size(); ++i) rest += r.failures[i].count;
        svg << "<text x=\"" << labelWidth - 8 << "\" y=\"" << shown * rowHeight + 21
            << "\" class=\"reason more\">and " << r.failures.size() - shown << " more reasons ("
            << rest << " failures), in the table below</text>\n";
    }
    svg << "</svg>\n";
    return svg.str();
}

// Final yield as a colour from red (0 %) through amber to green (100 %).
std::string YieldColour(double yield) {
    char text[32];
    std::snprintf(text, sizeof text, "hsl(%d, 70%%, %d%%)", static_cast<int>(yield * 120),
                  yield > 0.5 ? 78 : 72);
    return text;
}

// Stations down, sockets across: each cell a socket's final yield as colour
// and number, so one failing socket stands out at a glance.
std::string HeatMap(const Report& r) {
    int sockets = 0;
    for (const auto& s : r.sockets) sockets = std::max(sockets, s.socket);
    sockets = std::min(sockets, 64);
    std::ostringstream out;
    out << "<table id=\"heat-map\">\n<thead><tr><th>station</th>";
    for (int n = 1; n <= sockets; ++n) out << "<th>" << n << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    for (const auto& station : r.stations) {
        out << "<tr><td>" << Html(station.station) << "</td>";
        for (int n = 1; n <= sockets; ++n) {
            const auto it = std::find_if(r.sockets.begin(), r.sockets.end(), [&](const auto& s) {
                return s.station == station.station && s.socket == n;
            });
            if (it == r.sockets.end() || it->units == 0) {
                out << "<td class=\"cell empty\"></td>";
                continue;
            }
            out << "<td class=\"cell\" style=\"background:" << YieldColour(it->FinalYield())
                << "\" title=\"" << Html(station.station) << " socket " << n << ": " << it->units
                << " modules, first pass " << Html(Percent(it->FirstPassYield())) << "\">"
                << static_cast<int>(it->FinalYield() * 100 + 0.5) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";
    return out.str();
}

}  // namespace

std::string FormatReportHtml(const Report& r, const std::string& title) {
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
           "style-src 'unsafe-inline'\">\n<title>"
        << Html(title) << "</title>\n<style>\n"
        << "body { font-family: sans-serif; margin: 24px; color: #222; }\n"
           "h1 { font-size: 22px; } h2 { font-size: 17px; margin-top: 28px; }\n"
           "table { border-collapse: collapse; }\n"
           "th, td { border: 1px solid #bbb; padding: 3px 10px; text-align: right; }\n"
           "th:first-child, td:first-child { text-align: left; }\n"
           "tr.total td { font-weight: bold; background: #f2f2f2; }\n"
           "#repeats td:last-child, #failures td:first-child { text-align: left; }\n"
           "#summary { display: flex; gap: 18px; flex-wrap: wrap; }\n"
           "#summary div { border: 1px solid #bbb; padding: 8px 16px; min-width: 130px; }\n"
           "#summary b { display: block; font-size: 28px; }\n"
           "#heat-map td.cell { width: 34px; text-align: center; font-weight: bold; }\n"
           "#heat-map td.empty { background: #eee; }\n"
           "svg .pass { fill: #2e9e44; } svg .fail { fill: #d03b32; }\n"
           "svg .incomplete { fill: #999; } svg .axis { stroke: #444; }\n"
           "svg text { font-size: 12px; fill: #333; }\n"
           "svg .tick, svg .reason { text-anchor: end; } svg .hour, svg .day { text-anchor: "
           "middle; }\n"
           ".legend span { display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 "
           "14px; }\n"
           "</style>\n</head>\n<body>\n<h1>"
        << Html(title) << "</h1>\n";
    if (r.from.empty()) {
        out << "<p id=\"empty\">No attempts in the record for this choice.</p>\n</body>\n</html>\n";
        return out.str();
    }
    const Report::Figures& t = r.total;
    out << "<p id=\"span\">Attempts from " << Html(r.from) << " to " << Html(r.to) << "</p>\n"
        << "<div id=\"summary\">"
        << "<div id=\"units\"><b>" << t.units << "</b>modules</div>"
        << "<div id=\"first-pass-yield\"><b>" << Html(Percent(t.FirstPassYield()))
        << "</b>first-pass yield</div>"
        << "<div id=\"final-yield\"><b>" << Html(Percent(t.FinalYield())) << "</b>final yield</div>"
        << "<div id=\"modules-per-hour\"><b>" << PerHour(r) << "</b>made good per hour</div>"
        << "<div id=\"attempts\"><b>" <<
        [&t] {
            long long n = 0;
            for (const long long c : t.attempts) n += c;
            return n;
        }()
        << "</b>attempts</div></div>\n";
    out << "<h2>Final yield by station and socket</h2>\n" << HeatMap(r);
    out << "<h2>Verified writes per hour (UTC)</h2>\n<p class=\"legend\"><span "
           "style=\"background:#2e9e44\"></span>passed<span style=\"background:#d03b32\"></span>"
           "failed<span style=\"background:#999\"></span>incomplete</p>\n"
        << HourChart(r);
    out << "<h2>Failure reasons</h2>\n" << ReasonChart(r);
    out << "<h2>Every station and socket</h2>\n<table id=\"sockets\">\n<thead><tr>"
           "<th>station</th><th>socket</th><th>modules</th><th>first-pass yield</th>"
           "<th>final yield</th><th>passed</th><th>failed</th><th>incomplete</th>"
           "<th>skipped</th></tr></thead>\n<tbody>\n";
    const auto row = [&out](const Report::Figures& s, const std::string& name,
                            const std::string& socket, bool total) {
        out << (total ? "<tr class=\"total\">" : "<tr>") << "<td>" << Html(name) << "</td><td>"
            << socket << "</td><td class=\"units\">" << s.units << "</td><td class=\"first-pass\">"
            << Html(Percent(s.FirstPassYield())) << "</td><td class=\"final\">"
            << Html(Percent(s.FinalYield())) << "</td><td class=\"passed\">"
            << s.Writes(Result::Pass) << "</td><td class=\"failed\">"
            << s.Writes(Result::Fail) + s.Writes(Result::Interrupted) +
                   s.Writes(Result::NotRecorded)
            << "</td><td class=\"incomplete\">" << s.Writes(Result::Running)
            << "</td><td class=\"skipped\">" << s.Attempts(Result::Skipped) << "</td></tr>\n";
    };
    for (const auto& s : r.sockets) row(s, s.station, std::to_string(s.socket), false);
    if (r.stations.size() > 1) {
        for (const auto& s : r.stations) row(s, s.station, "all", true);
    }
    row(t, "all", "", true);
    out << "</tbody>\n</table>\n<p>passed, failed, incomplete: verified writes</p>\n";
    out << "<table id=\"failures\">\n<thead><tr><th>step: message</th><th>count</th></tr>"
           "</thead>\n<tbody>\n";
    for (const auto& f : r.failures) {
        out << "<tr><td>" << Html(Reason(f)) << "</td><td>" << f.count << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n<h2>Serial numbers seen more than once</h2>\n";
    if (r.repeats.empty()) out << "<p id=\"no-repeats\">none</p>\n";
    for (const auto kind : {Report::RepeatKind::DoublePass, Report::RepeatKind::FailThenPass,
                            Report::RepeatKind::Other}) {
        const auto count = std::count_if(r.repeats.begin(), r.repeats.end(),
                                         [kind](const auto& rep) { return rep.kind == kind; });
        if (count == 0) continue;
        const std::string name = ToText(kind);
        std::string id = name;
        std::replace(id.begin(), id.end(), ' ', '-');
        out << "<h3>" << Html(name) << ": " << count << "</h3>\n<table id=\"repeats-" << id
            << "\" class=\"repeats\">\n<tbody>\n";
        for (const auto& rep : r.repeats) {
            if (rep.kind != kind) continue;
            out << "<tr><td>" << Html(rep.serial) << "</td><td>" << rep.times << "</td><td>";
            for (std::size_t j = 0; j < rep.seen.size(); ++j) {
                out << (j ? "<br>" : "") << Html(rep.seen[j]);
            }
            out << "</td></tr>\n";
        }
        out << "</tbody>\n</table>\n";
    }
    out << "</body>\n</html>\n";
    return out.str();
}

}  // namespace record
