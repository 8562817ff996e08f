#include "outbox.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "file_system.h"

namespace doors {

namespace fsys = store::fsys;

namespace {

std::string Why(int err) {
    return std::strerror(err);
}

std::string MessageRecord(std::uint64_t seq, const OutboxMessage& m) {
    return "M " + std::to_string(seq) + " " + std::to_string(m.topic.size()) + " " +
           std::to_string(m.payload.size()) + "\n" + m.topic + m.payload + "\n";
}

// Reads a decimal number at pos up to the separator; false when there is none.
bool Number(const std::string& s, std::size_t* pos, char separator, unsigned long long* value) {
    const std::size_t end = s.find(separator, *pos);
    if (end == std::string::npos || end == *pos || end - *pos > 19) return false;
    for (std::size_t i = *pos; i < end; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    *value = std::strtoull(s.c_str() + *pos, nullptr, 10);
    *pos = end + 1;
    return true;
}

}  // namespace

Outbox::~Outbox() {
    if (fd_ >= 0) fsys::Close(fd_);
}

bool Outbox::Open(const std::string& path, std::string* error) {
    path_ = path;
    const std::size_t sep = fsys::LastSeparator(path);
    if (sep != std::string::npos && sep > 0) fsys::MakeFolders(path.substr(0, sep));
    if (!Load(error)) return false;
    // Start each run with only what still waits, so the journal stays short.
    return Rewrite(error);
}

bool Outbox::Load(std::string* error) {
    int err = 0;
    const int fd = fsys::OpenFile(path_, fsys::Open::Read, &err);
    if (fd < 0) {
        if (!fsys::EntryExists(path_)) return true;
        *error = "cannot read the MQTT outbox " + path_ + ": " + Why(err);
        return false;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const long n = fsys::ReadSome(fd, buffer, sizeof buffer, &err);
        if (n < 0) {
            fsys::Close(fd);
            *error = "cannot read the MQTT outbox " + path_ + ": " + Why(err);
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    fsys::Close(fd);
    std::size_t pos = 0;
    while (pos + 2 <= content.size()) {
        const char type = content[pos];
        std::size_t at = pos + 2;
        unsigned long long seq = 0;
        if (content[pos + 1] != ' ') break;
        if (type == 'A') {
            if (!Number(content, &at, '\n', &seq)) break;
            waiting_.erase(seq);
        } else if (type == 'M') {
            unsigned long long topicBytes = 0;
            unsigned long long payloadBytes = 0;
            if (!Number(content, &at, ' ', &seq) || !Number(content, &at, ' ', &topicBytes) ||
                !Number(content, &at, '\n', &payloadBytes)) {
                break;
            }
            if (at + topicBytes + payloadBytes + 1 > content.size() ||
                content[at + topicBytes + payloadBytes] != '\n') {
                break;
            }
            OutboxMessage m{content.substr(at, topicBytes),
                            content.substr(at + topicBytes, payloadBytes)};
            waiting_[seq] = std::move(m);
            at += topicBytes + payloadBytes + 1;
        } else {
            break;
        }
        if (seq >= nextSeq_) nextSeq_ = seq + 1;
        pos = at;
    }
    return true;
}

bool Outbox::Rewrite(std::string* error) {
    if (fd_ >= 0) {
        fsys::Close(fd_);
        fd_ = -1;
    }
    std::string content;
    for (const auto& [seq, m] : waiting_) content += MessageRecord(seq, m);
    std::string temporary = path_ + ".XXXXXX";
    int err = 0;
    const int fd = fsys::CreateUnique(temporary, &err);
    if (fd < 0) {
        *error = "cannot write the MQTT outbox beside " + path_ + ": " + Why(err);
        return false;
    }
    const int written = fsys::WriteAll(fd, content);
    const int flushed = written == 0 ? fsys::Flush(fd) : written;
    const int closed = fsys::Close(fd);
    const int replaced = flushed == 0 && closed == 0 ? fsys::ReplaceWith(temporary, path_)
                                                     : (flushed ? flushed : closed);
    if (replaced != 0) {
        fsys::Remove(temporary);
        *error = "cannot write the MQTT outbox " + path_ + ": " + Why(replaced);
        return false;
    }
    const std::size_t sep = fsys::LastSeparator(path_);
    fsys::FlushFolder(sep == std::string::npos ? "." : path_.substr(0, sep));
    fd_ = fsys::OpenFile(path_, fsys::Open::Append, &err);
    if (fd_ < 0) {
        *error = "cannot open the MQTT outbox " + path_ + ": " + Why(err);
        return false;
    }
    size_ = content.size();
    // Acknowledgements and sent messages may grow it to twice what waits.
    rewriteAt_ = 2 * size_ + 16ull * 1024 * 1024;
    return true;
}

bool Outbox::Add(const std::string& topic, const std::string& payload, std::uint64_t* seq,
                 std::string* error) {
    if (waiting_.size() >= kMostWaiting) {
        waiting_.erase(waiting_.begin());
        ++givenUp_;
    }
    *seq = nextSeq_++;
    OutboxMessage m{topic, payload};
    const std::string record = MessageRecord(*seq, m);
    waiting_[*seq] = std::move(m);
    const int err = fd_ < 0 ? EBADF : fsys::WriteAll(fd_, record);
    size_ += record.size();
    if (err != 0) {
        // Still sent: only a restart before the broker's answer would lose it.
        *error = "cannot write the MQTT outbox " + path_ + ": " + Why(err);
        return false;
    }
    return true;
}

bool Outbox::Flush(std::string* error) {
    const int err = fd_ < 0 ? EBADF : fsys::Flush(fd_);
    if (err != 0) {
        *error = "cannot write the MQTT outbox " + path_ + ": " + Why(err);
        return false;
    }
    return true;
}

void Outbox::Acknowledge(std::uint64_t seq) {
    if (waiting_.erase(seq) == 0) return;
    if (waiting_.empty() && size_ > 64 * 1024) {
        // Nothing waits: the journal can start again from nothing.
        if (fsys::Truncate(fd_, 0) == 0) size_ = 0;
        return;
    }
    if (size_ > rewriteAt_) {
        std::string ignored;
        Rewrite(&ignored);
        return;
    }
    const std::string record = "A " + std::to_string(seq) + "\n";
    if (fd_ >= 0 && fsys::WriteAll(fd_, record) == 0) size_ += record.size();
}

}  // namespace doors
