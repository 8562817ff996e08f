#pragma once

// A station without modules for the doors' tests and benchmark: sockets
// that go through the tiles' states on a thread of their own, tick by tick
// like the engines, feed a hub as the real station will, and obey its
// commands. Every write is timed, so a benchmark sees whether the doors
// moved the station's ticks.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hub.h"

struct FakeStationOptions {
    std::string station = "L1";
    int sockets = 4;
    int tickMs = 10;
    int writeTicks = 13;        // 13 ticks of 208 ms: the 2704 ms write
    int attemptsPerSocket = 0;  // 0: until stopped
    // The result of a socket's k-th attempt (k from 0): "pass" or "fail".
    std::function<std::string(int socket, int attempt)> result;
    bool trigger = false;       // each socket waits for "start socket N"
    bool startInSetup = false;  // modstation: waits for "start"
    std::string startRefusal;   // the Start button's reason, when it has one
};

class FakeStation {
  public:
    FakeStation(doors::Hub& hub, FakeStationOptions options);
    ~FakeStation();

    // Publishes the first snapshot at once, so doors may open before Start().
    void Start();
    void Stop();
    // Every socket made its attempts (attemptsPerSocket > 0).
    bool WaitDone(int timeoutMs);

    std::vector<record::Attempt> Finished() const;
    std::vector<double> WriteMs() const;
    // When each attempt's end was pushed, monotonic ns, by attempt id.
    std::map<std::string, long long> FinishedAtNs() const;
    doors::StationState State() const;
    std::vector<std::string> Notices() const;

  private:
    struct Socket;

    void Run();
    // True when a socket's state changed.
    bool Tick(long long nowNs);
    void Obey(const doors::Command& command);
    doors::Snapshot MakeSnapshot() const;
    bool AllDone() const;

    doors::Hub& hub_;
    FakeStationOptions o_;
    std::vector<Socket> sockets_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;  // with mutex_: all attempts made
    // The hub wakes the station while it holds its own lock, and the
    // station calls the hub while it holds mutex_: the wake must take
    // another lock, held for nothing else, or the two threads deadlock.
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool woken_ = false;
    bool quit_ = false;
    std::thread thread_;
    doors::StationState state_ = doors::StationState::Production;
    doors::CountsView counts_;
    std::vector<record::Attempt> finished_;
    std::vector<double> writeMs_;
    std::map<std::string, long long> finishedAtNs_;
    std::vector<std::string> notices_;
};
