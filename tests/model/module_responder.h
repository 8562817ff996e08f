// A radio module behind the fake port that answers like the real one, and
// the few steps every sequence test takes to reach a module it can talk to.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fakes.h"
#include "module_engine.h"
#include "recv_profile.h"
#include "send_profile.h"

namespace module_test {

using testing_support::Buttons;
using testing_support::Harness;
using window::Colour;
using window::TimerId;

using Column = std::vector<std::string>;  // one channel's register values
using Columns = std::array<Column, 4>;    // index = channel

// The register values of the default plan (434.700, 434.600, 433.920 and
// 434.075 MHz for channels 0 to 3), as each module kind expects them.
inline const Columns& DefaultColumns(char kind) {
    static const Columns receiver = {
        Column{"A4", "06", "02", "01", "10"},
        Column{"A4", "06", "02", "01", "08"},
        Column{"4D", "08", "42", "01", "06"},
        Column{"A4", "06", "01", "01", "5E"},
    };
    static const Columns transmitter = {
        Column{"21", "E0", "07", "0E", "1C", "0B", "74", "70", "40", "FF", "0C", "41"},
        Column{"21", "DC", "C8", "0D", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
        Column{"21", "5B", "1C", "0C", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
        Column{"21", "07", "7E", "0C", "1C", "0B", "74", "70", "40", "FF", "0B", "41"},
    };
    return kind == 'R' ? receiver : transmitter;
}

inline std::string Join(const Column& values) {
    std::string out;
    for (const std::string& v : values) out += (out.empty() ? "" : ",") + v;
    return out;
}

inline Column Split(const std::string& text) {
    Column out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

// The command that hands a channel's values to the module.
inline std::string TestCommand(const Column& values) {
    return "/T " + Join(values) + "\r";
}

// The module's echo of "/T": the transmitter puts one blank more before the
// values.
inline std::string EchoLine(char kind, const Column& values) {
    return (kind == 'R' ? "*T " : "*T  ") + Join(values) + "\r";
}

// The firmware version each module kind reports.
inline std::string VersionText(char kind) {
    return kind == 'R' ? "R1.05" : "T2.10";
}

// The simulator's module behind the fake port: modsim's own protocol code,
// with a few hooks a test needs. Each write reaches it as the window wrote
// it; its answer arrives before the next tick.
class FakeModule {
  public:
    explicit FakeModule(char moduleKind)
        : kind(moduleKind), stored(DefaultColumns(moduleKind)), engine_(Options(moduleKind)) {
        versionReply = engine_.Receive("/V\r");
        identityReply = engine_.Receive("/D\r");
        Push();
    }

    // Connects the module to the harness's port.
    void Attach(Harness& h) {
        h.SetResponder([this](const std::string& written) { return Answer(written); });
    }

    // The reply to one written command; empty for none.
    std::string Answer(const std::string& written) {
        commands.push_back(written);
        if (silent) return "";
        std::string command = written;
        if (!command.empty() && command.back() == '\r') command.pop_back();
        Push();
        // The command takes effect even when a test replaces its answer.
        std::string reply = engine_.Receive(written);
        Pull();
        if (const auto it = overrides.find(command); it != overrides.end()) reply = it->second;
        return reply;
    }

    const char kind;
    std::string versionReply;
    std::string identityReply;
    Columns stored;  // what the flash holds, channel 0 to 3
    // Replies that replace the normal answer, by command without its CR; an
    // empty reply is no reply. The lead-in byte is the key "\x80".
    std::map<std::string, std::string> overrides;
    bool silent = false;
    std::vector<std::string> commands;  // every write, in order

  private:
    static modsim::EngineOptions Options(char kind) {
        modsim::EngineOptions o;
        o.kind = kind == 'R' ? modsim::ModuleKind::Receiver : modsim::ModuleKind::Transmitter;
        return o;
    }
    // A test may change `stored` between commands.
    void Push() {
        std::string text;
        for (const Column& c : stored) text += Join(c) + "\n";
        if (kind == 'T') text += engine_.CommonParameters() + "\n";
        engine_.LoadStoreText(text);
    }
    void Pull() {
        for (int c = 0; c < 4; ++c) stored[static_cast<std::size_t>(c)] = engine_.Channel(c);
    }
    modsim::ModuleEngine engine_;
};

// --- The window seen by a test ------------------------------------------

inline const window::ToolProfile& ToolProfile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

inline char OwnKind(const std::string& tool) {
    return tool == "recvsetup" ? 'R' : 'T';
}

inline char OtherKind(const std::string& tool) {
    return tool == "recvsetup" ? 'T' : 'R';
}

// Backgrounds of four per-channel controls, channel 0 first.
inline std::string Colours(const std::array<window::Control, 4>& boxes) {
    std::string s;
    for (const auto& b : boxes) s += testing_support::ColourName(b.back)[0];
    return s;
}

// Moves virtual time to the next tick of the timer and runs it, with every
// tick of the other timers on the way; returns what was written since the
// last look at the port.
inline std::string TickOf(Harness& h, TimerId id) {
    if (!h.clock.Running(id)) {
        ADD_FAILURE() << "timer not running";
        return "<no tick>";
    }
    h.Advance(h.clock.DueIn(id));
    return h.port.TakeWritten();
}

// Start-up, the port open, and one refresh so the grid holds the values.
inline void Prepare(Harness& h) {
    h.StartUp();
    h.OpenPort();
    h.Advance(50);
}

// A complete target-information read, leaving the window ready for channel
// commands, and the port's record of writes empty.
inline void ReadIdentity(Harness& h) {
    h.model.OnGetInfoSWClick();
    for (int tick = 0; tick < 4; ++tick) TickOf(h, TimerId::GetInfoTimer);
    EXPECT_EQ(Buttons(h.model), "TTTTGCW");
    h.port.TakeWritten();
}

// A tool whose port is open and whose module's identity has been read.
struct ReadyTool {
    explicit ReadyTool(const std::string& tool) : h(ToolProfile(tool)), module(OwnKind(tool)) {
        module.Attach(h);
        Prepare(h);
        ReadIdentity(h);
    }
    Harness h;
    FakeModule module;
};

inline std::string LogFile(const Harness& h) {
    return h.platform.folder + "/" + h.model.Profile().programName + ".log";
}

inline bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

}  // namespace module_test
