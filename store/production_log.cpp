#include "production_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "file_system.h"
#include "text_file.h"

namespace store {

namespace {

constexpr const char* kColumns[] = {
    "time", "station", "port",      "kind",   "serial",  "version",     "ch0",         "ch1",
    "ch2",  "ch3",     "operation", "result", "message", "duration_ms", "tool_version",
    "socket"};

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

std::string FormatProductionRow(const ProductionRow& row) {
    return JoinLine({row.time, row.station, row.port, row.kind, row.serial, row.version,
                     row.channels[0], row.channels[1], row.channels[2], row.channels[3],
                     row.operation, row.result, row.message, std::to_string(row.durationMs),
                     row.toolVersion, std::to_string(row.socket)});
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

bool AppendProductionRow(const std::string& path, const ProductionRow& row, std::string* error) {
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
    std::string bytes;
    if (fsys::SizeOf(path).value_or(0) == 0) bytes = ProductionLogHeader();
    bytes += FormatProductionRow(row);
    err = fsys::WriteAll(fd, bytes);
    if (err == 0) err = fsys::Flush(fd);
    fsys::LockExclusive(fd, false);
    const int closeErr = fsys::Close(fd);
    if (err != 0) return fail("cannot write " + path, err);
    if (closeErr != 0) return fail("cannot close " + path, closeErr);
    return true;
}

std::optional<LoggedPass> FindVerifiedPass(const std::string& path, const std::string& kind,
                                           const std::string& serial,
                                           const std::array<std::string, 4>& channels) {
    std::optional<LoggedPass> found;
    const auto data = ReadTextFile(path, 256 * 1024 * 1024);
    if (!data) return found;
    std::size_t next = 0;
    SplitCsvLine(*data, &next);  // header
    while (next < data->size()) {
        const std::vector<std::string> f = SplitCsvLine(*data, &next);
        // time, station, kind, serial, ch0..ch3, operation, result, [socket]
        if (f.size() < 12 || f[10] != "write" || f[11] != "pass") continue;
        if (f[3] != kind || f[4] != serial) continue;
        if (f[6] != channels[0] || f[7] != channels[1] || f[8] != channels[2] ||
            f[9] != channels[3]) {
            continue;
        }
        LoggedPass pass;
        pass.time = f[0];
        pass.station = f[1];
        pass.socket = f.size() > 15 ? std::atoi(f[15].c_str()) : 0;
        found = pass;
    }
    return found;
}

}  // namespace store
