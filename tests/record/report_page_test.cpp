// The report as a manager sees it: made by modsetup from a production log,
// opened in a real headless Chromium, checked in the page the browser built.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "csv_log.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;

std::string Chromium() {
    for (const char* c : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (fs::exists(c)) return c;
    }
    return {};
}

int Shell(const std::string& command, std::string* out) {
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[4096];
    out->clear();
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) out->append(buffer, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// A morning of two stations: line 1 with two sockets, line 2 with one, over
// three hours with a quiet hour between.
void WriteLog(const std::string& path) {
    const struct {
        const char* time;
        const char* station;
        int socket;
        const char* serial;
        const char* result;
        const char* message;
    } rows[] = {
        {"2026-12-09T06:05:00+01:00", "line 1", 1, "00074565", "pass", ""},
        {"2026-12-09T06:10:00+01:00", "line 1", 2, "00074566", "fail", "Discrepancy!!"},
        {"2026-12-09T06:15:00+01:00", "line 1", 2, "00074566", "pass", ""},
        {"2026-12-09T06:20:00+01:00", "line 2", 1, "00074567", "fail", "Not Response!!"},
        {"2026-12-09T06:25:00+01:00", "line 2", 1, "00074568", "fail", "Discrepancy!!"},
        {"2026-12-09T08:05:00+01:00", "line 1", 1, "00074569", "pass", ""},
        {"2026-12-09T08:10:00+01:00", "line 2", 1, "00074570", "fail", "<b>Discrepancy</b>"},
        {"2026-12-09T08:15:00+01:00", "line 2", 1, "00074571", "pass", ""},
        {"2026-12-09T08:20:00+01:00", "line 1", 2, "00074572", "interrupted", "interrupted"},
    };
    for (const auto& r : rows) {
        record::Attempt row;
        row.startedAt = r.time;
        row.station = r.station;
        row.socket = r.socket;
        row.port = "COM" + std::to_string(r.socket);
        row.kind = "rx";
        row.serial = r.serial;
        row.version = "R1.05";
        row.channels = {"434.700", "434.600", "433.920", "434.075"};
        row.operation = record::Operation::Write;
        row.result = *record::ResultFromText(r.result);
        row.message = r.message;
        row.durationMs = 4236;
        row.toolVersion = "1.5.2";
        ASSERT_TRUE(record::AppendProductionRow(path, row, nullptr));
    }
}

TEST(ReportPage, ChromiumShowsTheYieldTableAndBothChartsFromThePageAlone) {
    const std::string chromium = Chromium();
    if (chromium.empty()) GTEST_SKIP() << "Chromium is not installed (Debian: chromium)";
    ScratchFolder scratch("report_page");
    const std::string log = scratch.Path() + "/log.csv", page = scratch.Path() + "/report.html";
    WriteLog(log);
    const char* bin = std::getenv("SETUP_BIN_DIR");
    std::string out;
    ASSERT_EQ(Shell(std::string("TZ=UTC '") + (bin ? bin : "bin") + "/modsetup' report --log '" +
                        log + "' --html '" + page + "' 2>&1",
                    &out),
              0)
        << out;
    std::ifstream in(page);
    const std::string html((std::istreambuf_iterator<char>(in)), {});
    // Nothing from elsewhere: no script, no link, no remote address.
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_FALSE(std::regex_search(html, std::regex(R"((src|href)\s*=)")));

    const std::string browser = "'" + chromium + "' --headless --no-sandbox --disable-gpu " +
                                "--no-first-run --user-data-dir='" + scratch.Path() +
                                "/profile' --hide-scrollbars --window-size=900,1300 ";
    std::string dom;
    ASSERT_EQ(Shell(browser + "--dump-dom 'file://" + page + "' 2>/dev/null", &dom), 0);
    // The summary first: modules, not attempts, and yields by module.
    EXPECT_NE(dom.find("<div id=\"units\"><b>8</b>"), std::string::npos);
    EXPECT_NE(dom.find("<div id=\"first-pass-yield\"><b>37.5 %</b>"), std::string::npos);
    EXPECT_NE(dom.find("<div id=\"final-yield\"><b>50.0 %</b>"), std::string::npos);
    EXPECT_LT(dom.find("id=\"summary\""), dom.find("id=\"heat-map\""));
    EXPECT_LT(dom.find("id=\"heat-map\""), dom.find("id=\"sockets\""));
    // The table as the browser built it: per socket, per station, then all.
    const auto row = [&dom](const std::string& station, const std::string& socket) {
        std::smatch m;
        const std::regex r("<td>" + station + "</td><td>" + socket +
                           "</td><td class=\"units\">(\\d+)</td><td class=\"first-pass\">([^<]+)"
                           "</td><td class=\"final\">([^<]+)</td><td class=\"passed\">(\\d+)</td>"
                           "<td class=\"failed\">(\\d+)</td>");
        return std::regex_search(dom, m, r) ? m[1].str() + " " + m[2].str() + " " + m[3].str() +
                                                  " " + m[4].str() + "/" + m[5].str()
                                            : std::string("missing");
    };
    EXPECT_EQ(row("line 1", "1"), "2 100.0 % 100.0 % 2/0");
    EXPECT_EQ(row("line 1", "2"), "2 0.0 % 50.0 % 1/2");
    EXPECT_EQ(row("line 2", "1"), "4 25.0 % 25.0 % 1/3");
    EXPECT_EQ(row("line 1", "all"), "4 50.0 % 75.0 % 3/2");
    EXPECT_EQ(row("all", ""), "8 37.5 % 50.0 % 4/5");
    // Three hours with the quiet one between: passes in two, failures in two.
    EXPECT_EQ(Count(dom, "<rect class=\"pass\""), 2u);
    EXPECT_EQ(Count(dom, "<rect class=\"fail\" x=\""), 2u + 4u);  // per hour, per reason
    EXPECT_NE(dom.find("data-hour=\"2026-12-09T05:00Z\" data-count=\"2\""), std::string::npos);
    EXPECT_NE(dom.find("data-hour=\"2026-12-09T07:00Z\" data-count=\"2\""), std::string::npos);
    EXPECT_EQ(Count(dom, "data-hour=\"2026-12-09T06:00Z\""), 0u);
    // Reasons largest first; a message is shown as text, never as markup.
    const std::size_t discrepancy = dom.find("class=\"reason\">Discrepancy!!</text>");
    const std::size_t noResponse = dom.find("class=\"reason\">Not Response!!</text>");
    EXPECT_LT(discrepancy, noResponse);
    EXPECT_NE(dom.find("&lt;b&gt;Discrepancy&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(dom.find("<b>Discrepancy"), std::string::npos);
    EXPECT_NE(dom.find("<table id=\"repeats-fail-then-pass\""), std::string::npos);
    EXPECT_NE(dom.find("00074566"), std::string::npos);  // seen twice

    // A day given alone is that whole day.
    const std::string modsetup = std::string("TZ=UTC '") + (bin ? bin : "bin") +
                                 "/modsetup' report --json --log '" + log + "' ";
    ASSERT_EQ(Shell(modsetup + "--since 2026-12-09 --until 2026-12-09", &out), 0) << out;
    EXPECT_NE(out.find("\"units\":8,"), std::string::npos) << out;
    ASSERT_EQ(Shell(modsetup + "--since 2026-12-10 --until 2026-12-10", &out), 0) << out;
    EXPECT_NE(out.find("\"units\":0,"), std::string::npos) << out;

    // The picture, for a person to look at.
    const char* output = std::getenv("SETUP_TEST_OUTPUT");
    const std::string shots = output ? output : scratch.Path();
    fs::create_directories(shots);
    const std::string png = shots + "/report.png";
    fs::remove(png);
    ASSERT_EQ(Shell(browser + "--screenshot='" + png + "' 'file://" + page + "' 2>/dev/null", &out),
              0);
    std::ifstream shot(png, std::ios::binary);
    char magic[8] = {};
    shot.read(magic, 8);
    EXPECT_EQ(std::string(magic + 1, 3), "PNG");
}

}  // namespace
