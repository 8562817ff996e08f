#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace record {

// How an attempt ended; "running" until it has.
// NotRecorded: a sink kept the row, another could not; the one that kept it
// gets a correction with this result, so no record says "pass" alone.
enum class Result { Running, Pass, Fail, Interrupted, Skipped, NotRecorded };
// What the attempt did to the module: "info", "write" (verified by a
// read-back), "write-unverified" (--no-check), "check", "test".
enum class Operation { Info, Write, WriteUnverified, Check, Test };
// Where a failed attempt stopped; None on a pass.
enum class Step { None, Identity, Write, Check, Serial, Port, Record, Test, Plan };

// The texts the records, the wire and the screens show ("pass",
// "write-unverified", "identity", "" for Step::None), and back; nothing for
// a text this program does not write. Only the edges (CSV, SQL, JSON,
// report and terminal texts) use them.
const char* ToText(Result result);
std::optional<Result> ResultFromText(std::string_view text);
const char* ToText(Operation operation);
std::optional<Operation> OperationFromText(std::string_view text);
const char* ToText(Step step);
std::optional<Step> StepFromText(std::string_view text);

// Every record keeps Ch0 to Ch3 in columns of their own, as it always has; a
// kind of more channels keeps the rest in one more column, joined by "|"
// (neither a frequency nor a register row can hold one).
inline constexpr std::size_t kChannelColumns = 4;
// The channel's text; empty past the end.
std::string ChannelAt(const std::vector<std::string>& channels, std::size_t index);
// The channels after the fourth, joined; empty for a kind of four or fewer.
std::string MoreChannels(const std::vector<std::string>& channels);
// The four columns' texts and the joined rest, as one list again.
std::vector<std::string> JoinChannels(std::vector<std::string> four, std::string_view more);

// One attempt at one module in one socket: what every record keeps. A row is
// made before the first command of the attempt goes to the module (result
// Running) and finished once when the attempt ends.
struct Attempt {
    std::string attemptId;  // a UUID made by the station
    std::string startedAt;  // ISO 8601 with the UTC offset
    std::string station;
    std::string stationId;  // the installation's UUID: two PCs under one name are told apart
    int socket = 1;         // 1..N in the order the ports were given
    std::string port;       // "COM7" or a device path, as given
    std::string device;     // what the port opened
    std::string kind;       // "rx" / "tx", empty when unknown
    std::string serial;     // as the module reported it
    std::string version;
    std::vector<std::string> channels;  // the plan, MHz, Ch0 first, as many as the kind has
    std::vector<std::string> readBack;  // register rows read back, values joined by ","
    Operation operation = Operation::Info;
    Result result = Result::Running;
    Step failedStep = Step::None;
    std::string message;
    long long durationMs = 0;
    std::string toolVersion;
    std::string operatorName;  // --operator, optional
    // Decided while the line's database was out of reach (kept in the spool).
    bool recordedOffline = false;
    // A correction row (result NotRecorded): the attempt whose result it
    // takes back, because another record could not keep it.
    std::string corrects;
};

}  // namespace record
