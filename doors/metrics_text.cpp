#include "metrics_text.h"

#include <cstdio>

namespace doors {

namespace {

// A label value: backslash, double quote and line feed escaped.
std::string Label(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void Head(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string MetricsText(const Snapshot& s, const AttemptTotals& totals,
                        std::uint64_t eventsDropped) {
    std::string out;
    const std::string station = Label(s.station);
    Head(out, "station_attempts_total", "counter", "Attempts finished, by socket and result.");
    for (const auto& [key, t] : totals.bySocket) {
        out += "station_attempts_total{station=" + station + ",socket=\"" +
               std::to_string(key.first) + "\",result=" + Label(key.second) + "} " +
               std::to_string(t.count) + "\n";
    }
    Head(out, "station_attempt_duration_seconds", "histogram",
         "How long the attempts took, by socket and result.");
    for (const auto& [key, t] : totals.bySocket) {
        const std::string labels =
            "socket=\"" + std::to_string(key.first) + "\",result=" + Label(key.second);
        for (std::size_t i = 0; i < kDurationBuckets.size(); ++i) {
            out += "station_attempt_duration_seconds_bucket{" + labels + ",le=\"" +
                   Number(kDurationBuckets[i]) + "\"} " + std::to_string(t.buckets[i]) + "\n";
        }
        out += "station_attempt_duration_seconds_bucket{" + labels + ",le=\"+Inf\"} " +
               std::to_string(t.count) + "\n";
        out += "station_attempt_duration_seconds_sum{" + labels + "} " + Number(t.seconds) + "\n";
        out += "station_attempt_duration_seconds_count{" + labels + "} " + std::to_string(t.count) +
               "\n";
    }
    Head(out, "station_socket_adapter_present", "gauge",
         "1 while the socket's serial adapter is there.");
    for (const SocketView& sock : s.sockets) {
        out += "station_socket_adapter_present{socket=\"" + std::to_string(sock.number) + "\"} " +
               (sock.flags.adapterMissing ? "0" : "1") + "\n";
    }
    Head(out, "station_unsent_records", "gauge", "Records not yet kept by every sink.");
    out += "station_unsent_records " + std::to_string(s.unsent) + "\n";
    Head(out, "station_record_errors_total", "counter", "Records that could not be kept.");
    out += "station_record_errors_total " + std::to_string(s.recordErrors) + "\n";
    Head(out, "station_info", "gauge", "The program's version, the station and its plan's kind.");
    out += "station_info{version=" + Label(s.toolVersion) + ",station=" + station +
           ",kind=" + Label(s.plan.kind) + "} 1\n";
    Head(out, "station_doors_events_dropped_total", "counter",
         "Events a door was too slow to take.");
    out += "station_doors_events_dropped_total " + std::to_string(eventsDropped) + "\n";
    return out;
}

}  // namespace doors
