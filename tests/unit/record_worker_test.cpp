// The record's thread: a record that hangs holds up nobody who does not
// need its answer, a locked record is asked again, and a program can end
// while its record still hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "record_worker.h"

namespace {

// A record whose every call waits until the test lets it go on, and that
// can say "locked by another program" a number of times first.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> lockedFor{0};
    std::atomic<bool> gone{false};
    std::condition_variable closed;
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex);
        opened.wait(lock, [this] { return open; });
    }
};

class GatedSink : public record::Sink {
  public:
    explicit GatedSink(Gate& gate) : gate_(gate) {}
    ~GatedSink() override {
        std::lock_guard<std::mutex> lock(gate_.mutex);
        gate_.gone = true;
        gate_.closed.notify_all();
    }
    record::BeginResult Begin(const record::Attempt&) override {
        gate_.Wait();
        record::BeginResult b;
        b.ok = !Locked();
        return b;
    }
    bool Finish(const record::Attempt&, std::string* error) override {
        gate_.Wait();
        if (Locked()) {
            *error = "database is locked";
            return false;
        }
        return true;
    }
    std::optional<record::PriorPass> PassedBefore(const std::string&, const std::string&,
                                                  const std::vector<std::string>&) override {
        return std::nullopt;
    }
    bool Retryable() const override { return retryable_; }
    std::string Describe() const override { return "gated"; }

  private:
    bool Locked() {
        retryable_ = gate_.lockedFor > 0;
        if (retryable_) --gate_.lockedFor;
        return retryable_;
    }
    Gate& gate_;
    bool retryable_ = false;
};

struct Wakes {
    std::mutex mutex;
    std::condition_variable came;
    int count = 0;
    void Wake() {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        came.notify_all();
    }
};

TEST(RecordWorker, AHangingRecordBlocksNoCallerAndALockedOneIsAskedAgain) {
    Gate gate;
    Wakes wakes;
    record::RecordWorker worker(
        [&gate](std::string*) -> std::unique_ptr<record::Sink> {
            return std::make_unique<GatedSink>(gate);
        },
        [&wakes] { wakes.Wake(); });
    worker.Start([](const std::string& error) { EXPECT_EQ(error, ""); });
    ASSERT_TRUE(worker.Drain(5000));

    // Asked while the record hangs: the call returns at once, and no
    // answer comes until the record moves.
    gate.lockedFor = 2;  // then "locked" twice: the worker asks again
    std::string result;
    record::Attempt a;
    a.attemptId = "a1";
    worker.Open(a, false, [&result](const record::OpenAnswer& answer) {
        result = answer.outcome == record::OpenAnswer::Outcome::Go ? "go" : answer.error;
    });
    worker.Close(a, [&result](const record::CloseAnswer& answer) {
        result += answer.kept ? "+kept" : "+" + answer.error;
    });
    worker.Deliver();
    EXPECT_EQ(result, "");
    EXPECT_EQ(worker.State().waiting, 2);
    gate.Open();
    ASSERT_TRUE(worker.Drain(5000));
    EXPECT_EQ(result, "go+kept");
    EXPECT_EQ(worker.State().errors, 0);
}

TEST(RecordWorker, AProgramEndsWhileItsRecordStillHangs) {
    Gate gate;
    {
        record::RecordWorker worker(
            [&gate](std::string*) -> std::unique_ptr<record::Sink> {
                return std::make_unique<GatedSink>(gate);
            },
            nullptr);
        worker.Start([](const std::string&) {});
        record::Attempt a;
        worker.Close(a, [](const record::CloseAnswer&) {});
        EXPECT_FALSE(worker.Drain(50));
        // The destructor returns: the hanging call finishes on its own.
    }
    EXPECT_FALSE(gate.gone);
    gate.Open();
    std::unique_lock<std::mutex> lock(gate.mutex);
    // ... and the record is closed after it.
    EXPECT_TRUE(gate.closed.wait_for(lock, std::chrono::seconds(10), [&] { return gate.gone.load(); }));
}

}  // namespace
