// The live table of modsetup station: what fits a terminal of a given size,
// and the bytes that redraw it.
#include "live_table.h"

#include <gtest/gtest.h>

using modsetup::LayOutTable;
using modsetup::LiveTable;
using modsetup::TableRow;
using modsetup::TextColumns;

namespace {

std::vector<TableRow> Sockets(int n, bool byId) {
    std::vector<TableRow> rows;
    for (int i = 1; i <= n; ++i) {
        TableRow r;
        r.number = i;
        char port[96];
        std::snprintf(port, sizeof port,
                      byId && i % 2 == 0
                          ? "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K%04d-if00-port0"
                          : "COM%d",
                      i);
        r.port = port;
        r.device = "/dev/ttyUSB" + std::to_string(i - 1);
        r.state = i == 3 ? "FAIL: Discrepancy!! (check: Ch1 does not read back as planned)"
                         : "writing Ch2";
        r.attention = i == 3;
        r.serial = "000" + std::to_string(74560 + i);
        r.result = i == 4 ? "interrupted" : "pass";
        r.time = "4.2 s";
        rows.push_back(r);
    }
    return rows;
}

TEST(LiveTable, FitsTheScreenWithEveryColumnInLine) {
    const struct {
        int width, maxLines, sockets;
        bool byId;
        std::size_t lines;
        const char* summary;  // the line for the sockets that do not fit; "" none
        bool device;          // the device column is shown
    } cases[] = {
        {80, 18, 24, true, 18, "sockets 16-24: 9 writing", true},
        {200, 38, 24, true, 26, "", true},
        {80, 18, 8, false, 10, "", true},
        // The failed socket is named though its line does not fit.
        {80, 5, 8, false, 5, "sockets 3-8: 1 FAIL (3), 5 writing", true},
        {40, 10, 4, true, 6, "", false},
        {80, 2, 8, false, 2, "sockets 1-8: 7 writing, 1 FAIL (3)", true},
        {80, 1, 8, false, 1, "", true},
    };
    for (const auto& c : cases) {
        const std::string where = std::to_string(c.width) + "x" + std::to_string(c.maxLines) +
                                  ", " + std::to_string(c.sockets) + " sockets";
        const auto lines =
            LayOutTable(Sockets(c.sockets, c.byId), "passed 3  failed 1", c.width, c.maxLines);
        ASSERT_EQ(lines.size(), c.lines) << where;
        for (const std::string& l : lines)
            EXPECT_LE(TextColumns(l), std::size_t(c.width)) << where << ": " << l;
        EXPECT_EQ(lines.back(), "passed 3  failed 1") << where;
        if (*c.summary) {
            EXPECT_EQ(lines[lines.size() - 2], c.summary) << where;
        } else if (lines.size() > 1) {
            EXPECT_EQ(lines[lines.size() - 2].rfind("sockets", 0), std::string::npos) << where;
        }
        if (c.maxLines < 3) continue;
        const std::string& header = lines.front();
        EXPECT_EQ(header.find("device") != std::string::npos, c.device) << where << ": " << header;
        // Each socket's serial starts under the header's "serial", however
        // long its port's path or its state.
        const std::size_t serialAt = header.find("serial");
        ASSERT_NE(serialAt, std::string::npos) << where;
        for (std::size_t i = 1; i + 1 < lines.size() && lines[i].rfind("sockets", 0) != 0; ++i) {
            EXPECT_EQ(lines[i].substr(serialAt, 8), "000" + std::to_string(74560 + i))
                << where << ":\n"
                << header << "\n"
                << lines[i];
            EXPECT_EQ(lines[i].rfind(std::to_string(i) + " ", 0), 0u) << where << ": " << lines[i];
        }
    }
    // A port's path keeps its end, where a by-id name holds the adapter's
    // serial number; a state too long for its column keeps its start.
    const auto wide = LayOutTable(Sockets(4, true), "", 200, 10);
    EXPECT_NE(wide[2].find("FT232R_USB_UART_A10K0002-if00-port0"), std::string::npos) << wide[2];
    EXPECT_NE(wide[3].find("FAIL: Discrepancy!! (check: Ch1 does not read back as planned)"),
              std::string::npos);
    const auto narrow = LayOutTable(Sockets(4, true), "", 80, 10);
    EXPECT_EQ(narrow[2].substr(narrow[0].find("port"), 3), "...") << narrow[2];
    EXPECT_NE(narrow[2].find("2-if00-port0 "), std::string::npos) << narrow[2];
    EXPECT_NE(narrow[3].find("FAIL: Discrepancy... "), std::string::npos) << narrow[3];
}

TEST(LiveTable, RedrawsOnlyWhatChangedAtTheFootOfTheScreen) {
    LiveTable table;
    const std::vector<std::string> lines = {"socket  state", "1       empty", "passed 0"};
    const std::string first = table.Draw(lines, 80, 24);
    // Room made below the cursor, then the messages scroll in rows 1-21 and
    // the table stands in rows 22-24.
    EXPECT_EQ(first.rfind("\n\n\n\x1b[3A\x1b"
                          "7\x1b[1;21r\x1b"
                          "8",
                          0),
              0u);
    EXPECT_NE(first.find("\x1b[22;1H\x1b[2Ksocket  state"), std::string::npos);
    EXPECT_NE(first.find("\x1b[24;1H\x1b[2Kpassed 0"), std::string::npos);
    EXPECT_EQ(table.Draw(lines, 80, 24), "");
    const std::string second =
        table.Draw({"socket  state", "1       writing Ch0", "passed 0"}, 80, 24);
    EXPECT_EQ(second,
              "\x1b"
              "7\x1b[23;1H\x1b[2K1       writing Ch0\x1b"
              "8");
    // A new size lays the screen out again, with the latest messages.
    table.Logged("modsetup: socket 1: write: Discrepancy!!");
    const std::string resized = table.Draw(lines, 100, 10);
    EXPECT_EQ(
        resized.rfind("\x1b[2J\x1b[1;7r\x1b[1;1Hmodsetup: socket 1: write: Discrepancy!!\n", 0), 0u)
        << resized;
    EXPECT_NE(resized.find("\x1b[10;1H\x1b[2Kpassed 0"), std::string::npos);
    // At the end the whole screen scrolls again, from below the table.
    EXPECT_EQ(table.Finish(), "\x1b[1;10r\x1b[10;1H\n");
    EXPECT_EQ(table.Finish(), "");
}

}  // namespace
