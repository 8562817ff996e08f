#include "csv_sink.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "file_system.h"

namespace record {

namespace {

namespace fsys = store::fsys;

// FNV-1a over the fields that make two writes the same: kind, serial and
// the plan. A hash that matches is checked against the row itself.
std::uint64_t KeyOf(const std::string& kind, const std::string& serial,
                    const std::vector<std::string>& plan) {
    std::uint64_t h = 14695981039346656037ull;
    const auto add = [&h](const std::string& text) {
        for (const unsigned char c : text) {
            h ^= c;
            h *= 1099511628211ull;
        }
        h ^= 0x1f;
        h *= 1099511628211ull;
    };
    add(kind);
    add(serial);
    for (const std::string& c : plan) add(c);
    return h;
}

constexpr const char kNeverFinished[] = "never finished: the station stopped during the attempt";

}  // namespace

CsvSink::CsvSink(std::string path, std::string stationId)
    : path_(std::move(path)), stationId_(std::move(stationId)) {}

CsvSink::~CsvSink() {
    if (journalFd_ >= 0) fsys::Close(journalFd_);
}

std::string CsvSink::JournalPath(const std::string& logPath, const std::string& stationId) {
    return logPath + ".running" + (stationId.empty() ? "" : "-" + stationId);
}

bool CsvSink::OpenJournal(std::vector<Attempt>* unfinished) {
    journalPath_ = JournalPath(path_, stationId_);
    int err = 0;
    journalFd_ = fsys::OpenFile(journalPath_, fsys::Open::Append, &err);
    if (journalFd_ < 0) return false;
    if (!fsys::TryLockExclusive(journalFd_)) {
        // Another program of this station logs into the same file now: the
        // journal is its, and what it has under way is not dead.
        fsys::Close(journalFd_);
        journalFd_ = -1;
        warning_ = "another program of this station writes " + path_ +
                   "; an attempt cut off here would not be marked interrupted";
        return true;
    }
    // "B,<row>" when an attempt begins, "E,<attempt id>" when it ends.
    std::map<std::string, Attempt> begun;
    std::string content;
    if (const int rfd = fsys::OpenFile(journalPath_, fsys::Open::Read, &err); rfd >= 0) {
        char block[16 * 1024];
        long got = 0;
        while ((got = fsys::ReadSome(rfd, block, sizeof block, &err)) > 0) {
            content.append(block, static_cast<std::size_t>(got));
        }
        fsys::Close(rfd);
    }
    for (std::size_t at = 0, end = 0; (end = content.find('\n', at)) != std::string::npos;
         at = end + 1) {
        // A last line without its end is one the crash cut short.
        const std::string line = content.substr(at, end + 1 - at);
        if (line.rfind("E,", 0) == 0) {
            std::string id = line.substr(2);
            while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
            begun.erase(id);
        } else if (line.rfind("B,", 0) == 0) {
            const Attempt a = ParseProductionRow(line.substr(2));
            if (!a.attemptId.empty()) begun[a.attemptId] = a;
        }
    }
    for (auto& [id, a] : begun) unfinished->push_back(a);
    return true;
}

bool CsvSink::Open(std::string* error) {
    if (!CanAppendProductionLog(path_, error)) return false;
    std::vector<Attempt> unfinished;
    if (!OpenJournal(&unfinished)) {
        if (error) *error = "cannot keep the journal " + journalPath_ + " beside the log";
        return false;
    }
    // The index: read once, kept up to date by CatchUp.
    tail_ = std::make_unique<CsvLogReader>(path_);
    rows_ = std::make_unique<CsvLogReader>(path_);
    if (!tail_->Open(error) || !rows_->Open(error)) return false;
    std::set<std::string> wanted;
    for (const Attempt& a : unfinished) wanted.insert(a.attemptId);
    Attempt a;
    unsigned long long offset = 0;
    bool any = false;
    while (tail_->Next(&a, &offset)) {
        any = true;
        Index(a, offset, false);
        // Its row got out before the crash: only the journal's end was lost.
        if (!wanted.empty()) wanted.erase(a.attemptId);
    }
    headerCurrent_ = !any || tail_->HeaderCurrent();
    std::sort(passed_.begin(), passed_.end());
    for (Attempt& left : unfinished) {
        if (!wanted.count(left.attemptId)) continue;
        left.result = Result::Interrupted;
        left.failedStep = Step::None;
        left.message = kNeverFinished;
        if (!Append(left, error)) return false;
    }
    if (journalFd_ >= 0) fsys::Truncate(journalFd_, 0);
    CatchUp();
    return true;
}

void CsvSink::Index(const Attempt& a, unsigned long long offset, bool fresh) {
    if (!a.corrects.empty()) corrected_.insert(a.corrects);
    if (a.operation != Operation::Write || a.result != Result::Pass) return;
    const std::uint64_t key = KeyOf(a.kind, a.serial, a.channels);
    if (fresh) {
        passedSince_.emplace(key, offset);
    } else {
        passed_.emplace_back(key, offset);
    }
}

void CsvSink::CatchUp() {
    if (!tail_) return;
    // A log moved away and begun anew (rotated) is shorter than what was
    // read of it: the index starts again on the new file.
    if (const auto size = fsys::SizeOf(path_); size && *size < tail_->Position()) {
        passed_.clear();
        passedSince_.clear();
        corrected_.clear();
        tail_ = std::make_unique<CsvLogReader>(path_);
        rows_ = std::make_unique<CsvLogReader>(path_);
        if (!tail_->Open() || !rows_->Open()) return;
    }
    Attempt a;
    unsigned long long offset = 0;
    while (tail_->Next(&a, &offset)) Index(a, offset, true);
}

bool CsvSink::Append(const Attempt& a, std::string* error) {
    if (!AppendProductionRow(path_, a, error, !headerCurrent_)) return false;
    headerCurrent_ = true;
    return true;
}

BeginResult CsvSink::Begin(const Attempt& attempt) {
    BeginResult b;
    if (!CanAppendProductionLog(path_, &b.error)) return b;
    if (journalFd_ >= 0) {
        const std::string line = "B," + FormatProductionRow(attempt);
        int err = fsys::WriteAll(journalFd_, line);
        if (err == 0) err = fsys::Flush(journalFd_);
        if (err != 0) {
            b.error = "cannot write " + journalPath_ + ": " + std::strerror(err);
            return b;
        }
        open_.insert(attempt.attemptId);
    }
    b.ok = true;
    return b;
}

bool CsvSink::Finish(const Attempt& attempt, std::string* error) {
    if (!Append(attempt, error)) return false;
    if (journalFd_ >= 0 && open_.erase(attempt.attemptId)) {
        // Nothing under way any more: the journal starts afresh. Otherwise
        // its end is noted; a crash before that note leaves a row in the log
        // already, which the next start finds.
        if (open_.empty()) {
            fsys::Truncate(journalFd_, 0);
        } else {
            fsys::WriteAll(journalFd_, "E," + attempt.attemptId + "\r\n");
        }
    }
    return true;
}

std::optional<PriorPass> CsvSink::PassedBefore(const std::string& kind, const std::string& serial,
                                               const std::vector<std::string>& plan) {
    CatchUp();
    const std::uint64_t key = KeyOf(kind, serial, plan);
    std::vector<unsigned long long> offsets;
    const auto range =
        std::equal_range(passed_.begin(), passed_.end(), std::make_pair(key, 0ull),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
    for (auto it = range.first; it != range.second; ++it) offsets.push_back(it->second);
    const auto since = passedSince_.equal_range(key);
    for (auto it = since.first; it != since.second; ++it) offsets.push_back(it->second);
    std::sort(offsets.begin(), offsets.end());
    for (const unsigned long long offset : offsets) {
        Attempt a;
        if (!rows_->ReadAt(offset, &a)) continue;
        if (a.serial != serial || a.kind != kind || a.channels != plan) continue;  // a collision
        if (!a.attemptId.empty() && corrected_.count(a.attemptId)) continue;
        return PriorPass{a.station, a.socket, a.startedAt};
    }
    return std::nullopt;
}

}  // namespace record
