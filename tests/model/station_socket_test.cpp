// The station cycle of one socket on virtual time, with modsim's module
// engine in the socket: what is passed, failed or retried, and its rows.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "one_socket_line.h"

namespace {

using testing_support::FakeSerialPort;
using testing_support::VirtualClock;

modsim::EngineOptions Module(const std::string& serial = "012345") {
    modsim::EngineOptions o;
    o.serial = serial;
    return o;
}

struct Bench : station::StationObserver, testing_support::OneSocketLine {
    explicit Bench(int count = 0) : OneSocketLine(*this, Config("bench"), count) {}

    int Count(const std::string& command) const {
        int n = 0;
        for (const auto& c : commands) n += c == command ? 1 : 0;
        return n;
    }

    bool AcceptPlan(const station::Socket&, const module::Kind&) override { return !refusePlan; }
    void OnAttempt(const station::Socket&, const record::Attempt& a, bool logged,
                   const std::string&) override {
        EXPECT_EQ(logged, !unloggable) << record::ToText(a.result);
        attempts.push_back(a);
    }
    void OnStationEnded(const station::Station&) override { ended = true; }

    std::vector<record::Attempt> attempts;
    bool ended = false;
    bool unloggable = false;  // the disk fills up before the row is kept
    bool refusePlan = false;  // the plan is no good for the kind that answers
};

TEST(StationSocket, PassesOnlyWhatItVerifiedAndRetriesWhatIsPutBack) {
    struct Case {
        const char* name;
        std::function<void(Bench&)> arrange;
        // result:failedStep per attempt, in order
        std::vector<std::string> expected;
        int writes;  // "/W 00" commands sent
        std::function<void(const Bench&)> check = nullptr;
    };
    const Case cases[] = {
        {"a verified module passes", [](Bench& b) { b.Put(Module()); }, {"pass:"}, 1},
        {"swapped after the write: the serial after the check tells",
         [](Bench& b) {
             b.Put(Module());
             // Another module answers the identity read after the check.
             b.onCommand = [&b](const std::string& c) {
                 if (c == "\x80" && b.Count("\x80") == 3) b.Put(Module("012346"));
             };
         },
         {"fail:serial", "pass:"},
         2},
        {"swapped before the write: nothing is stored",
         [](Bench& b) {
             b.Put(Module());
             b.onCommand = [&b](const std::string& c) {
                 if (c == "/D\r" && b.Count("/D\r") == 2) b.Put(Module("012346"));
             };
         },
         // ... and the module that took its place gets an attempt of its own.
         {"fail:serial", "pass:"},
         1},
        {"a serial that is no number fails once, not once a poll",
         [](Bench& b) {
             modsim::EngineOptions o = Module();
             o.replies = {{"/D", "*D ZZ 2026/11/30"}};
             b.Put(o);
         },
         {"fail:identity"},
         0,
         // ... and no serial is recorded or shown for it.
         [](const Bench& b) {
             EXPECT_EQ(b.attempts[0].serial, "");
             EXPECT_EQ(b.socket->Serial(), "");
         }},
        {"a module of the other kind fails once, also as it is taken out",
         [](Bench& b) {
             modsim::EngineOptions tx = Module();
             tx.kind = modsim::ModuleKind::Transmitter;
             b.Put(tx);
             b.onCommand = [&b](const std::string& c) {
                 // Taken out between its version reply and its identity.
                 if (c == "/D\r" && !b.attempts.empty()) b.inSocket.reset();
             };
         },
         {"fail:identity"},
         0,
         [](const Bench& b) { EXPECT_EQ(b.attempts[0].serial, "00074565"); }},
        {"a module of a kind the plan refuses fails with the reason; its socket goes on",
         [](Bench& b) {
             b.refusePlan = true;
             b.Put(Module());
             b.onCommand = [&b, polls = 0](const std::string& c) mutable {
                 if (c != "\x80" || b.attempts.empty()) return;
                 if (++polls == 1) b.inSocket.reset();
                 if (polls == 2) b.Put(Module("012346"));
             };
         },
         {"fail:plan", "fail:plan"},
         0,
         [](const Bench& b) {
             EXPECT_FALSE(b.ended);
             EXPECT_EQ(b.attempts[1].serial, "00074566");
         }},
        {"a failed module put back is written again",
         [](Bench& b) {
             modsim::EngineOptions bad = Module();
             bad.dropPrefixes = {"/R 02"};
             b.Put(bad);
             // Taken out after its failure for one poll, then put back.
             b.onCommand = [&b, polls = 0](const std::string& c) mutable {
                 if (c != "\x80" || b.attempts.empty()) return;
                 if (++polls == 1) b.inSocket.reset();
                 if (polls == 2) b.Put(Module());
             };
         },
         {"fail:check", "pass:"},
         2},
    };
    for (const Case& c : cases) {
        Bench b;
        c.arrange(b);
        b.Start();
        b.RunUntil([&] { return b.attempts.size() >= c.expected.size(); });
        b.RunUntil([] { return false; }, 5000);  // nothing more happens
        std::vector<std::string> got;
        for (const auto& a : b.attempts)
            got.push_back(std::string(record::ToText(a.result)) + ":" +
                          record::ToText(a.failedStep));
        EXPECT_EQ(got, c.expected) << c.name;
        EXPECT_EQ(b.Count("/W 00\r"), c.writes) << c.name;
        if (c.check && got.size() == c.expected.size()) c.check(b);
        if (got != c.expected) {
            std::string all;
            for (const auto& cmd : b.commands) all += cmd == "\x80" ? "<80>" : cmd;
            ADD_FAILURE() << all;
        }
    }
}

TEST(StationSocket, AStationThatDidNotDoWhatItWasAskedDoesNotEndWithZero) {
    {
        // --count 3, stopped after one module.
        Bench b(3);
        b.Put(Module());
        b.Start();
        ASSERT_TRUE(b.RunUntil([&] { return !b.attempts.empty(); }));
        b.line.RequestStop();
        EXPECT_EQ(b.attempts[0].result, record::Result::Pass);
        EXPECT_EQ(b.line.ExitStatus(), 1);
    }
    {
        // Every module it met had passed before.
        Bench first;
        first.Put(Module());
        first.Start();
        ASSERT_TRUE(first.RunUntil([&] { return !first.attempts.empty(); }));
        first.line.RequestStop();
        EXPECT_EQ(first.line.ExitStatus(), 0);
        Bench again;
        testing_support::WriteFile(again.folder + "/log.csv",
                                   testing_support::ReadFile(first.folder + "/log.csv"));
        again.Put(Module());
        again.Start();
        ASSERT_TRUE(again.RunUntil([&] { return !again.attempts.empty(); }));
        again.line.RequestStop();
        EXPECT_EQ(again.attempts[0].result, record::Result::Skipped);
        EXPECT_EQ(again.line.ExitStatus(), 1);
    }
}

TEST(StationSocket, AModuleWhoseRowCannotBeKeptIsNoPassAndEndsTheStation) {
    Bench b;
    b.Put(Module());
    b.unloggable = true;
    std::unique_ptr<testing_support::DiskFull> full;
    b.onCommand = [&](const std::string& c) {
        if (c == "/W 00\r" && !full) full = std::make_unique<testing_support::DiskFull>();
    };
    b.Start();
    ASSERT_TRUE(b.RunUntil([&] { return b.ended; }));
    full.reset();
    ASSERT_EQ(b.attempts.size(), 1u);
    EXPECT_EQ(b.line.Total().passed, 0);
    EXPECT_EQ(b.line.Total().notRecorded, 1);
    EXPECT_EQ(b.socket->CurrentPhase(), station::Phase::NotRecorded);
    EXPECT_EQ(b.line.RecordError().rfind("record: cannot write " + b.folder, 0), 0u)
        << b.line.RecordError();
    EXPECT_EQ(b.line.ExitStatus(), 2);
}

TEST(StationSocket, AModuleIsRecordingUntilTheRecordHasKeptItsRow) {
    Bench b;
    b.Put(Module());
    b.Start();
    // The record is slow to answer from the moment the write has begun.
    ASSERT_TRUE(b.RunUntil([&] { return b.Count("/W 00\r") > 0; }));
    b.holdRecord = true;
    ASSERT_TRUE(b.RunUntil([&] { return b.socket->PhaseText() == "recording"; }));
    const std::size_t sent = b.commands.size();
    b.RunUntil([] { return false; }, 30000);
    EXPECT_TRUE(b.attempts.empty());
    EXPECT_EQ(b.socket->PhaseText(), "recording");
    EXPECT_EQ(b.commands.size(), sent);  // no poll while the result is not kept
    b.Answer();
    ASSERT_EQ(b.attempts.size(), 1u);
    EXPECT_EQ(b.attempts[0].result, record::Result::Pass);
    EXPECT_EQ(b.socket->PhaseText(), "PASS");
}

TEST(StationSocket, AStopOrAVanishedAdapterEndsTheAttemptWithAWholeRow) {
    {
        Bench b;
        b.Put(Module());
        b.Start();
        ASSERT_TRUE(b.RunUntil([&] { return b.Count("/W 01\r") > 0; }));
        b.line.RequestStop();
        b.Answer();  // the record keeps the interrupted row
        ASSERT_EQ(b.attempts.size(), 1u);
        EXPECT_EQ(b.attempts[0].result, record::Result::Interrupted);
        EXPECT_TRUE(b.ended);
        const std::size_t sent = b.commands.size();
        b.RunUntil([] { return false; }, 3000);
        EXPECT_EQ(b.commands.size(), sent);  // nothing more goes out
    }
    {
        // The adapter goes mid-write and comes back: the socket waits, then
        // gives the module a new attempt of its own.
        Bench b;
        b.Put(Module());
        b.onCommand = [&b](const std::string& c) {
            if (c == "/W 01\r" && b.attempts.empty()) b.port.Lose("device gone", false);
        };
        b.Start();
        ASSERT_TRUE(b.RunUntil([&] { return !b.attempts.empty(); }));
        EXPECT_EQ(b.attempts[0].failedStep, record::Step::Port);
        EXPECT_EQ(b.socket->PhaseText(), "adapter missing");
        b.RunUntil([] { return false; }, 1500);
        EXPECT_EQ(b.socket->CurrentPhase(), station::Phase::AdapterMissing);
        b.port.lost = b.port.failWrite = b.port.failRts = false;
        ASSERT_TRUE(b.RunUntil([&] { return b.attempts.size() >= 2; }));
        EXPECT_EQ(b.attempts[1].result, record::Result::Pass);
        EXPECT_NE(b.attempts[1].attemptId, b.attempts[0].attemptId);
    }
}

}  // namespace

namespace {

// Several sockets on one station, each with its own port, clock and module.
struct Line : station::StationObserver {
    struct Place {
        FakeSerialPort port;
        VirtualClock clock;
        std::unique_ptr<modsim::ModuleEngine> module;
        int next = 0;       // modules put in so far
        long emptyAt = -1;  // when the last one was taken out
    };
    Line(int sockets, int count)
        : record(testing_support::CsvLogIn(folder), nullptr, record::RecordWorker::Mode::Inline),
          line(record, *this, count) {
        for (int i = 0; i < sockets; ++i) places.push_back(std::make_unique<Place>());
        for (std::size_t i = 0; i < places.size(); ++i) {
            Place& p = *places[i];
            station::SocketConfig config;
            config.port = "COM" + std::to_string(i + 1);
            config.station = "line";
            config.fixedKind = &module::Receiver();
            config.plan.assign(std::begin(channel::kDefaultFrequencies), std::end(channel::kDefaultFrequencies));
            station::Socket& s = line.AddSocket(config, p.port, p.clock);
            p.clock.SetTickHandler([this, &p, &s](module::TimerId id) {
                p.port.DeliverReplies();
                s.OnTimer(id);
                Answer();
            });
            p.port.SetReceiveHandler([&s](wire::CommEvent e) { s.OnPortEvent(e); });
            p.port.responder = [&p](const std::string& bytes) {
                return p.module ? p.module->Receive(bytes) : std::string();
            };
            p.port.Open();
        }
    }
    ~Line() override { testing_support::RemoveFolder(folder); }
    void Answer() {
        do {
            record.RunQueued();
            record.Deliver();
        } while (record.State().waiting > 0);
    }
    // A fixture per socket: a module is taken out once it has its result,
    // and the next one put in 1.5 s later; the first one of socket n comes
    // n * 1.3 s after the start, so the sockets work out of phase.
    void Advance(long ms) {
        for (std::size_t i = 0; i < places.size(); ++i) {
            Place& p = *places[i];
            const station::Phase phase = line.Sockets()[i]->CurrentPhase();
            if (p.module && (phase == station::Phase::Passed || phase == station::Phase::Failed)) {
                p.module.reset();
                p.emptyAt = now;
            }
            const long due = p.next == 0 ? 1300 * static_cast<long>(i) : p.emptyAt + 1500;
            if (!p.module && p.emptyAt >= -1 && now >= due && (p.next == 0 || p.emptyAt >= 0)) {
                modsim::EngineOptions o;
                char serial[8];
                std::snprintf(serial, sizeof serial, "%02X%04X", static_cast<int>(i + 1), p.next++);
                o.serial = serial;
                p.module = std::make_unique<modsim::ModuleEngine>(o);
                p.emptyAt = -2;  // in the socket
            }
            p.clock.Advance(ms);
        }
        now += ms;
    }

    bool AcceptPlan(const station::Socket&, const module::Kind&) override { return true; }
    void OnAttempt(const station::Socket&, const record::Attempt& a, bool,
                   const std::string&) override {
        attempts.push_back(a);
    }
    void OnStationEnded(const station::Station&) override { ended = true; }

    std::string folder = testing_support::MakeTempFolder();
    record::RecordWorker record;
    station::Station line;
    std::vector<std::unique_ptr<Place>> places;
    std::vector<record::Attempt> attempts;
    long now = 0;
    bool ended = false;
};

}  // namespace

// --count N with sockets out of phase: once N are written or being written
// no new module is begun, and none being written is cut off.
TEST(StationSocket, ACountIsReachedWithoutInterruptingAnyWrite) {
    Line l(3, 4);
    l.record.Start([](const std::string&) {});
    l.Answer();
    l.line.Start();
    for (long t = 0; t < 120000 && !l.ended; t += 10) l.Advance(10);
    ASSERT_TRUE(l.ended);
    EXPECT_EQ(l.line.Total().written, 4);
    EXPECT_EQ(l.line.Total().passed, 4);
    for (const record::Attempt& a : l.attempts) {
        EXPECT_EQ(a.result, record::Result::Pass) << a.serial << " " << a.message;
    }
    EXPECT_EQ(l.line.ExitStatus(), 0);
}
