#include "mes_messages.h"

#include "attempt_id.h"
#include "json_text.h"

namespace doors {

using record::JsonText;

const char kOfflineWord[] = "offline";

std::string MqttTopic(const std::string& prefix, const std::string& station,
                      const std::string& leaf) {
    std::string name = station.empty() ? "station" : station;
    for (char& c : name) {
        if (c == '/' || c == '+' || c == '#') c = '_';
    }
    return (prefix.empty() ? "" : prefix + "/") + name + "/" + leaf;
}

namespace {

std::string Plan(const record::Attempt& a) {
    std::string out = "[";
    bool first = true;
    for (const std::string& c : a.channels) {
        if (c.empty()) continue;
        out += (first ? "" : ",") + JsonText(c);
        first = false;
    }
    return out + "]";
}

// What both messages say of the attempt beside their own fields.
std::string Common(const record::Attempt& a) {
    return "\"TransactionID\":" + JsonText(a.attemptId) + ",\"Station\":" + JsonText(a.station) +
           ",\"Kind\":" + JsonText(a.kind) + ",\"Plan\":" + Plan(a) +
           ",\"Operation\":" + JsonText(record::ToText(a.operation)) +
           ",\"Operator\":{\"OperatorIdentifier\":" + JsonText(a.operatorName) + "}" +
           ",\"ToolVersion\":" + JsonText(a.toolVersion);
}

std::string Unit(const record::Attempt& a) {
    return "\"UnitIdentifier\":" + JsonText(a.serial) +
           ",\"PositionNumber\":" + std::to_string(a.socket) +
           ",\"PositionName\":" + JsonText(a.port) + ",\"Device\":" + JsonText(a.device);
}

// The result as UnitsTested names it.
std::string Overall(const std::string& result) {
    if (result == "pass") return "Passed";
    if (result == "fail") return "Failed";
    if (result == "skipped") return "Skipped";
    if (result == "interrupted") return "Aborted";
    return "Error";
}

}  // namespace

std::string WorkStartedJson(const record::Attempt& a) {
    return "{\"MessageName\":\"CFX.Production.WorkStarted\"," + Common(a) +
           ",\"PrimaryIdentifier\":" + JsonText(a.serial) +
           ",\"StartTime\":" + JsonText(a.startedAt) + ",\"UnitCount\":1,\"Units\":[{" + Unit(a) +
           "}]}";
}

std::string UnitsTestedJson(const record::Attempt& a) {
    long long started = 0;
    const std::string end = record::ParseIsoTime(a.startedAt, &started)
                                ? record::FormatUtcIso(started + a.durationMs)
                                : std::string();
    return "{\"MessageName\":\"CFX.Production.TestAndInspection.UnitsTested\"," + Common(a) +
           ",\"TestStartTime\":" + JsonText(a.startedAt) + ",\"TestEndTime\":" + JsonText(end) +
           ",\"DurationMs\":" + std::to_string(a.durationMs) +
           ",\"OverallResult\":" + JsonText(Overall(record::ToText(a.result))) + ",\"TestedUnits\":[{" + Unit(a) +
           ",\"UnitOverallResult\":" + JsonText(Overall(record::ToText(a.result))) +
           ",\"Result\":" + JsonText(record::ToText(a.result)) + ",\"FailedStep\":" + JsonText(record::ToText(a.failedStep)) +
           ",\"Message\":" + JsonText(a.message) + "}]}";
}

std::string StatusWord(const Snapshot& snapshot) {
    return StateText(snapshot.state);
}

}  // namespace doors
