// The doors' link to a running station on virtual time: one socket with
// modsim's module engine behind the fake port, the hub a door would read,
// and commands carried out only once the station's thread runs what the
// hub's wake posted.
#include "station_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "one_socket_line.h"

namespace {

using doors::CommandKind;
using doors::EventKind;
using doors::StationState;

modsim::EngineOptions Module() {
    modsim::EngineOptions o;
    o.serial = "012345";
    return o;
}

struct Bench : station::StationObserver, testing_support::OneSocketLine {
    explicit Bench(bool trigger)
        : OneSocketLine(*this, Config(trigger)), link(hub, {"L1", "id-1", "1.5.2"}, Hooks()) {
        link.Attach(line, record);
    }
    static station::SocketConfig Config(bool trigger) {
        station::SocketConfig config = OneSocketLine::Config("L1");
        config.device = "/dev/ttyUSB0";
        config.trigger = trigger;
        return config;
    }

    doors::LinkHooks Hooks() {
        doors::LinkHooks h;
        // The station's event loop: what is posted runs when the test says.
        h.post = [this](std::function<void()> fn) { posted.push_back(std::move(fn)); };
        h.notice = [this](const std::string& text) { notices.push_back(text); };
        return h;
    }
    void Start() {
        OneSocketLine::Start();
        link.Started();
    }
    bool RunUntil(const std::function<bool()>& done, long limitMs = 30000) {
        return OneSocketLine::RunUntil(done, limitMs, [this] {
            Answer();
            Take();
        });
    }
    // What a door has been given so far.
    void Take() {
        doors::Delivery d = door.Take();
        for (auto& e : d.events) events.push_back(std::move(e));
        for (auto& r : d.replies) replies.push_back(std::move(r));
    }
    // A door's command, carried out once the station's loop runs its post.
    doors::Reply Ask(CommandKind kind, int number = 0) {
        doors::Command c;
        c.kind = kind;
        c.socket = number;
        c.origin = "http 127.0.0.1";
        const std::uint64_t id = door.Send(c);
        EXPECT_EQ(posted.size(), 1u) << "the wake posts, once";
        const StationState before = hub.Current()->state;
        std::vector<std::function<void()>> run = std::move(posted);
        posted.clear();
        EXPECT_EQ(hub.Current()->state, before) << "nothing ran on the door's thread";
        for (auto& fn : run) fn();
        Take();
        for (const auto& [answered, reply] : replies) {
            if (answered == id) return reply;
        }
        ADD_FAILURE() << "no answer";
        return doors::Reply::Refused("no answer");
    }
    const doors::SocketView& View() const { return hub.Current()->sockets.at(0); }

    bool AcceptPlan(const station::Socket&, const module::Kind&) override { return true; }
    void OnAttemptBegun(const station::Socket& s, const record::Attempt& a) override {
        link.OnAttemptBegun(s, a);
    }
    void OnAttempt(const station::Socket& s, const record::Attempt& a, bool logged,
                   const std::string& error) override {
        attempts.push_back(a);
        link.OnAttempt(s, a, logged, error);
    }
    void OnPhase(const station::Socket& s) override { link.OnPhase(s); }
    void OnStationEnded(const station::Station& l) override {
        ended = true;
        link.OnStationEnded(l);
    }

    doors::Hub hub;
    std::vector<std::function<void()>> posted;
    std::vector<std::string> notices;
    doors::StationLink link;
    doors::Hub::Client door{hub, 10000, [] {}};
    std::vector<record::Attempt> attempts;
    std::vector<doors::Event> events;
    std::vector<std::pair<std::uint64_t, doors::Reply>> replies;
    bool ended = false;
};

TEST(StationLink, SnapshotsFollowTheStationAndEventsCarryEachAttempt) {
    struct Case {
        const char* name;
        bool diskFull;  // the row cannot be kept
        const char* result;
        const char* state;  // the tile's word at the end
    };
    const Case cases[] = {
        {"a verified module", false, "pass", "PASS"},
        // The line's systems must not hear "pass" for a module the record lost.
        {"a module whose row is lost", true, "not-recorded", "NOT RECORDED"},
    };
    for (const Case& c : cases) {
        Bench b(false);
        EXPECT_EQ(b.hub.Current()->state, StationState::Setup) << c.name;
        EXPECT_EQ(b.hub.Current()->station, "L1");
        ASSERT_EQ(b.hub.Current()->sockets.size(), 1u);
        EXPECT_EQ(b.View().port, "COM1");
        std::unique_ptr<testing_support::DiskFull> full;
        if (c.diskFull) {
            b.onCommand = [&](const std::string& cmd) {
                if (cmd == "/W 00\r" && !full) full = std::make_unique<testing_support::DiskFull>();
            };
        }
        b.Start();
        EXPECT_EQ(b.hub.Current()->state, StationState::Production) << c.name;
        b.inSocket = std::make_unique<modsim::ModuleEngine>(Module());
        bool sawBusyWrite = false;
        ASSERT_TRUE(b.RunUntil([&] {
            const doors::SocketView& v = b.View();
            sawBusyWrite =
                sawBusyWrite || (v.flags.busy && v.flags.modulePresent &&
                                 v.state.rfind("writing Ch", 0) == 0 && v.serial == "00074565");
            return !b.attempts.empty();
        })) << c.name;
        full.reset();
        b.Take();
        EXPECT_TRUE(sawBusyWrite) << c.name;

        const record::Attempt& a = b.attempts.front();
        std::vector<doors::Event> attemptEvents;
        bool socketChanged = false;
        for (const doors::Event& e : b.events) {
            if (e.kind == EventKind::SocketChanged) socketChanged = true;
            if (e.kind != EventKind::SocketChanged) attemptEvents.push_back(e);
        }
        EXPECT_TRUE(socketChanged) << c.name;
        ASSERT_EQ(attemptEvents.size(), 2u) << c.name;
        const record::Attempt& begun = attemptEvents[0].attempt;
        const record::Attempt& done = attemptEvents[1].attempt;
        EXPECT_EQ(attemptEvents[0].kind, EventKind::AttemptBegun);
        EXPECT_EQ(begun.attemptId, a.attemptId);
        EXPECT_FALSE(begun.attemptId.empty());
        EXPECT_EQ(begun.serial, "00074565");
        EXPECT_EQ(begun.result, record::Result::Running);
        EXPECT_EQ(attemptEvents[1].kind, EventKind::AttemptFinished);
        EXPECT_LT(attemptEvents[0].seq, attemptEvents[1].seq);
        EXPECT_EQ(done.attemptId, a.attemptId);
        EXPECT_EQ(done.serial, "00074565");
        EXPECT_EQ(record::ToText(done.result), std::string(c.result)) << c.name;
        EXPECT_EQ(done.failedStep, a.failedStep);
        EXPECT_EQ(done.durationMs, a.durationMs);
        if (c.diskFull) {
            EXPECT_EQ(done.message.rfind("record: ", 0), 0u) << done.message;
        } else {
            EXPECT_EQ(done.message, "");
        }

        const doors::SocketView& v = b.View();
        EXPECT_EQ(v.state.rfind(c.state, 0), 0u) << v.state;
        EXPECT_FALSE(v.flags.busy);
        EXPECT_TRUE(v.flags.modulePresent);
        EXPECT_EQ(v.flags.passHeld, !c.diskFull);
        EXPECT_EQ(v.flags.notRecorded, c.diskFull);
        EXPECT_EQ(v.serial, "00074565");
        EXPECT_EQ(v.lastAttemptId, a.attemptId);
        EXPECT_EQ(b.hub.Current()->counts.passed, c.diskFull ? 0 : 1);
        EXPECT_EQ(b.hub.Current()->counts.notRecorded, c.diskFull ? 1 : 0);
        EXPECT_EQ(b.hub.Current()->plan.kind, "rx");
        if (c.diskFull) {
            // Nothing is taken while the record cannot keep rows.
            EXPECT_TRUE(b.ended);
            EXPECT_EQ(b.hub.Current()->state, StationState::Stopping);
            continue;
        }
        // Taken out: the held result goes, and the doors see it.
        b.inSocket.reset();
        EXPECT_TRUE(b.RunUntil([&] { return b.View().state == "empty"; }));
        EXPECT_FALSE(b.View().flags.modulePresent);
        b.line.RequestStop();
    }
}

TEST(StationLink, DoorsCommandsAreCarriedOutOnTheStationsThread) {
    struct Case {
        const char* name;
        bool trigger;
        std::function<void(Bench&)> run;
    };
    const Case cases[] = {
        {"pause holds a new module, resume writes it", false,
         [](Bench& b) {
             EXPECT_TRUE(b.Ask(CommandKind::Pause).ok);
             EXPECT_EQ(b.hub.Current()->state, StationState::Paused);
             EXPECT_TRUE(b.View().flags.paused);
             b.inSocket = std::make_unique<modsim::ModuleEngine>(Module());
             b.RunUntil([] { return false; }, 5000);
             EXPECT_TRUE(b.attempts.empty());
             EXPECT_EQ(b.View().state, "waiting (paused)");
             EXPECT_TRUE(b.Ask(CommandKind::Resume).ok);
             EXPECT_EQ(b.hub.Current()->state, StationState::Production);
             EXPECT_FALSE(b.View().flags.paused);
             ASSERT_TRUE(b.RunUntil([&] { return !b.attempts.empty(); }));
             EXPECT_EQ(b.attempts[0].result, record::Result::Pass);
             EXPECT_EQ(b.notices.at(0), "pause by http 127.0.0.1");
         }},
        {"stop ends the station as a signal does", false,
         [](Bench& b) {
             b.inSocket = std::make_unique<modsim::ModuleEngine>(Module());
             ASSERT_TRUE(b.RunUntil([&] {
                 if (b.View().state == "writing Ch1" && b.notices.empty()) {
                     EXPECT_TRUE(b.Ask(CommandKind::Stop).ok);
                 }
                 return b.ended;
             }));
             ASSERT_EQ(b.attempts.size(), 1u);
             EXPECT_EQ(b.attempts[0].result, record::Result::Interrupted);
             EXPECT_EQ(b.hub.Current()->state, StationState::Stopping);
             EXPECT_EQ(b.line.ExitStatus(), 1);
             // Once stopping, nothing else is taken.
             const doors::Reply r = b.Ask(CommandKind::Resume);
             EXPECT_FALSE(r.ok);
             EXPECT_EQ(r.error, "the station is stopping");
         }},
        {"without --trigger plc a socket's start is refused, and so is Start", false,
         [](Bench& b) {
             const doors::Reply r = b.Ask(CommandKind::StartSocket, 1);
             EXPECT_FALSE(r.ok);
             EXPECT_EQ(r.error,
                       "socket 1 starts by itself: the station runs without --trigger plc");
             const doors::Reply start = b.Ask(CommandKind::Start);
             EXPECT_FALSE(start.ok);
             EXPECT_NE(start.error.find("command line"), std::string::npos) << start.error;
             EXPECT_FALSE(b.View().flags.waitingForTrigger);
         }},
        {"with --trigger plc a module waits for its socket's start", true,
         [](Bench& b) {
             EXPECT_TRUE(b.View().flags.waitingForTrigger);
             b.inSocket = std::make_unique<modsim::ModuleEngine>(Module());
             b.RunUntil([] { return false; }, 5000);
             EXPECT_TRUE(b.attempts.empty());
             EXPECT_EQ(b.View().state, "waiting for start");
             EXPECT_TRUE(b.View().flags.modulePresent);
             const doors::Reply none = b.Ask(CommandKind::StartSocket, 2);
             EXPECT_FALSE(none.ok);
             EXPECT_EQ(none.error, "there is no socket 2 (the station has 1)");
             EXPECT_TRUE(b.Ask(CommandKind::StartSocket, 1).ok);
             EXPECT_FALSE(b.View().flags.waitingForTrigger);
             ASSERT_TRUE(b.RunUntil([&] { return !b.attempts.empty(); }));
             EXPECT_EQ(b.attempts[0].result, record::Result::Pass);
             // The start was used up: the next module waits for its own.
             EXPECT_TRUE(b.View().flags.waitingForTrigger);
             // A PLC's start is not worth a line in the log; a refused one is.
             EXPECT_EQ(b.notices, std::vector<std::string>{
                                      "start socket 2 by http 127.0.0.1 refused: there is no "
                                      "socket 2 (the station has 1)"});
         }},
        {"a start during an attempt does not arm the next module", true,
         [](Bench& b) {
             b.inSocket = std::make_unique<modsim::ModuleEngine>(Module());
             EXPECT_TRUE(b.Ask(CommandKind::StartSocket, 1).ok);
             bool asked = false;
             ASSERT_TRUE(b.RunUntil([&] {
                 if (!asked && b.View().state == "writing Ch1") {
                     asked = true;
                     const doors::Reply r = b.Ask(CommandKind::StartSocket, 1);
                     EXPECT_FALSE(r.ok);
                     EXPECT_EQ(r.error, "socket 1 is busy with a module");
                 }
                 return !b.attempts.empty();
             }));
             EXPECT_TRUE(asked);
             EXPECT_TRUE(b.View().flags.waitingForTrigger);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(c.trigger);
        b.Start();
        c.run(b);
        b.line.RequestStop();
    }
}

}  // namespace
