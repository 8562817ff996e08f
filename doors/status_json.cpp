#include "status_json.h"

#include "json_text.h"

namespace doors {

using record::JsonText;

namespace {

const char* Bool(bool b) {
    return b ? "true" : "false";
}

std::string Channels(const std::vector<std::string>& channels) {
    std::string out = "[";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        out += (i ? "," : "") + JsonText(channels[i]);
    }
    return out + "]";
}

}  // namespace

std::string SocketJson(const SocketView& s) {
    const SocketFlags& f = s.flags;
    return "{\"socket\":" + std::to_string(s.number) + ",\"port\":" + JsonText(s.port) +
           ",\"device\":" + JsonText(s.device) + ",\"state\":" + JsonText(s.state) +
           ",\"serial\":" + JsonText(s.serial) + ",\"last_result\":" + JsonText(s.lastResult) +
           ",\"last_attempt_id\":" + JsonText(s.lastAttemptId) + ",\"since\":" + JsonText(s.since) +
           ",\"last_duration_ms\":" + std::to_string(s.lastDurationMs) +
           ",\"busy\":" + Bool(f.busy) + ",\"pass\":" + Bool(f.passHeld) +
           ",\"fail\":" + Bool(f.failHeld) + ",\"not_recorded\":" + Bool(f.notRecorded) +
           ",\"adapter_missing\":" + Bool(f.adapterMissing) + ",\"skipped\":" + Bool(f.skipped) +
           ",\"module_present\":" + Bool(f.modulePresent) + ",\"paused\":" + Bool(f.paused) +
           ",\"waiting_for_trigger\":" + Bool(f.waitingForTrigger) + "}";
}

std::string StatusJson(const Snapshot& s) {
    std::string out = "{\"station\":" + JsonText(s.station) + ",\"station_id\":" +
                      (s.stationId.empty() ? std::string("null") : JsonText(s.stationId)) +
                      ",\"state\":" + JsonText(StateText(s.state)) +
                      ",\"plan\":{\"kind\":" + JsonText(s.plan.kind) +
                      ",\"channels\":" + Channels(s.plan.channels) +
                      "},\"counts\":{\"passed\":" + std::to_string(s.counts.passed) +
                      ",\"failed\":" + std::to_string(s.counts.failed) +
                      ",\"skipped\":" + std::to_string(s.counts.skipped) +
                      ",\"written\":" + std::to_string(s.counts.written) +
                      ",\"not_recorded\":" + std::to_string(s.counts.notRecorded) +
                      "},\"unsent\":" + std::to_string(s.unsent) +
                      ",\"record_errors\":" + std::to_string(s.recordErrors) +
                      ",\"version\":" + JsonText(s.toolVersion) + ",\"sockets\":[";
    for (std::size_t i = 0; i < s.sockets.size(); ++i) {
        out += (i ? "," : "") + SocketJson(s.sockets[i]);
    }
    return out + "]}";
}

std::string AttemptJson(const record::Attempt& a) {
    std::vector<std::string> plan;
    for (const std::string& c : a.channels) {
        if (!c.empty()) plan.push_back(c);
    }
    return "{\"attempt_id\":" + JsonText(a.attemptId) + ",\"socket\":" + std::to_string(a.socket) +
           ",\"port\":" + JsonText(a.port) + ",\"device\":" + JsonText(a.device) +
           ",\"serial\":" + JsonText(a.serial) + ",\"kind\":" + JsonText(a.kind) +
           ",\"plan\":" + Channels(plan) + ",\"operation\":" + JsonText(record::ToText(a.operation)) +
           ",\"result\":" + JsonText(record::ToText(a.result)) + ",\"failed_step\":" + JsonText(record::ToText(a.failedStep)) +
           ",\"message\":" + JsonText(a.message) + ",\"operator\":" + JsonText(a.operatorName) +
           ",\"started_at\":" + JsonText(a.startedAt) +
           ",\"duration_ms\":" + std::to_string(a.durationMs) +
           ",\"tool_version\":" + JsonText(a.toolVersion) + "}";
}

std::string ReplyJson(const Reply& r) {
    return r.ok ? "{\"ok\":true}" : "{\"ok\":false,\"error\":" + JsonText(r.error) + "}";
}

std::string SseEvent(const Event& e) {
    std::string name;
    std::string data;
    switch (e.kind) {
        case EventKind::SocketChanged:
            name = "socket";
            data = SocketJson(e.socket);
            break;
        case EventKind::AttemptBegun:
            name = "attempt_begun";
            data = AttemptJson(e.attempt);
            break;
        case EventKind::AttemptFinished:
            name = "attempt_finished";
            data = AttemptJson(e.attempt);
            break;
    }
    return "event: " + name + "\nid: " + std::to_string(e.seq) + "\ndata: " + data + "\n\n";
}

std::string SseStatus(const Snapshot& snapshot) {
    return "event: status\ndata: " + StatusJson(snapshot) + "\n\n";
}

}  // namespace doors
