#pragma once

// The MES door: each attempt's start and end to an MQTT broker with QoS 1,
// and the station's state as a retained message whose last will is
// "offline". It runs on a thread of its own with libmosquitto driven by a
// poll loop, so neither a slow broker, a name lookup nor a slow disk holds
// up the HTTP and Modbus doors, let alone the station.
//
// Every message goes through the outbox on disk and stays there until the
// broker acknowledges it. Whatever goes wrong with a connection, the client
// is made anew and everything still waiting is sent again: at least once,
// and the attempt id tells a repeat.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "door_options.h"
#include "hub.h"
#include "outbox.h"

struct mosquitto;

namespace doors {

struct MqttSettings {
    MqttTarget target;
    std::string caFile;    // mqtts: the broker's CA; empty: the system's
    std::string password;  // with target.user
    std::string outbox;    // the outbox file
    std::string station;   // for the status topic and the client id
};

class MqttDoor {
  public:
    MqttDoor(Hub& hub, MqttSettings settings);
    ~MqttDoor();
    MqttDoor(const MqttDoor&) = delete;
    MqttDoor& operator=(const MqttDoor&) = delete;

    // Opens the outbox, starts the thread and waits up to waitMs for the
    // broker's first answer. A broker that refuses the credentials (or
    // whose certificate is not trusted) is an error; one that cannot be
    // reached is an outage: true, with a notice to the station.
    bool Start(std::string* error, int waitMs = 3000);

    // For the tests and the benchmark.
    std::size_t Waiting() const { return waiting_.load(); }
    bool Connected() const { return connectedFlag_.load(); }

  private:
    enum class First { Waiting, Connected, Refused, Unreachable };

    void Run();
    bool Build();
    void Drop(const std::string& why);
    void TryConnect();
    void TakeFromHub();
    void Add(const std::string& topic, const std::string& payload);
    void HandOut();
    void PublishStatus();
    void Settle(First first, const std::string& why);
    void Notice(const std::string& text);

    static void OnConnect(mosquitto* m, void* self, int rc);
    static void OnPublish(mosquitto* m, void* self, int mid);

    Hub& hub_;
    MqttSettings s_;
    Outbox outbox_;
    mosquitto* m_ = nullptr;
    int wakeFd_ = -1;
    std::unique_ptr<Hub::Client> client_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> waiting_{0};
    std::atomic<bool> connectedFlag_{false};

    bool connected_ = false;
    long long connectStartedMs_ = 0;
    long long nextTryMs_ = 0;
    int backoffMs_ = 500;
    std::map<int, std::uint64_t> inFlight_;  // mid -> outbox seq
    std::uint64_t handedUpTo_ = 0;           // highest seq handed on this connection
    std::string statusSent_;
    std::string lastProblem_;  // told once until it changes

    std::mutex firstMutex_;
    std::condition_variable firstCv_;
    First first_ = First::Waiting;
    std::string firstWhy_;
};

}  // namespace doors
