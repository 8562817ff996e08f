#pragma once

// MQTT messages that the broker has not acknowledged yet, kept in a file so
// that neither a broken connection nor a restart of the station loses one.
// The file is a journal: a message is appended (and put on the disk) before
// it is sent, its acknowledgement appended when the broker gives it; on
// opening, the messages without one are sent again. A message may so reach
// the broker twice, never not at all.
//
// Each record: "M <seq> <topic bytes> <payload bytes>\n<topic><payload>\n"
// or "A <seq>\n". A record cut short by a crash is dropped on opening.

#include <cstdint>
#include <map>
#include <string>

namespace doors {

struct OutboxMessage {
    std::string topic;
    std::string payload;
};

class Outbox {
  public:
    // Beyond this many waiting messages the oldest is given up, so a broker
    // gone for weeks cannot fill the disk.
    static constexpr std::size_t kMostWaiting = 100000;

    ~Outbox();
    // Creates the file (and its folder) when missing.
    bool Open(const std::string& path, std::string* error);
    // Appends; *seq names it for Acknowledge. Flush() puts it on the disk,
    // which the caller may do after sending it, so the disk's time does not
    // delay the message.
    bool Add(const std::string& topic, const std::string& payload, std::uint64_t* seq,
             std::string* error);
    bool Flush(std::string* error);
    void Acknowledge(std::uint64_t seq);
    // Oldest first.
    const std::map<std::uint64_t, OutboxMessage>& Waiting() const { return waiting_; }
    std::uint64_t GivenUp() const { return givenUp_; }

  private:
    bool Load(std::string* error);
    bool Rewrite(std::string* error);

    std::string path_;
    int fd_ = -1;
    std::map<std::uint64_t, OutboxMessage> waiting_;
    std::uint64_t nextSeq_ = 1;
    unsigned long long size_ = 0;  // of the file
    unsigned long long rewriteAt_ = 0;
    std::uint64_t givenUp_ = 0;
};

}  // namespace doors
