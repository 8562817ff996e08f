#include "csv_log.h"

#include <cctype>
#include <cerrno>
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
using store::ReadTextFile;

constexpr const char* kColumns[] = {
    "time", "station", "port",      "kind",   "serial",  "version",     "ch0",          "ch1",
    "ch2",  "ch3",     "operation", "result", "message", "duration_ms", "tool_version", "socket"};

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
        if (e == 'n' || e == 'r' || e == 't') {
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
    return CsvField(out + store::EscapeControlBytes(text));
}

std::string FormatProductionRow(const Attempt& a) {
    const std::string fields[] = {a.startedAt,
                                  a.station,
                                  a.port,
                                  a.kind,
                                  a.serial,
                                  a.version,
                                  a.channels[0],
                                  a.channels[1],
                                  a.channels[2],
                                  a.channels[3],
                                  ToText(a.operation),
                                  ToText(a.result),
                                  a.message,
                                  std::to_string(a.durationMs),
                                  a.toolVersion,
                                  a.socket > 0 ? std::to_string(a.socket) : ""};
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0) line += ',';
        line += SafeCsvField(fields[i]);
    }
    return line + "\r\n";
}

std::string IsoTimeNow() {
    const std::time_t now = std::time(nullptr);
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
    return text + std::string(offset);
}

bool AppendProductionRow(const std::string& path, const Attempt& attempt, std::string* error) {
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
    if (before == 0) bytes = ProductionLogHeader();
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
    return true;
}

namespace {

// Every row as the log has it: a socket the row does not name is 0.
std::vector<Attempt> ReadRows(const std::string& path) {
    std::vector<Attempt> rows;
    const auto data = ReadTextFile(path, 256 * 1024 * 1024);
    if (!data) return rows;
    std::size_t next = 0;
    const std::vector<std::string> header = SplitCsvLine(*data, &next);
    const auto column = [&header](const char* name) {
        for (std::size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name) return static_cast<int>(i);
        }
        return -1;
    };
    int at[std::size(kColumns)];
    for (std::size_t i = 0; i < std::size(kColumns); ++i) at[i] = column(kColumns[i]);
    while (next < data->size()) {
        const std::vector<std::string> f = SplitCsvLine(*data, &next);
        if (f.size() < 2) continue;  // an empty line
        const auto get = [&](int i) {
            return at[i] >= 0 && at[i] < static_cast<int>(f.size()) ? UnescapeField(f[at[i]])
                                                                    : std::string();
        };
        Attempt a;
        a.startedAt = get(0);
        a.station = get(1);
        a.port = get(2);
        a.kind = get(3);
        a.serial = get(4);
        a.version = get(5);
        for (int c = 0; c < 4; ++c) a.channels[c] = get(6 + c);
        // A text this program never writes: no write, and no pass.
        a.operation = OperationFromText(get(10)).value_or(Operation::Check);
        a.result = ResultFromText(get(11)).value_or(Result::Fail);
        a.message = get(12);
        a.durationMs = std::atoll(get(13).c_str());
        a.toolVersion = get(14);
        a.socket = std::atoi(get(15).c_str());
        rows.push_back(std::move(a));
    }
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
                                         const std::array<std::string, 4>& channels) {
    for (const Attempt& a : ReadRows(path)) {
        // "write-unverified" and "skipped" rows never count: neither proves
        // what the module holds.
        if (a.operation == Operation::Write && a.result == Result::Pass && a.serial == serial &&
            a.kind == kind && a.channels == channels) {
            return PriorPass{a.station, a.socket, a.startedAt};
        }
    }
    return std::nullopt;
}

std::set<std::string> PassedSerials(const std::string& path) {
    std::set<std::string> serials;
    const auto data = ReadTextFile(path, 256 * 1024 * 1024);
    if (!data) return serials;
    std::size_t next = 0;
    SplitCsvLine(*data, &next);  // header
    while (next < data->size()) {
        const std::vector<std::string> f = SplitCsvLine(*data, &next);
        // serial, operation and result columns
        if (f.size() >= 12 && f[10] == "write" && f[11] == "pass") serials.insert(f[4]);
    }
    return serials;
}

}  // namespace record
