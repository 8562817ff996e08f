#include "csv_log.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "control_bytes.h"
#include "file_system.h"
#include "text_file.h"

namespace record {

namespace {

namespace fsys = store::fsys;

constexpr const char* kColumns[] = {"time",         "station",
                                    "port",         "kind",
                                    "serial",       "version",
                                    "ch0",          "ch1",
                                    "ch2",          "ch3",
                                    "operation",    "result",
                                    "message",      "duration_ms",
                                    "tool_version", "socket",
                                    "attempt_id",   "station_id",
                                    "operator",     "device",
                                    "failed_step",  "rb0",
                                    "rb1",          "rb2",
                                    "rb3",          "recorded_offline",
                                    "corrects",     "ch_more",
                                    "rb_more"};
constexpr std::size_t kColumnCount = std::size(kColumns);
// The header of the logs the versions before wrote, sixteen columns at most.
constexpr std::size_t kOldColumnCount = 16;

bool LooksLikeFormula(char c) {
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// Takes off what SafeCsvField put on: the escapes of control bytes and the
// leading ' before a formula character.
std::string UnescapeField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 >= field.size()) {
            out += c;
            continue;
        }
        const char e = field[i + 1];
        if (e == '\\') {
            out += '\\';
            ++i;
        } else if (e == 'n' || e == 'r' || e == 't') {
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : '\t';
            ++i;
        } else if (e == 'x' && i + 3 < field.size() &&
                   std::isxdigit(static_cast<unsigned char>(field[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(field[i + 3]))) {
            out += static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += c;
        }
    }
    if (out.size() >= 2 && out[0] == '\'' && LooksLikeFormula(out[1])) out.erase(0, 1);
    return out;
}

std::string JoinLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += CsvField(fields[i]);
    }
    return line + "\r\n";
}

// The fields of one CSV line; quoted fields may hold commas and doubled
// quotes. Sets *next to the start of the following line.
std::vector<std::string> SplitCsvLine(std::string_view text, std::size_t* next) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    std::size_t i = *next;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            ++i;
            break;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    *next = i;
    return fields;
}

}  // namespace

std::string ProductionLogHeader() {
    return JoinLine(std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string SafeCsvField(std::string_view text) {
    std::string out;
    if (!text.empty() && LooksLikeFormula(text[0])) out += '\'';
    // A backslash typed in a field is doubled first, so that the escapes of
    // control bytes that follow are the only single ones.
    std::string doubled;
    doubled.reserve(text.size());
    for (const char c : text) {
        if (c == '\\') doubled += '\\';
        doubled += c;
    }
    return CsvField(out + store::EscapeControlBytes(doubled));
}

std::string FormatProductionRow(const Attempt& a) {
    const std::string fields[] = {a.startedAt,
                                  a.station,
                                  a.port,
                                  a.kind,
                                  a.serial,
                                  a.version,
                                  ChannelAt(a.channels, 0),
                                  ChannelAt(a.channels, 1),
                                  ChannelAt(a.channels, 2),
                                  ChannelAt(a.channels, 3),
                                  ToText(a.operation),
                                  ToText(a.result),
                                  a.message,
                                  std::to_string(a.durationMs),
                                  a.toolVersion,
                                  a.socket > 0 ? std::to_string(a.socket) : "",
                                  a.attemptId,
                                  a.stationId,
                                  a.operatorName,
                                  a.device,
                                  ToText(a.failedStep),
                                  ChannelAt(a.readBack, 0),
                                  ChannelAt(a.readBack, 1),
                                  ChannelAt(a.readBack, 2),
                                  ChannelAt(a.readBack, 3),
                                  a.recordedOffline ? "1" : "",
                                  a.corrects,
                                  MoreChannels(a.channels),
                                  MoreChannels(a.readBack)};
    static_assert(std::size(fields) == kColumnCount);
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0) line += ',';
        line += SafeCsvField(fields[i]);
    }
    return line + "\r\n";
}

std::string IsoTimeNow() {
    const auto clock = std::chrono::system_clock::now();
    const std::time_t now = std::chrono::system_clock::to_time_t(clock);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock.time_since_epoch()).count() %
        1000;
    std::tm local{};
    std::tm utc{};
#ifdef _WIN32
    localtime_s(&local, &now);
    gmtime_s(&utc, &now);
#else
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
#endif
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) return {};
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03lld", ms < 0 ? ms + 1000 : ms);
    // The offset from the two broken-down times: strftime's %z is a zone
    // name, not an offset, on Windows. They are at most a day apart.
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    const long minutes =
        (days * 24L + local.tm_hour - utc.tm_hour) * 60L + local.tm_min - utc.tm_min;
    const long magnitude = minutes < 0 ? -minutes : minutes;
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", minutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text + std::string(fraction) + offset;
}

bool AppendProductionRow(const std::string& path, const Attempt& attempt, std::string* error,
                         bool header) {
    const auto fail = [&](const std::string& what, int err) {
        if (error) *error = what + ": " + std::strerror(err);
        return false;
    };
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::Append, &err);
    if (fd < 0) return fail("cannot open " + path, err);
    // Another station appending to the same log waits here, so neither the
    // header of a new file nor a row is ever interleaved with its output.
    fsys::LockExclusive(fd, true);
    const unsigned long long before = fsys::SizeOf(path).value_or(0);
    std::string bytes;
    if (before == 0 || header) bytes = ProductionLogHeader();
    bytes += FormatProductionRow(attempt);
    err = fsys::WriteAll(fd, bytes);
    if (err == 0) err = fsys::Flush(fd);
    // Half a row would run into the next one: take back whatever got out.
    if (err != 0 && fsys::Truncate(fd, before) == 0) fsys::Flush(fd);
    fsys::LockExclusive(fd, false);
    const int closeErr = fsys::Close(fd);
    if (err != 0) return fail("cannot write " + path, err);
    if (closeErr != 0) return fail("cannot close " + path, closeErr);
    return true;
}

bool CanAppendProductionLog(const std::string& path, std::string* error) {
    int err = 0;
    const int fd = fsys::OpenFile(path, fsys::Open::Append, &err);
    if (fd < 0) {
        if (error) *error = "cannot open " + path + ": " + std::strerror(err);
        return false;
    }
    fsys::Close(fd);
    // A disk that is already full takes no row: said now, before a module
    // is touched, rather than after it was written.
    constexpr unsigned long long kRoomForRows = 64 * 1024;
    if (const auto free = fsys::FreeBytes(path); free && *free < kRoomForRows) {
        if (error) *error = "cannot write " + path + ": " + std::strerror(ENOSPC);
        return false;
    }
    return true;
}

CsvLogReader::~CsvLogReader() {
    if (fd_ >= 0) fsys::Close(fd_);
}

bool CsvLogReader::Open(std::string* error) {
    int err = 0;
    fd_ = fsys::OpenFile(path_, fsys::Open::Read, &err);
    if (fd_ < 0) {
        if (error) *error = "cannot read " + path_ + ": " + std::strerror(err);
        return false;
    }
    return true;
}

bool CsvLogReader::Fill() {
    if (fd_ < 0) return false;
    // What was read stays until a whole line is taken: drop what is done.
    if (at_ > 0) {
        buffer_.erase(0, at_);
        bufferStart_ += at_;
        at_ = 0;
    }
    char block[64 * 1024];
    int err = 0;
    const long got = fsys::ReadSome(fd_, block, sizeof block, &err);
    if (got <= 0) return false;
    buffer_.append(block, static_cast<std::size_t>(got));
    return true;
}

bool CsvLogReader::TakeLine(std::string* line, unsigned long long* offset) {
    for (;;) {
        // A line ends at a line feed outside quotes.
        bool quoted = false;
        for (std::size_t i = at_; i < buffer_.size(); ++i) {
            const char c = buffer_[i];
            if (c == '"') quoted = !quoted;
            if (c == '\n' && !quoted) {
                *offset = bufferStart_ + at_;
                line->assign(buffer_, at_, i + 1 - at_);
                at_ = i + 1;
                return true;
            }
        }
        if (!Fill()) {
            // The last line of a file that does not end in a line feed
            // (another station is writing it): left for the next call.
            return false;
        }
    }
}

void CsvLogReader::UseHeader(const std::vector<std::string>& fields) {
    columns_.assign(kColumnCount, -1);
    for (std::size_t c = 0; c < kColumnCount; ++c) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] == kColumns[c]) columns_[c] = static_cast<int>(i);
        }
    }
    current_ = fields.size() == kColumnCount;
}

Attempt CsvLogReader::FromFields(const std::vector<std::string>& f) const {
    const auto get = [&](std::size_t c) {
        const int i = c < columns_.size() ? columns_[c] : -1;
        return i >= 0 && i < static_cast<int>(f.size()) ? UnescapeField(f[i]) : std::string();
    };
    Attempt a;
    a.startedAt = get(0);
    a.station = get(1);
    a.port = get(2);
    a.kind = get(3);
    a.serial = get(4);
    a.version = get(5);
    a.channels = {get(6), get(7), get(8), get(9)};
    // A text this program never writes: no write, and no pass.
    a.operation = OperationFromText(get(10)).value_or(Operation::Check);
    a.result = ResultFromText(get(11)).value_or(Result::Fail);
    a.message = get(12);
    a.durationMs = std::atoll(get(13).c_str());
    a.toolVersion = get(14);
    a.socket = std::atoi(get(15).c_str());
    a.attemptId = get(16);
    a.stationId = get(17);
    a.operatorName = get(18);
    a.device = get(19);
    a.failedStep = StepFromText(get(20)).value_or(Step::None);
    a.readBack = {get(21), get(22), get(23), get(24)};
    a.recordedOffline = get(25) == "1";
    a.corrects = get(26);
    a.channels = JoinChannels(std::move(a.channels), get(27));
    a.readBack = JoinChannels(std::move(a.readBack), get(28));
    return a;
}

bool CsvLogReader::Next(Attempt* attempt, unsigned long long* offset) {
    std::string line;
    unsigned long long at = 0;
    while (TakeLine(&line, &at)) {
        std::size_t next = 0;
        const std::vector<std::string> f = SplitCsvLine(line, &next);
        if (f.size() < 2) continue;  // an empty line
        // The first line, and a header again where a newer version went on
        // with an older version's log.
        if (f[0] == kColumns[0] && f.size() >= 12 && f[11] == kColumns[11]) {
            UseHeader(f);
            continue;
        }
        if (columns_.empty()) {
            // No header: the columns are the oldest version's.
            UseHeader(std::vector<std::string>(std::begin(kColumns),
                                               std::begin(kColumns) + kOldColumnCount - 1));
        }
        *attempt = FromFields(f);
        if (offset) *offset = at;
        return true;
    }
    return false;
}

Attempt ParseProductionRow(std::string_view line) {
    CsvLogReader reader({});
    reader.UseHeader(std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
    std::size_t next = 0;
    return reader.FromFields(SplitCsvLine(line, &next));
}

bool CsvLogReader::ReadAt(unsigned long long offset, Attempt* attempt) {
    if (fd_ < 0 || fsys::Seek(fd_, offset) != 0) return false;
    // Columns are only ever added at the end: the newest header reads any row.
    if (columns_.empty()) {
        UseHeader(std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
    }
    buffer_.clear();
    at_ = 0;
    bufferStart_ = offset;
    std::string line;
    unsigned long long at = 0;
    if (!TakeLine(&line, &at)) return false;
    std::size_t next = 0;
    *attempt = FromFields(SplitCsvLine(line, &next));
    return true;
}

namespace {

// Every row as the log has it: a socket the row does not name is 0.
std::vector<Attempt> ReadRows(const std::string& path) {
    std::vector<Attempt> rows;
    CsvLogReader reader(path);
    if (!reader.Open()) return rows;
    Attempt a;
    while (reader.Next(&a)) rows.push_back(std::move(a));
    return rows;
}

}  // namespace

std::vector<Attempt> ReadProductionRows(const std::string& path) {
    std::vector<Attempt> rows = ReadRows(path);
    for (Attempt& a : rows) {
        if (a.socket <= 0) a.socket = 1;
    }
    return rows;
}

std::optional<PriorPass> FindPassedWrite(const std::string& path, const std::string& kind,
                                         const std::string& serial,
                                         const std::vector<std::string>& channels) {
    std::optional<PriorPass> found;
    std::string foundId;
    CsvLogReader reader(path);
    if (!reader.Open()) return found;
    Attempt a;
    while (reader.Next(&a)) {
        // A correction takes the pass back: another record could not keep it.
        if (found && !a.corrects.empty() && a.corrects == foundId) {
            found.reset();
            continue;
        }
        // "write-unverified" and "skipped" rows never count: neither proves
        // what the module holds.
        if (!found && a.operation == Operation::Write && a.result == Result::Pass &&
            a.serial == serial && a.kind == kind && a.channels == channels) {
            found = PriorPass{a.station, a.socket, a.startedAt};
            foundId = a.attemptId;
        }
    }
    return found;
}

std::set<std::string> PassedSerials(const std::string& path) {
    std::set<std::string> serials;
    for (const Attempt& a : ReadRows(path)) {
        if (a.operation == Operation::Write && a.result == Result::Pass) serials.insert(a.serial);
    }
    return serials;
}

}  // namespace record
