#include "report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include "attempt_id.h"
#include "control_bytes.h"
#include "json_text.h"

namespace record {

double Report::Socket::yield() const {
    const int tried = passed + failed + incomplete;
    return tried == 0 ? 0.0 : static_cast<double>(passed) / tried;
}

namespace {

void Count(Report::Socket* s, Result result) {
    if (result == Result::Pass) {
        ++s->passed;
    } else if (result == Result::Running) {
        ++s->incomplete;
    } else if (result == Result::Skipped) {
        ++s->skipped;
    } else {
        ++s->failed;
    }
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

}  // namespace

Report MakeReport(const std::vector<Attempt>& attempts, const ReportFilter& filter) {
    Report report;
    std::map<std::pair<std::string, int>, Report::Socket> sockets;
    std::map<long long, Report::Hour> hours;
    std::map<std::pair<std::string, std::string>, int> failures;
    std::map<std::string, Report::Repeat> serials;
    long long first = 0, last = 0;
    bool any = false;
    for (const Attempt& a : attempts) {
        if (a.operation == Operation::Info) continue;
        if (!filter.station.empty() && a.station != filter.station) continue;
        long long ms = 0;
        const bool timed = ParseIsoTime(a.startedAt, &ms);
        if ((filter.sinceMs || filter.untilMs) && !timed) continue;
        if (filter.sinceMs && ms < *filter.sinceMs) continue;
        if (filter.untilMs && ms >= *filter.untilMs) continue;

        Report::Socket& s = sockets[{a.station, a.socket}];
        s.station = a.station;
        s.socket = a.socket;
        Count(&s, a.result);
        Count(&report.total, a.result);
        if (timed) {
            if (!any || ms < first) first = ms;
            if (!any || ms > last) last = ms;
            any = true;
            Report::Hour& h = hours[ms - ((ms % 3600000) + 3600000) % 3600000];
            if (a.result == Result::Pass) ++h.passed;
            if (a.result == Result::Fail || a.result == Result::Interrupted) ++h.failed;
            if (a.result == Result::Running) ++h.incomplete;
        }
        if (a.result == Result::Fail || a.result == Result::Interrupted) {
            ++failures[{ToText(a.failedStep), a.result == Result::Interrupted && a.message.empty()
                                                  ? std::string("interrupted")
                                                  : a.message}];
        }
        if (!a.serial.empty()) {
            Report::Repeat& r = serials[a.serial];
            r.serial = a.serial;
            ++r.times;
            r.seen.push_back(ToText(a.result) + std::string(" at ") + a.station + " socket " +
                             std::to_string(a.socket) + ", " + a.startedAt);
        }
    }
    for (auto& [key, s] : sockets) report.sockets.push_back(s);
    if (any) {
        report.from = FormatUtcIso(first);
        report.to = FormatUtcIso(last);
        // Every hour in between, the quiet ones too, so the chart shows gaps.
        const long long start = first - ((first % 3600000) + 3600000) % 3600000;
        for (long long h = start; h <= last && report.hours.size() < 24 * 366; h += 3600000) {
            Report::Hour hour = hours.count(h) ? hours[h] : Report::Hour{};
            hour.start = HourOf(h);
            report.hours.push_back(hour);
        }
    }
    for (const auto& [key, n] : failures) report.failures.push_back({key.first, key.second, n});
    std::stable_sort(
        report.failures.begin(), report.failures.end(),
        [](const Report::Failure& a, const Report::Failure& b) { return a.count > b.count; });
    for (auto& [serial, r] : serials) {
        if (r.times > 1) report.repeats.push_back(std::move(r));
    }
    return report;
}

std::string FormatReportText(const Report& r) {
    std::ostringstream out;
    if (r.from.empty()) {
        out << "No attempts in the record for this choice.\n";
        return out.str();
    }
    out << "Attempts from " << r.from << " to " << r.to << "\n\n";
    char line[256];
    std::snprintf(line, sizeof line, "%-20s %6s %7s %7s %11s %8s %8s\n", "station", "socket",
                  "passed", "failed", "incomplete", "skipped", "yield");
    out << line;
    for (const auto* s : [&r] {
             std::vector<const Report::Socket*> all;
             for (const auto& s : r.sockets) all.push_back(&s);
             all.push_back(&r.total);
             return all;
         }()) {
        const bool total = s == &r.total;
        // A name or a message is printed, never obeyed by the terminal.
        const std::string station = store::EscapeControlBytes(s->station);
        std::snprintf(line, sizeof line, "%-20s %6s %7d %7d %11d %8d %8s\n",
                      total ? "all" : station.c_str(),
                      total ? "" : std::to_string(s->socket).c_str(), s->passed, s->failed,
                      s->incomplete, s->skipped, Percent(s->yield()).c_str());
        out << line;
    }
    out << "\nModules per hour (UTC)\n";
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
        out << "  " << store::EscapeControlBytes(rep.serial) << "  " << rep.times << " times\n";
        for (const auto& s : rep.seen) out << "      " << store::EscapeControlBytes(s) << "\n";
    }
    return out.str();
}

std::string FormatReportJson(const Report& r) {
    std::ostringstream out;
    const auto socket = [&out](const Report::Socket& s) {
        char yield[32];
        std::snprintf(yield, sizeof yield, "%.4f", s.yield());
        out << "\"passed\":" << s.passed << ",\"failed\":" << s.failed
            << ",\"incomplete\":" << s.incomplete << ",\"skipped\":" << s.skipped
            << ",\"yield\":" << yield;
    };
    out << "{\"from\":" << JsonText(r.from) << ",\"to\":" << JsonText(r.to) << ",\"total\":{";
    socket(r.total);
    out << "},\"sockets\":[";
    for (std::size_t i = 0; i < r.sockets.size(); ++i) {
        out << (i ? "," : "") << "{\"station\":" << JsonText(r.sockets[i].station)
            << ",\"socket\":" << r.sockets[i].socket << ",";
        socket(r.sockets[i]);
        out << "}";
    }
    out << "],\"hours\":[";
    for (std::size_t i = 0; i < r.hours.size(); ++i) {
        const auto& h = r.hours[i];
        out << (i ? "," : "") << "{\"hour\":" << JsonText(h.start)
            << ",\"modules\":" << h.passed + h.failed + h.incomplete << ",\"passed\":" << h.passed
            << ",\"failed\":" << h.failed << ",\"incomplete\":" << h.incomplete << "}";
    }
    out << "],\"failures\":[";
    for (std::size_t i = 0; i < r.failures.size(); ++i) {
        const auto& f = r.failures[i];
        out << (i ? "," : "") << "{\"step\":" << JsonText(f.step)
            << ",\"message\":" << JsonText(f.message) << ",\"count\":" << f.count << "}";
    }
    out << "],\"repeated_serials\":[";
    for (std::size_t i = 0; i < r.repeats.size(); ++i) {
        const auto& rep = r.repeats[i];
        out << (i ? "," : "") << "{\"serial\":" << JsonText(rep.serial)
            << ",\"times\":" << rep.times << ",\"seen\":[";
        for (std::size_t j = 0; j < rep.seen.size(); ++j)
            out << (j ? "," : "") << JsonText(rep.seen[j]);
        out << "]}";
    }
    out << "]}\n";
    return out.str();
}

namespace {

// Passes and failures per hour as stacked columns.
std::string HourChart(const Report& r) {
    const int width = 760, height = 260, left = 44, bottom = 40, top = 16;
    int most = 1;
    for (const auto& h : r.hours) most = std::max(most, h.passed + h.failed + h.incomplete);
    const int n = std::max<int>(1, static_cast<int>(r.hours.size()));
    const double slot = static_cast<double>(width - left - 10) / n;
    const double scale = static_cast<double>(height - bottom - top) / most;
    std::ostringstream svg;
    svg << "<svg id=\"per-hour\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
        << "\" height=\"" << height << "\" viewBox=\"0 0 " << width << " " << height
        << "\" role=\"img\" aria-label=\"passes and failures per hour\">\n";
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
        // Label every hour when there are few, else every few hours.
        const int every = std::max(1, n / 12);
        if (i % every == 0) {
            svg << "<text x=\"" << x + w / 2 << "\" y=\"" << base + 16 << "\" class=\"hour\">"
                << h.start.substr(11, 5) << "</text>\n";
        }
    }
    svg << "</svg>\n";
    return svg.str();
}

// Failure reasons as horizontal bars, largest on top.
std::string ReasonChart(const Report& r) {
    const std::size_t shown = std::min<std::size_t>(r.failures.size(), 12);
    const int rowHeight = 26, labelWidth = 340, width = 760;
    const int height = static_cast<int>(std::max<std::size_t>(shown, 1)) * rowHeight + 10;
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
        std::string label = Reason(f);
        if (label.size() > 52) label = label.substr(0, 50) + "...";
        const int y = static_cast<int>(i) * rowHeight + 5;
        svg << "<text x=\"" << labelWidth - 8 << "\" y=\"" << y + 16 << "\" class=\"reason\">"
            << Html(label) << "</text>\n"
            << "<rect class=\"fail\" x=\"" << labelWidth << "\" y=\"" << y << "\" width=\""
            << f.count * scale << "\" height=\"" << rowHeight - 8 << "\" data-count=\"" << f.count
            << "\"><title>" << Html(Reason(f)) << ": " << f.count << "</title></rect>\n"
            << "<text x=\"" << labelWidth + f.count * scale + 6 << "\" y=\"" << y + 16
            << "\" class=\"count\">" << f.count << "</text>\n";
    }
    svg << "</svg>\n";
    return svg.str();
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
           "svg .pass { fill: #2e9e44; } svg .fail { fill: #d03b32; }\n"
           "svg .incomplete { fill: #999; } svg .axis { stroke: #444; }\n"
           "svg text { font-size: 12px; fill: #333; }\n"
           "svg .tick, svg .reason { text-anchor: end; } svg .hour { text-anchor: middle; }\n"
           ".legend span { display: inline-block; width: 12px; height: 12px; margin: 0 4px 0 "
           "14px; }\n"
           "</style>\n</head>\n<body>\n<h1>"
        << Html(title) << "</h1>\n";
    if (r.from.empty()) {
        out << "<p id=\"empty\">No attempts in the record for this choice.</p>\n</body>\n</html>\n";
        return out.str();
    }
    out << "<p id=\"span\">Attempts from " << Html(r.from) << " to " << Html(r.to) << "</p>\n";
    out << "<h2>Yield per station and socket</h2>\n<table id=\"sockets\">\n<thead><tr>"
           "<th>station</th><th>socket</th><th>passed</th><th>failed</th><th>incomplete</th>"
           "<th>skipped</th><th>yield</th></tr></thead>\n<tbody>\n";
    const auto row = [&out](const Report::Socket& s, bool total) {
        out << (total ? "<tr class=\"total\">" : "<tr>") << "<td>"
            << (total ? "all" : Html(s.station)) << "</td><td>"
            << (total ? "" : std::to_string(s.socket)) << "</td><td class=\"passed\">" << s.passed
            << "</td><td class=\"failed\">" << s.failed << "</td><td class=\"incomplete\">"
            << s.incomplete << "</td><td class=\"skipped\">" << s.skipped
            << "</td><td class=\"yield\">" << Html(Percent(s.yield())) << "</td></tr>\n";
    };
    for (const auto& s : r.sockets) row(s, false);
    row(r.total, true);
    out << "</tbody>\n</table>\n";
    out << "<h2>Passes and failures per hour (UTC)</h2>\n<p class=\"legend\"><span "
           "style=\"background:#2e9e44\"></span>passed<span style=\"background:#d03b32\"></span>"
           "failed<span style=\"background:#999\"></span>incomplete</p>\n"
        << HourChart(r);
    out << "<h2>Failure reasons</h2>\n" << ReasonChart(r);
    out << "<table id=\"failures\">\n<thead><tr><th>step: message</th><th>count</th></tr>"
           "</thead>\n<tbody>\n";
    for (const auto& f : r.failures) {
        out << "<tr><td>" << Html(Reason(f)) << "</td><td>" << f.count << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n<h2>Serial numbers seen more than once</h2>\n";
    if (r.repeats.empty()) out << "<p id=\"no-repeats\">none</p>\n";
    out << "<table id=\"repeats\">\n<tbody>\n";
    for (const auto& rep : r.repeats) {
        out << "<tr><td>" << Html(rep.serial) << "</td><td>" << rep.times << "</td><td>";
        for (std::size_t j = 0; j < rep.seen.size(); ++j) {
            out << (j ? "<br>" : "") << Html(rep.seen[j]);
        }
        out << "</td></tr>\n";
    }
    out << "</tbody>\n</table>\n</body>\n</html>\n";
    return out.str();
}

}  // namespace record
