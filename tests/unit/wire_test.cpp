// The link layer without a window: command bytes, reply framing, fields,
// port names and devices, line speed and tick periods.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "reply_lines.h"
#include "scratch_folder.h"
#include "serial_port.h"
#ifndef _WIN32
#include "port_assignment.h"
#endif

namespace fs = std::filesystem;

namespace {

TEST(Commands, AreTheExactBytesTheModuleExpects) {
    struct Case {
        std::string built;
        std::string expected;
    };
    const std::vector<std::string> receiver = {"A4", "06", "02", "01", "10"};
    const std::vector<std::string> transmitter = {"0D", "55", "55", "15", "7F", "03",
                                                  "1C", "3E", "89", "00", "42", "A1"};
    const Case cases[] = {
        {wire::kLeadInByte, std::string(1, '\x80')},
        {wire::kEndOfTest, "*"},
        {wire::VersionCommand(), "/V\r"},
        {wire::IdentityCommand(), "/D\r"},
        {wire::TestCommand(receiver), "/T A4,06,02,01,10\r"},
        {wire::TestCommand(transmitter), "/T 0D,55,55,15,7F,03,1C,3E,89,00,42,A1\r"},
        {wire::ReadCommand(0), "/R 00\r"},
        {wire::ReadCommand(3), "/R 03\r"},
        {wire::WriteCommand(0), "/W 00\r"},
        {wire::WriteCommand(2), "/W 02\r"},
        {wire::ReadCommonCommand(), "/M\r"},
        {wire::WriteCommonCommand("06,29,B8"), "/M 06,29,B8\r"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.built, c.expected);
    // One byte on the wire, not a two-byte UTF-8 sequence.
    ASSERT_EQ(wire::kLeadInByte.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(wire::kLeadInByte[0]), 0x80);
}

TEST(CutReplyLine, FramesRepliesFromStarToCr) {
    struct Case {
        const char* name;
        std::string buffer;
        std::optional<std::string> line;
        std::string left;
    };
    const Case cases[] = {
        {"empty", "", std::nullopt, ""},
        {"no star yet", "noise", std::nullopt, "noise"},
        {"one line", "*V\r", "*V", ""},
        {"empty reply", "*\r", "*", ""},
        {"noise before the star goes with the line", "xx\r*C 00 OK\rrest", "*C 00 OK", "rest"},
        {"unfinished reply waits", "*V R1.0", std::nullopt, "*V R1.0"},
        {"a star before the CR drops the unfinished reply", "*V R1*V R2\r", "*V R2", ""},
        {"two stars then CR", "**\r", "*", ""},
        {"stars without CR wait", "*a*b", std::nullopt, "*a*b"},
        {"CR LF leaves the LF", "*A\r\n*B\r\n", "*A", "\n*B\r\n"},
        {"CR before the star is noise", "\r\r*D 01\r", "*D 01", ""},
        {"second line stays", "*A\r*B\r", "*A", "*B\r"},
    };
    for (const Case& c : cases) {
        std::size_t consumed = 0;
        EXPECT_EQ(wire::CutReplyLine(c.buffer, consumed), c.line) << c.name;
        EXPECT_EQ(std::string(c.buffer).substr(consumed), c.left) << c.name;
    }
}

TEST(BoundReceivedText, KeepsOnlyWhatCanStillBecomeAReply) {
    const std::string longTail = "*V R1.05 RX-434 SIM" + std::string(200, 'x');
    std::string backlog;
    while (backlog.size() <= 3 * wire::kMaxBacklog) backlog += "*C 00 OK\r";

    struct Case {
        const char* name;
        std::string buffer;
        std::string left;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"noise without star", "noise\r\n", ""},
        {"noise before an unfinished reply", "xx\r*V R1", "*V R1"},
        {"only the last star can start the reply", "*a*b*c", "*c"},
        {"unfinished reply keeps its first 64 characters", longTail, longTail.substr(0, 64)},
        {"exactly 64 characters stay", longTail.substr(0, 64), longTail.substr(0, 64)},
        {"small backlog of complete lines stays", "*R 09\r*C 00 OK\r*V", "*R 09\r*C 00 OK\r*V"},
    };
    for (const Case& c : cases) {
        std::string buffer = c.buffer;
        wire::BoundReceivedText(buffer);
        EXPECT_EQ(buffer, c.left) << c.name;
    }

    // A large backlog loses its oldest lines and keeps whole lines only.
    std::string buffer = backlog;
    wire::BoundReceivedText(buffer);
    EXPECT_LE(buffer.size(), wire::kMaxBacklog);
    EXPECT_GT(buffer.size(), wire::kMaxBacklog - 16);
    EXPECT_EQ(buffer.front(), '*');
    EXPECT_EQ(backlog.compare(backlog.size() - buffer.size(), buffer.size(), buffer), 0);
}

// A stopped line loop may leave a few complete lines followed by a long
// unfinished reply (the rest of one large read). The unfinished reply is the
// part to shorten; the complete lines and the start of the reply are still to
// be handled.
TEST(BoundReceivedText, ALongUnfinishedReplyDoesNotEatTheLinesBeforeIt) {
    const std::string start = "*V R1.05 RX-434 SIM";
    std::string buffer = "*C 01 NG\r" + start + std::string(2 * wire::kMaxBacklog, 'x');
    wire::BoundReceivedText(buffer);
    EXPECT_LE(buffer.size(), wire::kMaxBacklog + wire::kMaxReplyLength);
    ASSERT_GE(buffer.size(), 9 + start.size());
    EXPECT_EQ(buffer.substr(0, 9), "*C 01 NG\r");
    EXPECT_EQ(buffer.substr(9, start.size()), start);
}

TEST(ReplyFields, StopAtTheEndOfTheLine) {
    struct Case {
        std::string_view got;
        std::string_view expected;
    };
    const std::string_view readBack = "*R 00,A4,06,02,01,10";
    const std::string_view cut = "*R 00,A4,06,0";
    const Case cases[] = {
        {wire::Field("*V R1.05 RX-434 SIM", 4, 8), "R1.05"},
        {wire::Field("*D 012345", 8, 9), "45"},
        {wire::Field("*D 0123", 8, 9), ""},
        {wire::Field("*D 01234", 8, 9), "4"},
        {wire::Field("*D", 4, 5), ""},
        {wire::Field("*D ", 4, 5), ""},
        {wire::Field("abc", 3, 10), "c"},
        {wire::Field("abc", 0, 2), ""},
        {wire::Field("abc", 3, 2), ""},
        {wire::Value(readBack, 7, 1), "A4"},
        {wire::Value(readBack, 7, 5), "10"},
        {wire::Value(readBack, 7, 6), ""},
        {wire::Value(cut, 7, 3), "0"},
        {wire::Value(cut, 7, 4), ""},
        {wire::Value("*T A4,06,02", 4, 3), "02"},
        {wire::Value("*T  0D,55", 5, 2), "55"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(PortNumberFromName, AcceptsExactlyCom1ToCom255) {
    struct Case {
        const char* name;
        int number;
    };
    const Case cases[] = {
        {"COM1", 1},     {"COM9", 9},     {"COM16", 16},  {"COM17", 17},
        {"COM200", 200}, {"COM255", 255}, {"COM256", 0},  {"COM300", 0},
        {"COM0", 0},     {"COM00", 0},    {"COM03", 0},   {"com3", 0},
        {"Com3", 0},     {"COM", 0},      {"", 0},        {" COM3", 0},
        {"COM3 ", 0},    {"COM-1", 0},    {"COM+3", 0},   {"COM1x", 0},
        {"COM1000", 0},  {"foo", 0},      {"COM\xb3", 0}, {"COM99999999999", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(wire::PortNumberFromName(c.name), c.number) << c.name;
}

class DevicePath : public ::testing::Test {
  protected:
    ScratchFolder folder_{"wire_test"};
    const std::string dir_ = folder_.Path();
};

#ifdef _WIN32
TEST_F(DevicePath, WindowsNamesAreTheSystemsOwn) {
    fs::create_directory(fs::path(dir_) / "ports");
    for (int n : {1, 4, 10, 255}) {
        EXPECT_EQ(wire::FixedDevicePath(n), "COM" + std::to_string(n)) << n;
    }
}
#else

TEST_F(DevicePath, FixedFamiliesWithoutALink) {
    struct Case {
        int n;
        const char* device;
    };
    const Case cases[] = {
        {1, "/dev/ttyS0"},      {4, "/dev/ttyS3"},    {5, "/dev/ttyUSB0"},  {12, "/dev/ttyUSB7"},
        {13, "/dev/ttyACM0"},   {16, "/dev/ttyACM3"}, {17, "/dev/ttyS4"},   {18, "/dev/ttyUSB8"},
        {19, "/dev/ttyACM4"},   {20, "/dev/ttyS5"},   {21, "/dev/ttyUSB9"}, {22, "/dev/ttyACM5"},
        {255, "/dev/ttyUSB87"},
    };
    for (const Case& c : cases) EXPECT_EQ(wire::FixedDevicePath(c.n), c.device) << c.n;
}

// A name's entry in the folder for every user wins; so does its word on a
// device: the user's own name for that device is overruled too.
TEST_F(DevicePath, AnEntryWinsAndTheFolderForEveryUserFirst) {
    const store::PortFolders folders{dir_ + "/system", dir_ + "/user", {}};
    struct Link {
        std::string folder, name, target;
    };
    const Link links[] = {
        {folders.system, "COM3", "/dev/null"},
        {folders.system, "COM7", "/dev/ttyUSB0"},
        {folders.user, "COM3", "/dev/zero"},
        {folders.user, "COM9", "/dev/null"},
        {folders.user, "COM20", "/dev/ttyUSB0"},
        // A link whose device has gone still names the port: opening it
        // fails rather than falling back on some other device.
        {folders.user, "COM1", dir_ + "/gone"},
    };
    for (const Link& link : links) {
        fs::create_directories(link.folder);
        fs::create_symlink(link.target, link.folder + "/" + link.name);
    }
    const std::pair<int, std::string> cases[] = {
        {3, folders.system + "/COM3"},
        {7, folders.system + "/COM7"},
        {1, folders.user + "/COM1"},
        {9, "/dev/ttyUSB4"},
        {20, "/dev/ttyS5"},
        {4, "/dev/ttyS3"},
    };
    for (const auto& [n, path] : cases) EXPECT_EQ(wire::PortPath(folders, n), path) << n;
}
#endif

TEST(TickPeriod, IsOneCharacterTimeRoundedHalfToEven) {
    struct Case {
        int speed;
        double factor;
        int ms;
    };
    const Case cases[] = {
        {4800, 1.0, 208}, {4800, 0.7, 146}, {1920, 1.0, 521}, {1920, 0.7, 365}, {9600, 1.0, 104},
        {9600, 0.7, 73},  {1200, 1.0, 833}, {1200, 0.7, 583}, {3200, 1.0, 312},  // 312.5
        {640, 1.0, 1562},                                                        // 1562.5
        {1152, 1.0, 868},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wire::TickPeriod(c.speed, c.factor), c.ms) << c.speed << " x" << c.factor;
    }
    EXPECT_EQ(wire::TickPeriod(4800), 208);
    // No line speed: a very long tick instead of a division by zero.
    EXPECT_GT(wire::TickPeriod(0), 1000000);
    EXPECT_GT(wire::TickPeriod(0, 0.7), 1000000);
    EXPECT_GT(wire::TickPeriod(-5), 1000000);
    EXPECT_GT(wire::TickPeriod(1, 1.0), 0);
}

}  // namespace
