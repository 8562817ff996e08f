#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "freq_table.h"
#include "options.h"
#include "plan.h"
#include "shortcut_options.h"

using namespace modsetup;

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    for (const char c : line + " ") {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

const char kPlan[] = "--channels 433.075,433.1,433.92,434.7";

TEST(ModsetupOptions, BadLinesAreRefusedWithAReason) {
    const struct {
        std::string line;
        const char* reason;
    } cases[] = {
        {"", "no command given"},
        {"flash", "unknown command \"flash\""},
        {"info --speed 9600", "unknown option --speed"},
        {"info --port", "--port needs a value"},
        {"info --kind rf", "--kind must be rx, tx or any"},
        {"write", "write needs a plan"},
        {"station --count 3", "station needs a plan"},
        {"write --channels 433.1,433.2", "--channels needs four frequencies"},
        {"write --plan a.tbl " + std::string(kPlan), "either with --plan or with --channels"},
        {"test " + std::string(kPlan), "test needs a channel number"},
        {"test 4 " + std::string(kPlan), "channel must be 0, 1, 2 or 3"},
        {"station --count 0 " + std::string(kPlan), "--count must be a number from 1 on"},
        {"station --count x " + std::string(kPlan), "--count must be a number from 1 on"},
        {"info --count 2", "--count belongs to station"},
        {"check --no-check " + std::string(kPlan), "--no-check belongs to write"},
        {"info extra", "unexpected argument \"extra\""},
        {"info --json=yes", "--json takes no value"},
        {"ports --forget COM0", "--forget needs a COM name (COM1 to COM255)"},
        {"ports --assign COM7", "--assign needs a COM name and a device"},
        {"ports --assign /dev/ttyUSB0 COM7", "--assign needs a COM name (COM1 to COM255)"},
        {"info --forget COM3", "--forget belongs to ports"},
        {"ports --forget COM3 --assign COM4 /dev/ttyUSB0", "either --forget or --assign"},
        {"ports --system", "--system belongs to ports --assign or --forget"},
        {"write --http 8080 " + std::string(kPlan), "--http belongs to station"},
        {"station --trigger plc " + std::string(kPlan), "--trigger plc needs --modbus"},
        {"station --modbus 0.0.0.0:1502 " + std::string(kPlan), "it needs --modbus-allow"},
    };
    for (const auto& c : cases) {
        const ParsedOptions p = ParseOptions(Words(c.line));
        EXPECT_NE(p.error.find(c.reason), std::string::npos) << c.line << " -> " << p.error;
    }
}

TEST(ModsetupOptions, OptionsMayStandBeforeOrAfterTheCommand) {
    for (const std::string line :
         {"--port /dev/ttyUSB0 --kind=tx --json test 2 --plan p.tbl --log l.csv",
          "test --plan=p.tbl 2 --json --log l.csv --kind tx --port=/dev/ttyUSB0"}) {
        const ParsedOptions p = ParseOptions(Words(line));
        ASSERT_EQ(p.error, "") << line;
        EXPECT_EQ(p.options.command, "test");
        EXPECT_EQ(p.options.testChannel, 2);
        EXPECT_EQ(p.options.port, "/dev/ttyUSB0");
        EXPECT_EQ(p.options.kind, "tx");
        EXPECT_EQ(p.options.planFile, "p.tbl");
        EXPECT_EQ(p.options.logPath, "l.csv");
        EXPECT_TRUE(p.options.json);
    }
    const ParsedOptions s =
        ParseOptions(Words("station --again --count 200 " + std::string(kPlan)));
    ASSERT_EQ(s.error, "");
    EXPECT_EQ(s.options.count, 200);
    EXPECT_TRUE(s.options.again);
    EXPECT_EQ(s.options.channels,
              (std::vector<std::string>{"433.075", "433.1", "433.92", "434.7"}));
    // The doors' options stand anywhere too, and reach the station's set-up.
    const ParsedOptions d = ParseOptions(Words("--http 8080 station --modbus=127.0.0.1:1502 " +
                                               std::string(kPlan) + " --trigger plc"));
    ASSERT_EQ(d.error, "");
    ASSERT_TRUE(d.options.doors.http && d.options.doors.modbus);
    EXPECT_EQ(d.options.doors.http->Text(), "127.0.0.1:8080");
    EXPECT_EQ(d.options.doors.modbus->port, 1502);
    EXPECT_TRUE(d.options.doors.triggerPlc);
    const ParsedOptions a = ParseOptions(Words("--assign=COM7 /dev/ttyUSB0 ports"));
    ASSERT_EQ(a.error, "");
    EXPECT_EQ(a.options.assign, "COM7");
    EXPECT_EQ(a.options.assignDevice, "/dev/ttyUSB0");
}

TEST(ModsetupPlan, PlansAFixtureMustNotWriteByAccidentAreRefused) {
    const struct {
        const char* kind;
        const char* text;
        const char* problem;  // empty: accepted
        double producedMHz;
    } cases[] = {
        {"rx", "433.075", "", 433.075},
        {"rx", "434.7", "", 434.7},
        {"rx", "433.92", "", 433.92},
        {"rx", "433.074", "outside 433.075-434.700 MHz", 0},
        {"rx", "434.7125", "outside 433.075-434.700 MHz", 0},
        {"rx", "433.0801", "the synthesizer cannot make it exactly", 433.08},
        {"tx", "433.100", "", 433.1},
        {"tx", "433.920", "", 433.92},
        {"tx", "433.110", "off the 25 kHz grid", 0},
        // The boxes round to whole kHz before they look at the grid; so does the plan.
        {"tx", "433.1000004", "", 433.1},
        {"tx", "433.1006", "off the 25 kHz grid", 0},
        {"tx", "435", "outside 433.075-434.700 MHz", 0},
        {"rx", "434,075", "is not a frequency in MHz", 0},
        {"tx", "433.1x", "is not a frequency in MHz", 0},
        // Counters too big for their registers wrap; the frequency shown is
        // the one the registers make (PLLINT 7692 is held as 12).
        {"rx", "99999", "outside 433.075-434.700 MHz", 16112.92},
        {"tx", "99999", "outside 433.075-434.700 MHz", 159.000003},
    };
    for (const auto& c : cases) {
        const module::Kind& kind = *module::KindByName(c.kind);
        const station::ChannelPlan p = station::EvaluateChannel(kind, c.text);
        const std::string where = std::string(c.kind) + " " + c.text;
        if (*c.problem == '\0') {
            EXPECT_EQ(p.problem, "") << where;
        } else {
            EXPECT_NE(p.problem.find(c.problem), std::string::npos) << where << ": " << p.problem;
        }
        if (c.producedMHz > 0) {
            EXPECT_NEAR(p.producedMHz, c.producedMHz, 0.0001) << where;
            // The transmitter lands within one step of its fraction (6.2 Hz).
            if (*c.problem == '\0') {
                EXPECT_LE(std::abs(p.errorHz), 6.2) << where;
            }
        }
    }
}

}  // namespace

namespace {

TEST(ModsetupPlan, ATableMustNameEachChannelOnce) {
    const std::string path = ::testing::TempDir() + "/plan_test.tbl";
    // As the windows save it: CH3F first, CH0F last, a line each.
    const std::string good =
        store::FormatFrequencyTable({"434.700", "434.600", "433.920", "434.075"});
    const std::string ch0 = good.substr(good.rfind("CH0F"));
    const struct {
        std::string text;
        const char* error;  // empty: read
    } cases[] = {
        {good, ""},
        {good.substr(0, good.rfind("CH0F")), "has no frequency for Ch0"},
        {good + ch0, "names Ch0 twice"},
        // As an editor saving UTF-8 may write it.
        {"\xEF\xBB\xBF" + good, ""},
    };
    for (const auto& c : cases) {
        {
            std::ofstream out(path, std::ios::binary);
            out << c.text;
        }
        std::string error;
        const station::PlanTexts plan = station::ReadPlanFile(path, &error);
        if (*c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, "");
            EXPECT_EQ(plan[0], "434.700");
        }
    }
    std::remove(path.c_str());
}

}  // namespace

namespace {

// The station options modsetup and modstation share: one parser, so a
// desktop shortcut and a fixture script mean the same by the same line.
modstation::Options Shortcut(const std::string& line) {
    return modstation::ParseOptions(Words(line));
}

modsetup::ParsedOptions Script(const std::string& line) {
    return modsetup::ParseOptions(Words("station " + line));
}

TEST(StationOptions, BothProgramsReadTheSetUpAlike) {
    const struct {
        std::string line;
        const char* error;  // empty: read
    } cases[] = {
        {"--kind rf --plan p.tbl", "--kind must be rx, tx or any"},
        {"--port COM0 --plan p.tbl", "is neither COM1..COM255 nor a device path"},
        {"--ports COM5-COM6 --port COM5 --plan p.tbl", "COM5 is given twice"},
        {"--plan a.tbl --channels 1,2,3,4", "give the plan once"},
        {"--plan a.tbl --plan b.tbl", "give the plan once"},
        {"--channels 434.7,434.6", "--channels needs four frequencies"},
        {"--db line.db --plan p.tbl", "--db needs a URI"},
        {"--plan p.tbl --log", "--log needs a value"},
        {"--plan p.tbl --ports COM5-COM6 --kind any --db sqlite:/tmp/l.db --station L2 --operator "
         "Bo",
         ""},
        {"--channels=434.7,434.6,433.92,434.075 --port=/dev/ttyUSB0 --kind=tx --log l.csv "
         "--station=",
         ""},
    };
    for (const auto& c : cases) {
        const modstation::Options window = Shortcut(c.line);
        const modsetup::ParsedOptions script = Script(c.line);
        if (*c.error) {
            EXPECT_NE(window.error.find(c.error), std::string::npos)
                << c.line << " -> " << window.error;
            EXPECT_NE(script.error.find(c.error), std::string::npos)
                << c.line << " -> " << script.error;
            continue;
        }
        ASSERT_EQ(window.error, "") << c.line;
        ASSERT_EQ(script.error, "") << c.line;
        const station::StationOptions& a = window.given;
        const station::StationOptions& b = script.options;
        EXPECT_EQ(a.planFile, b.planFile);
        EXPECT_EQ(a.channels, b.channels);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_TRUE(a.kindGiven && b.kindGiven) << c.line;
        EXPECT_EQ(a.ports, b.ports);
        EXPECT_EQ(a.logPath, b.logPath);
        EXPECT_EQ(a.db, b.db);
        EXPECT_EQ(a.station, b.station);
        EXPECT_EQ(a.stationGiven, b.stationGiven);
        EXPECT_EQ(a.operatorName, b.operatorName);
    }
    // "any" is whichever answers, and over a remembered kind it wins.
    station::StationSetup remembered;
    remembered.kind = "tx";
    remembered.station = "line 2";
    const auto any = Shortcut("--kind any --station=");
    EXPECT_EQ(modstation::Merge(remembered, any).kind, "");
    EXPECT_EQ(modstation::Merge(remembered, any).station, "");
    EXPECT_EQ(modstation::Merge(remembered, Shortcut("--ports COM5")).kind, "tx");
}

TEST(StationOptions, AShortcutRefusesWhatOnlyModsetupDoes) {
    for (const char* line : {"--count 3", "--again", "--force", "--json", "--quiet"}) {
        EXPECT_NE(Shortcut(line).error.find("it is modsetup station's alone"), std::string::npos)
            << line << " -> " << Shortcut(line).error;
        EXPECT_EQ(Script(std::string(line) + " --plan p.tbl").error, "") << line;
    }
    // The window has one record target.
    EXPECT_NE(Shortcut("--log a.csv --db sqlite:/tmp/a.db").error.find("give the record once"),
              std::string::npos);
    // A help of its own for the station.
    const auto help = modsetup::ParseOptions(Words("station --help"));
    EXPECT_TRUE(help.options.help);
    EXPECT_EQ(help.options.command, "station");
}

// The band, the grid and their words come from the kind, not from the two
// kinds there are today.
TEST(ModsetupPlan, BandAndGridAreTheKinds) {
    module::Kind narrow = module::Transmitter();
    narrow.bandLowMHz = 433.5;
    narrow.bandHighMHz = 434.0;
    narrow.gridKHz = 50;
    const struct {
        const char* text;
        const char* problem;
    } cases[] = {
        {"433.550", ""},
        {"434.000", ""},
        {"433.100", "outside 433.500-434.000 MHz"},
        {"433.525", "off the 50 kHz grid"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(module::ChannelAcceptable(narrow, c.text), *c.problem == '\0') << c.text;
        EXPECT_EQ(station::EvaluateChannel(narrow, c.text).problem, c.problem) << c.text;
    }
}

}  // namespace
