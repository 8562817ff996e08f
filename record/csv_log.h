#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "attempt.h"
#include "sink.h"

namespace record {

// The CSV production log: one line per attempt, the columns
// time,station,port,kind,serial,version,ch0..ch3,operation,result,message,
// duration_ms,tool_version,socket, then attempt_id,station_id,operator,
// device,failed_step,rb0..rb3,recorded_offline,corrects,ch_more,rb_more (the
// channels after Ch3 and their read-back, joined by "|"). New columns are only
// ever added at the end, so readers of the older fifteen or sixteen keep
// working; a log begun by an older version gets this header line again
// before its first row of the new shape, and readers take the columns from
// the last header line they passed.

// The first line of a new log.
std::string ProductionLogHeader();

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break, so a message can never split a row.
std::string CsvField(std::string_view text);

// A field as the log writes it: a text a spreadsheet would take as a formula
// (=, +, -, @, tab or CR first) gets a leading ', a backslash is doubled and
// control bytes are written as \n, \r, \t or \xNN so a row is always one
// line, then CsvField. Read back, it is the same text again.
std::string SafeCsvField(std::string_view text);

// The attempt as one CSV line ended by CR LF.
std::string FormatProductionRow(const Attempt& attempt);
// A line FormatProductionRow made, read back.
Attempt ParseProductionRow(std::string_view line);

// Now in local time with milliseconds, "2026-12-09T01:02:03.456+01:00".
std::string IsoTimeNow();

// Appends one row, with the header first when the file is new or empty (or
// when header is set: the file's last header is an older one). The row goes
// out in a single write on a file opened for appending, so two stations
// logging into one file never interleave half lines; it is flushed to disk
// before this returns. A row is written whole or not at all: when the write
// falls short (a full disk), the file is cut back to its length before.
// False with the reason in *error.
bool AppendProductionRow(const std::string& path, const Attempt& attempt, std::string* error,
                         bool header = false);

// Whether a row can be appended to the log: opens it for appending (making
// it when missing) without writing anything, and finds room on its disk.
bool CanAppendProductionLog(const std::string& path, std::string* error);

// Reads a log row by row, a block at a time, so a log of millions of rows
// costs no more memory than one. The marks SafeCsvField added are taken off.
class CsvLogReader {
  public:
    explicit CsvLogReader(std::string path) : path_(std::move(path)) {}
    ~CsvLogReader();
    CsvLogReader(const CsvLogReader&) = delete;
    CsvLogReader& operator=(const CsvLogReader&) = delete;

    // False when the file cannot be opened.
    bool Open(std::string* error = nullptr);
    // The next row; false at the end of what is in the file now (rows
    // appended later are read by the next call). *offset: where the row's
    // line starts in the file.
    bool Next(Attempt* attempt, unsigned long long* offset = nullptr);
    // The file offset up to which rows have been read.
    unsigned long long Position() const { return bufferStart_ + at_; }
    // Whether the last header line read is this program's.
    bool HeaderCurrent() const { return current_; }
    // The row whose line starts at offset, read with the columns of the
    // header before it (the one in force when the caller met it).
    bool ReadAt(unsigned long long offset, Attempt* attempt);

  private:
    bool Fill();
    bool TakeLine(std::string* line, unsigned long long* offset);
    void UseHeader(const std::vector<std::string>& fields);
    Attempt FromFields(const std::vector<std::string>& fields) const;
    friend Attempt ParseProductionRow(std::string_view line);

    std::string path_;
    int fd_ = -1;
    std::string buffer_;
    std::size_t at_ = 0;                  // next unread byte of buffer_
    unsigned long long bufferStart_ = 0;  // the file offset of buffer_[0]
    bool current_ = false;
    std::vector<int> columns_;  // for each of the log's columns, its field, or -1
};

// Every row of a log; a row without a socket (the older fifteen columns) is
// socket 1, a station's only one. Nothing when it cannot be read.
std::vector<Attempt> ReadProductionRows(const std::string& path);

// The first verified write ("write" / "pass") of this serial with the same
// kind and the same four frequencies, if the log holds one that no
// correction took back; its socket is 0 when the row names none.
std::optional<PriorPass> FindPassedWrite(const std::string& path, const std::string& kind,
                                         const std::string& serial,
                                         const std::vector<std::string>& channels);

// Serial numbers of modules the log shows with a passed write.
std::set<std::string> PassedSerials(const std::string& path);

}  // namespace record
