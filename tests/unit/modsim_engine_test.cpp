#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_engine.h"

namespace {

using modsim::EngineOptions;
using modsim::ModuleEngine;
using modsim::ModuleKind;

constexpr ModuleKind kRx = ModuleKind::Receiver;
constexpr ModuleKind kTx = ModuleKind::Transmitter;

const char kRxValues[] = "A4,06,02,01,10";
const char kTxValues[] = "11,22,33,44,55,66,77,88,99,AA,BB,CC";

EngineOptions Options(ModuleKind kind) {
    EngineOptions options;
    options.kind = kind;
    return options;
}

// Feeds each command with its CR, returns what came back for the last one.
std::string Exchange(ModuleEngine& engine, const std::vector<std::string>& commands) {
    std::string reply;
    for (const std::string& command : commands) reply = engine.Receive(command + "\r");
    return reply;
}

// 1-based position, as the tools count them.
std::string At(const std::string& reply, std::size_t first, std::size_t last) {
    return reply.substr(first - 1, last - first + 1);
}

TEST(ModsimEngine, RepliesByteForByte) {
    const std::string rxSet = std::string("/T ") + kRxValues;
    const std::string txSet = std::string("/T ") + kTxValues;
    struct Case {
        const char* name;
        ModuleKind kind;
        std::vector<std::string> commands;
        std::string reply;
    };
    const Case cases[] = {
        {"rx version", kRx, {"/V"}, "*V R1.05 RX-434 SIM\r"},
        {"tx version", kTx, {"/V"}, "*V T2.10 TX-434 SIM\r"},
        {"rx identity", kRx, {"/D"}, "*D 012345 2026/11/30\r"},
        {"tx identity", kTx, {"/D"}, "*D 012345 2026/11/30 FO=1A\r"},
        {"rx test echo", kRx, {rxSet}, "*T A4,06,02,01,10\r"},
        {"tx test echo", kTx, {txSet}, "*T  11,22,33,44,55,66,77,88,99,AA,BB,CC\r"},
        {"odd values echoed as sent", kRx, {"/T a,,ZZZ"}, "*T a,,ZZZ\r"},
        {"rx write", kRx, {rxSet, "/W 00"}, "*W 00,A4,06,02,01,10\r"},
        {"tx write", kTx, {txSet, "/W 03"}, "*W 03,11,22,33,44,55,66,77,88,99,AA,BB,CC\r"},
        {"write before any values", kRx, {"/W 00"}, "*W Err\r"},
        {"write to channel 04", kRx, {rxSet, "/W 04"}, "*W Err\r"},
        {"write without channel", kRx, {rxSet, "/W"}, "*W Err\r"},
        {"rx erased channel", kRx, {"/R 02"}, "*R 02,FF,FF,FF,FF,FF\r"},
        {"tx erased channel", kTx, {"/R 00"}, "*R 00,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF\r"},
        {"read unknown channel", kRx, {"/R 07"}, ""},
        {"tx common parameters", kTx, {"/M"}, "*M 06,29,B8\r"},
        {"tx common parameters set", kTx, {"/M 01,02,03"}, "*M 01,02,03\r"},
        {"tx common parameters kept", kTx, {"/M 01,02,03", "/M"}, "*M 01,02,03\r"},
        {"rx has no common parameters", kRx, {"/M"}, ""},
        {"unknown command", kRx, {"/X"}, ""},
        {"lower-case command", kRx, {"/v"}, ""},
        {"empty line", kTx, {""}, ""},
    };
    for (const Case& c : cases) {
        ModuleEngine engine(Options(c.kind));
        EXPECT_EQ(Exchange(engine, c.commands), c.reply) << c.name;
    }
}

TEST(ModsimEngine, FieldsSitWhereTheToolsReadThem) {
    EngineOptions tx = Options(kTx);
    tx.serial = "a1b2c3";
    tx.date = "2031-01-02";
    tx.offset = "7F";
    ModuleEngine engine(tx);

    const std::string identity = Exchange(engine, {"/D"});
    EXPECT_EQ(At(identity, 4, 9), "A1B2C3");
    EXPECT_EQ(At(identity, 11, 20), "2031-01-02");
    EXPECT_EQ(At(identity, 25, 26), "7F");

    const std::string version = Exchange(engine, {"/V"});
    EXPECT_GE(version.size(), 19u + 1u);
    EXPECT_EQ(At(version, 4, 8), "T2.10");

    const std::string echo = Exchange(engine, {std::string("/T ") + kTxValues});
    EXPECT_EQ(At(echo, 5, 6), "11");
    EXPECT_EQ(At(echo, 38, 39), "CC");

    const std::string written = Exchange(engine, {"/W 01"});
    EXPECT_EQ(At(written, 4, 5), "01");
    EXPECT_EQ(At(written, 7, 8), "11");  // value 1 at 3k+4
    EXPECT_EQ(At(written, 3 * 12 + 4, 3 * 12 + 5), "CC");
}

TEST(ModsimEngine, ShortVersionStillFillsTheLine) {
    EngineOptions rx = Options(kRx);
    rx.version = "R9";
    ModuleEngine engine(rx);
    const std::string reply = Exchange(engine, {"/V"});
    EXPECT_EQ(reply.rfind("*V R9 ", 0), 0u);
    EXPECT_GE(reply.size(), 19u + 1u);
}

TEST(ModsimEngine, FramingBytes) {
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::string reply;
    };
    const Case cases[] = {
        {"split across reads", {"/", "V", "\r"}, "*V R1.05 RX-434 SIM\r"},
        {"split inside values", {"/T A4,0", "6,02,01,10\r"}, "*T A4,06,02,01,10\r"},
        {"lead-in alone", {"\x80"}, ""},
        {"test end alone", {"*"}, ""},
        {"lead-in before command", {"\x80/V\r"}, "*V R1.05 RX-434 SIM\r"},
        {"lead-in and test end in front", {"\x80*\x80", "*/D\r"}, "*D 012345 2026/11/30\r"},
        {"LF ignored", {"\n/D\r\n"}, "*D 012345 2026/11/30\r"},
        {"* and lead-in inside a command kept", {"/T 0*,\x80\r"}, "*T 0*,\x80\r"},
        {"LF inside ignored", {"/\nD\r"}, "*D 012345 2026/11/30\r"},
        {"two commands in one read", {"/V\r/D\r"}, "*V R1.05 RX-434 SIM\r*D 012345 2026/11/30\r"},
        {"no reply before CR", {"/V"}, ""},
    };
    for (const Case& c : cases) {
        ModuleEngine engine(Options(kRx));
        std::string reply;
        for (const std::string& chunk : c.chunks) reply += engine.Receive(chunk);
        EXPECT_EQ(reply, c.reply) << c.name;
    }
}

TEST(ModsimEngine, OnlyCrTerminatedCommandsCount) {
    ModuleEngine engine(Options(kRx));
    engine.Receive("\x80*\x80*");
    EXPECT_EQ(engine.CommandCount(), 0);
    engine.Receive("/V\r/X\r\r");
    EXPECT_EQ(engine.CommandCount(), 3);
}

TEST(ModsimEngine, WriteThenReadBack) {
    struct Case {
        ModuleKind kind;
        const char* values;
    };
    for (const Case& c : {Case{kRx, kRxValues}, Case{kTx, kTxValues}}) {
        ModuleEngine engine(Options(c.kind));
        for (const char* channel : {"00", "01", "02", "03"}) {
            const std::string sent = std::string(channel) + "," + c.values;
            EXPECT_EQ(
                Exchange(engine, {std::string("/T ") + c.values, std::string("/W ") + channel}),
                "*W " + sent + "\r");
            EXPECT_EQ(Exchange(engine, {std::string("/R ") + channel}), "*R " + sent + "\r");
        }
    }
    // Values handed over stay the last ones until the next handover.
    ModuleEngine engine(Options(kRx));
    Exchange(engine, {"/T 01,02,03,04,05", "/W 00", "/T 0A,0B,0C,0D,0E"});
    EXPECT_EQ(Exchange(engine, {"/R 00"}), "*R 00,01,02,03,04,05\r");
    EXPECT_EQ(Exchange(engine, {"/W 01", "/W 02", "/R 02"}), "*R 02,0A,0B,0C,0D,0E\r");
    EXPECT_EQ(engine.Channel(1), (std::vector<std::string>{"0A", "0B", "0C", "0D", "0E"}));
}

TEST(ModsimEngine, WrongChannelInvertsItsLastValue) {
    struct Case {
        const char* values;
        const char* stored;
    };
    const Case cases[] = {
        {"A4,06,02,01,10", "A4,06,02,01,EF"},
        {"A4,06,02,01,ff", "A4,06,02,01,00"},
        {"A4,06,02,01,00", "A4,06,02,01,FF"},
        {"A4,06,02,01,XY", "A4,06,02,01,XY"},  // not hex: left alone
        {"A4,06,02,01,123", "A4,06,02,01,123"},
    };
    for (const Case& c : cases) {
        EngineOptions options = Options(kRx);
        options.wrongChannel = 2;
        ModuleEngine engine(options);
        const std::string handover = std::string("/T ") + c.values;
        EXPECT_EQ(Exchange(engine, {handover, "/W 02"}), std::string("*W 02,") + c.stored + "\r")
            << c.values;
        EXPECT_EQ(Exchange(engine, {"/R 02"}), std::string("*R 02,") + c.stored + "\r");
        // Other channels are stored faithfully.
        EXPECT_EQ(Exchange(engine, {"/W 01"}), std::string("*W 01,") + c.values + "\r");
    }
}

TEST(ModsimEngine, DroppedReplies) {
    struct Case {
        const char* name;
        int dropNth;
        std::vector<std::string> prefixes;
        bool silent;
        std::vector<bool> answered;  // for /V, /D, /T, /W 02, /W 01
    };
    const Case cases[] = {
        {"none", 0, {}, false, {true, true, true, true, true}},
        {"first", 1, {}, false, {false, true, true, true, true}},
        {"third (lead-in and * not counted)", 3, {}, false, {true, true, false, true, true}},
        {"prefix", 0, {"/W 02"}, false, {true, true, true, false, true}},
        {"two prefixes", 0, {"/W 02", "/V"}, false, {false, true, true, false, true}},
        {"silent", 0, {}, true, {false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        EngineOptions options = Options(kRx);
        options.dropNth = c.dropNth;
        options.dropPrefixes = c.prefixes;
        options.silent = c.silent;
        ModuleEngine engine(options);
        std::vector<bool> answered;
        engine.Receive("\x80");
        answered.push_back(!engine.Receive("/V\r").empty());
        engine.Receive("*");
        for (const char* command : {"/D\r", "/T A4,06,02,01,10\r", "/W 02\r", "/W 01\r"}) {
            answered.push_back(!engine.Receive(command).empty());
        }
        EXPECT_EQ(answered, c.answered) << c.name;
    }
}

TEST(ModsimEngine, DroppedWriteIsStillStored) {
    EngineOptions options = Options(kRx);
    options.dropPrefixes = {"/W 02"};
    ModuleEngine engine(options);
    EXPECT_EQ(Exchange(engine, {"/T A4,06,02,01,10", "/W 02"}), "");
    EXPECT_EQ(Exchange(engine, {"/R 02"}), "*R 02,A4,06,02,01,10\r");
}

TEST(ModsimEngine, OtherKindAndLineEnd) {
    struct Case {
        ModuleKind kind;
        bool otherKind;
        bool crlf;
        std::string reply;
    };
    const Case cases[] = {
        {kRx, true, false, "*V T1.05 RX-434 SIM\r"},
        {kTx, true, false, "*V R2.10 TX-434 SIM\r"},
        {kRx, false, true, "*V R1.05 RX-434 SIM\r\n"},
        {kTx, true, true, "*V R2.10 TX-434 SIM\r\n"},
    };
    for (const Case& c : cases) {
        EngineOptions options = Options(c.kind);
        options.otherKind = c.otherKind;
        options.crlf = c.crlf;
        ModuleEngine engine(options);
        EXPECT_EQ(Exchange(engine, {"/V"}), c.reply);
    }
    EngineOptions options = Options(kRx);
    options.crlf = true;
    ModuleEngine engine(options);
    EXPECT_EQ(engine.Receive("/V\r/D\r"), "*V R1.05 RX-434 SIM\r\n*D 012345 2026/11/30\r\n");
}

TEST(ModsimEngine, NoiseNeverLooksLikeAReply) {
    EngineOptions options = Options(kTx);
    options.noise = true;
    ModuleEngine engine(options);
    for (int i = 0; i < 500; ++i) {
        const std::string burst = engine.NoiseBurst();
        ASSERT_FALSE(burst.empty());
        ASSERT_EQ(burst.find_first_of("*\r\n"), std::string::npos) << i;
    }
    // Each reply comes after its own burst and is intact.
    const std::string replies = engine.Receive("/M\r/M\r");
    const std::size_t first = replies.find('*');
    ASSERT_NE(first, std::string::npos);
    ASSERT_GT(first, 0u);
    EXPECT_EQ(replies.substr(first, 12), "*M 06,29,B8\r");
    const std::size_t second = replies.find('*', first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_GT(second, first + 12);
    EXPECT_EQ(replies.substr(second), "*M 06,29,B8\r");
    // Dropped commands bring no noise either.
    EngineOptions silent = options;
    silent.silent = true;
    ModuleEngine quiet(silent);
    EXPECT_EQ(quiet.Receive("/V\r"), "");
}

TEST(ModsimEngine, StopsAfterTheLastCommand) {
    EngineOptions options = Options(kRx);
    options.exitAfter = 2;
    ModuleEngine engine(options);
    EXPECT_EQ(engine.Receive("\x80/V\r"), "*V R1.05 RX-434 SIM\r");
    EXPECT_FALSE(engine.Finished());
    // The second command is still answered; what follows it is not.
    EXPECT_EQ(engine.Receive("/D\r/V\r"), "*D 012345 2026/11/30\r");
    EXPECT_TRUE(engine.Finished());
    EXPECT_EQ(engine.Receive("/V\r"), "");
    EXPECT_EQ(engine.CommandCount(), 2);
}

TEST(ModsimEngine, StoreText) {
    ModuleEngine tx(Options(kTx));
    EXPECT_FALSE(tx.TakeStoreChanged());
    Exchange(tx, {"/V", "/R 00", "/M"});
    EXPECT_FALSE(tx.TakeStoreChanged()) << "reading changes nothing";
    Exchange(tx, {std::string("/T ") + kTxValues, "/W 01"});
    EXPECT_TRUE(tx.TakeStoreChanged());
    EXPECT_FALSE(tx.TakeStoreChanged());
    Exchange(tx, {"/M 0A,0B,0C"});
    EXPECT_TRUE(tx.TakeStoreChanged());
    Exchange(tx, {"/W 09"});
    EXPECT_FALSE(tx.TakeStoreChanged()) << "a refused write stores nothing";

    const std::string ff12 = "FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF\n";
    const std::string text = tx.StoreText();
    EXPECT_EQ(text, ff12 + kTxValues + "\n" + ff12 + ff12 + "0A,0B,0C\n");

    // A fresh module given that file answers as the first one did.
    ModuleEngine reloaded(Options(kTx));
    ASSERT_TRUE(reloaded.LoadStoreText(text));
    EXPECT_EQ(reloaded.StoreText(), text);
    EXPECT_EQ(Exchange(reloaded, {"/R 01"}), std::string("*R 01,") + kTxValues + "\r");
    EXPECT_EQ(Exchange(reloaded, {"/M"}), "*M 0A,0B,0C\r");

    ModuleEngine rx(Options(kRx));
    ASSERT_TRUE(rx.LoadStoreText("1,2,3,4,5\r\nA\r\n\r\nB,C\r\n"));
    EXPECT_EQ(Exchange(rx, {"/R 00"}), "*R 00,1,2,3,4,5\r");
    EXPECT_EQ(Exchange(rx, {"/R 02"}), "*R 02,\r");
    EXPECT_EQ(rx.StoreText(), "1,2,3,4,5\nA\n\nB,C\n");
}

TEST(ModsimEngine, RejectsStoreOfTheWrongShape) {
    struct Case {
        ModuleKind kind;
        const char* text;
    };
    const Case cases[] = {
        {kRx, ""},
        {kRx, "A\nB\nC\n"},
        {kRx, "A\nB\nC\nD\n06,29,B8\n"},  // a transmitter's file
        {kTx, "A\nB\nC\nD\n"},            // a receiver's file
    };
    for (const Case& c : cases) {
        ModuleEngine engine(Options(c.kind));
        const std::string before = engine.StoreText();
        EXPECT_FALSE(engine.LoadStoreText(c.text)) << c.text;
        EXPECT_EQ(engine.StoreText(), before);
    }
}

}  // namespace
