#include "production_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "text_file.h"

namespace store {

namespace {

constexpr const char* kColumns[] = {
    "time", "station", "port",      "kind",   "serial",  "version",     "ch0",         "ch1",
    "ch2",  "ch3",     "operation", "result", "message", "duration_ms", "tool_version"};

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

bool WriteAllOnce(int fd, const std::string& bytes) {
    // One write call for the whole row; a short write (disk full) is
    // finished, but never interleaved with our own output.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
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
                     row.toolVersion});
}

std::string IsoTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return {};
    // strftime gives "+0100"; the extended form wants "+01:00".
    std::string out = text;
    if (out.size() >= 5) out.insert(out.size() - 2, ":");
    return out;
}

bool AppendProductionRow(const std::string& path, const ProductionRow& row, std::string* error) {
    const auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        return false;
    };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return fail("cannot open " + path);
    // The lock only decides who writes the header of a new file; the rows
    // themselves rely on O_APPEND, which also holds where locks do not.
    ::flock(fd, LOCK_EX);
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) == 0 && st.st_size == 0) bytes = ProductionLogHeader();
    bytes += FormatProductionRow(row);
    const bool written = WriteAllOnce(fd, bytes) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::flock(fd, LOCK_UN);
    const bool closed = ::close(fd) == 0;
    errno = savedErrno;
    if (!written) return fail("cannot write " + path);
    if (!closed) return fail("cannot close " + path);
    return true;
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

}  // namespace store
