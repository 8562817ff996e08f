// modstation's window offscreen: names for screen readers and automation,
// plans refused for modsetup's reasons, the shortcut's command line, the
// settings kept, and tiles readable whatever the theme.
#include "station_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "plan.h"
#include "shortcut_options.h"
#include "socket_tile.h"

namespace {

void Collect(QAccessibleInterface* node, std::map<std::string, int>& found) {
    if (!node) return;
    std::string name = node->text(QAccessible::Name).toStdString();
    // A list box reports its current text as its name; it is found by the
    // name it carries.
    if (auto* combo = qobject_cast<QComboBox*>(node->object()))
        name = combo->accessibleName().toStdString();
    if (!name.empty()) ++found[name];
    for (int i = 0; i < node->childCount(); ++i) Collect(node->child(i), found);
}

struct Window {
    explicit Window(const std::string& folder) : win({folder, folder}, "9.9.9") {
        win.show();
        QApplication::processEvents();
    }
    station::StationWindow win;
};

std::string TempDir() {
    char name[] = "/tmp/modstation_qt_XXXXXX";
    return mkdtemp(name);
}

TEST(StationWindow, EveryControlHasItsAccessibleName) {
    const std::string folder = TempDir();
    Window w(folder);
    std::map<std::string, int> found;
    Collect(QAccessible::queryAccessibleInterface(&w.win), found);
    for (const char* name : {"Start", "Stop", "Load plan", "Passed", "Failed", "Yield", "Sockets",
                             "Kind", "Ch0 frequency", "Record file", "Station name", "Operator"}) {
        EXPECT_EQ(found[name], 1) << name;
    }
    // In set-up mode only Stop is idle.
    EXPECT_TRUE(w.win.findChild<QPushButton*>("Start")->isEnabled());
    EXPECT_FALSE(w.win.findChild<QPushButton*>("Stop")->isEnabled());
    // A counter is heard with its figure, and a socket in the list says it
    // can be ticked.
    QAccessibleInterface* passed =
        QAccessible::queryAccessibleInterface(w.win.findChild<QLabel*>("Passed"));
    ASSERT_NE(passed, nullptr);
    EXPECT_EQ(passed->text(QAccessible::Description), "0");
    station::StationSetup s;
    s.ports = {"COM7"};
    w.win.Apply(s);
    QAccessibleInterface* list =
        QAccessible::queryAccessibleInterface(w.win.findChild<QWidget*>("Sockets"));
    ASSERT_NE(list, nullptr);
    QAccessibleInterface* item = nullptr;
    for (int i = 0; i < list->childCount() && !item; ++i)
        if (list->child(i)->text(QAccessible::Name) == "COM7") item = list->child(i);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->state().checkable);
    EXPECT_TRUE(item->state().checked);
    std::filesystem::remove_all(folder);
}

// Four frequency fields, or one per channel of a plan file that names more;
// the fields past the plan are hidden, so no one types into a channel no
// kind will write.
TEST(StationWindow, AFieldForEachChannelOfThePlan) {
    const std::string folder = TempDir();
    Window w(folder);
    const auto shown = [&w] {
        int n = 0;
        for (int i = 0; i < 8; ++i)
            n += w.win.findChild<QLineEdit*>(QString("Ch%1").arg(i))->isVisible() ? 1 : 0;
        return n;
    };
    EXPECT_EQ(shown(), 4);
    {
        std::ofstream f(folder + "/six.tbl");
        for (int ch = 0; ch < 6; ++ch) f << "CH" << ch << "F ,434.700,\r\n";
    }
    ASSERT_TRUE(w.win.LoadPlanFile(folder + "/six.tbl"));
    QApplication::processEvents();
    EXPECT_EQ(shown(), 6);
    EXPECT_EQ(w.win.findChild<QLineEdit*>("Ch5")->text(), "434.700");
    const QString shots = qEnvironmentVariable("SETUP_TEST_OUTPUT", QDir::tempPath());
    QDir().mkpath(shots);
    w.win.grab().save(shots + "/station-six-channel-plan.png");
    std::filesystem::remove_all(folder);
}

// Alt and a letter reach one control only, and Enter at the Stop question
// keeps the modules being written.
TEST(StationWindow, EveryMnemonicOnceAndStopDefaultsToKeepRunning) {
    const std::string folder = TempDir();
    Window w(folder);
    std::map<QChar, QStringList> keys;
    const auto note = [&keys](const QString& text) {
        const int at = text.indexOf(QRegularExpression("&[^&]"));
        if (at >= 0) keys[text.at(at + 1).toLower()] << text;
    };
    for (auto* b : w.win.findChildren<QAbstractButton*>()) note(b->text());
    for (auto* l : w.win.findChildren<QLabel*>()) note(l->text());
    for (const auto& [key, texts] : keys)
        EXPECT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
    EXPECT_GE(keys.size(), 10u);

    const auto box = station::StationWindow::MakeStopQuestion(&w.win, "Socket 1 is writing");
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->button(QMessageBox::No)->text(), "&No, keep running");
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));
    std::filesystem::remove_all(folder);
}

// A plan modsetup refuses is refused before any port is touched, with the
// reason modsetup gives.
TEST(StationWindow, RefusesWhatModsetupRefusesWithItsReason) {
    struct Case {
        std::string kind;
        station::PlanTexts plan;
        std::vector<std::string> ports;
        std::string expected;  // empty: the kind's own reason for Ch1
    };
    const std::vector<Case> cases = {
        {"rx", {"434.700", "435.000", "433.920", "434.075"}, {"COM1"}, ""},
        {"tx", {"434.700", "434.010", "433.920", "434.075"}, {"COM1"}, ""},
        {"rx",
         {"434.700", "434.6x", "433.920", "434.075"},
         {"COM1"},
         "\"434.6x\" is not a frequency in MHz"},
        {"rx", {"434.700", "434.600", "433.920", "434.075"}, {}, "Choose the sockets first"},
        {"rx", {"434.700", "434.600", "433.920", "434.075"}, {"COM200"}, "COM Not Open! (COM200: "},
    };
    const std::string folder = TempDir();
    for (const Case& c : cases) {
        Window w(folder);
        station::StationSetup s;
        s.kind = c.kind;
        s.channels = c.plan;
        s.ports = c.ports;
        s.record = folder + "/log.csv";
        w.win.Apply(s);
        EXPECT_FALSE(w.win.StartProduction()) << c.plan[1];
        EXPECT_FALSE(w.win.Producing());
        std::string expected = c.expected;
        if (expected.empty()) {
            const module::Kind& kind = *module::KindByName(c.kind);
            expected = kind.name + " Ch1 " + c.plan[1] +
                       " MHz: " + station::EvaluateChannel(kind, c.plan[1]).problem;
        }
        EXPECT_NE(w.win.Message().toStdString().find(expected), std::string::npos)
            << w.win.Message().toStdString() << "\nexpected: " << expected;
    }
    std::filesystem::remove_all(folder);
}

TEST(StationWindow, ShortcutOptionsOverRememberedSettings) {
    const std::string folder = TempDir();
    {
        Window w(folder);
        station::StationSetup s;
        s.channels = {"434.700", "434.600", "433.920", "434.075"};
        s.kind = "tx";
        s.ports = {"COM7", "COM9"};
        s.record = folder + "/line.csv";
        s.station = "line 2";
        s.operatorName = "Ana";
        w.win.Apply(s);
        w.win.SaveSettings();
    }
    Window w(folder);
    w.win.LoadSettings();
    const auto parsed =
        modstation::ParseOptions({"--ports", "COM5-COM6", "--operator", "Bo",
                                  "--channels=434.700,434.650,433.920,434.100", "--start"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.start);
    w.win.Apply(modstation::Merge(w.win.Current(), parsed));
    const station::StationSetup s = w.win.Current();
    EXPECT_EQ(s.ports, (std::vector<std::string>{"COM5", "COM6"}));
    EXPECT_EQ(s.kind, "tx");
    EXPECT_EQ(s.station, "line 2");
    EXPECT_EQ(s.operatorName, "Bo");
    EXPECT_EQ(s.record, folder + "/line.csv");
    EXPECT_EQ(s.channels[3], "434.100");

    for (const auto& [args, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--kind", "rf"}, "--kind must be rx, tx or any"},
             {{"--port", "COM0"}, "neither COM1..COM255"},
             {{"--ports", "COM1", "--port", "COM1"}, "given twice"},
             {{"--plan", "a.tbl", "--channels", "1,2,3,4"}, "give the plan once"},
             {{"--log", "a.csv", "--db", "sqlite:///a.db"}, "give the record once"},
             {{"--db", "line.db"}, "--db needs a URI"},
             {{"--count", "3"}, "unknown option"}}) {
        EXPECT_NE(modstation::ParseOptions(args).error.find(error), std::string::npos) << error;
    }
    std::filesystem::remove_all(folder);
}

double Luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text of a rendered label against its commonest colour.
double RenderedContrast(QWidget* w) {
    // Grabbed through its parent, so a background drawn by the parent counts.
    QWidget* parent = w->parentWidget() ? w->parentWidget() : w;
    const QImage image = (parent == w ? w->grab() : parent->grab(w->geometry())).toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    QColor background;
    int most = 0;
    for (const auto& [rgb, n] : counts)
        if (n > most) most = n, background = QColor(rgb);
    double contrast = 0;
    for (const auto& [rgb, n] : counts)
        contrast = std::max(contrast, Contrast(QColor(rgb), background));
    return contrast;
}

TEST(StationWindow, TilesAndHeaderStayReadableOnADarkTheme) {
    const QPalette saved = QApplication::palette();
    QPalette p;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(49, 54, 59)},
                                {QPalette::WindowText, QColor(239, 240, 241)},
                                {QPalette::Base, QColor(35, 38, 41)},
                                {QPalette::Text, QColor(239, 240, 241)},
                                {QPalette::Button, QColor(49, 54, 59)},
                                {QPalette::ButtonText, QColor(239, 240, 241)}}) {
        p.setColor(role, colour);
    }
    QApplication::setPalette(p);
    using station::Phase;
    QSet<QString> looks;  // every tile frame met so far
    for (const station::TileView& v :
         {station::TileView{Phase::Empty, "empty", "", -1, 0},
          station::TileView{Phase::Writing, "writing Ch2", "00074565", -1, 2},
          station::TileView{Phase::Passed, "PASS", "00074565", 4236, 4},
          station::TileView{Phase::Failed, "FAIL: Discrepancy!!", "00074566", 4100, 4},
          station::TileView{Phase::NotRecorded,
                            "NOT RECORDED: record: cannot write log.csv: No space left on device",
                            "00074567", -1, 4},
          station::TileView{Phase::Skipped,
                            "SKIPPED: 00074568 passed before (station line 2, socket 3, "
                            "2026-12-09T05:02:03+01:00)",
                            "00074568", -1, 0},
          station::TileView{Phase::AdapterMissing, "adapter missing", "", -1, 0}}) {
        station::SocketTile tile(3);
        tile.SetPort("COM7", "/dev/ttyUSB2");
        tile.Show(station::WordsOf(v));
        tile.resize(220, 140);
        tile.show();
        QApplication::processEvents();
        EXPECT_EQ(tile.accessibleName(), "Socket 3");
        EXPECT_EQ(tile.accessibleDescription().toStdString(), v.state);
        auto* state = tile.findChild<QLabel*>("SocketState_3");
        ASSERT_NE(state, nullptr);
        // The result is told by its mark as well as by its colour.
        if (v.phase == Phase::Passed) {
            EXPECT_TRUE(state->text().startsWith(QChar(0x2714)));
        }
        if (v.phase == Phase::Failed) {
            EXPECT_TRUE(state->text().startsWith(QChar(0x2716)));
        }
        EXPECT_GE(RenderedContrast(state), 4.5) << v.state;
        // A module the record could not keep, or one left alone, is neither a
        // PASS nor a FAIL: its own mark and frame, and why, below.
        const bool ownState = v.phase == Phase::NotRecorded || v.phase == Phase::Skipped;
        if (ownState) {
            EXPECT_TRUE(state->text().startsWith(QChar(v.phase == Phase::Skipped ? 0x21b7 : 0x26a0)))
                << state->text().toStdString();
            auto* reason = tile.findChild<QLabel*>("SocketReason_3");
            ASSERT_NE(reason, nullptr);
            EXPECT_TRUE(reason->isVisible()) << v.state;
            const std::string why = reason->text().toStdString();
            EXPECT_NE(why.find(v.phase == Phase::Skipped ? "take it out: passed before (station"
                                                         : "No space left on device"),
                      std::string::npos)
                << why;
            EXPECT_GE(RenderedContrast(reason), 4.5) << v.state;
        }
        // The focus ring: a black band and a white one, so it reads on
        // every fill.
        tile.activateWindow();
        tile.setFocus();
        QApplication::processEvents();
        if (tile.hasFocus()) {
            const QImage ring = tile.grab().toImage();
            const int mid = ring.height() / 2;
            EXPECT_EQ(QColor(ring.pixel(1, mid)), QColor(Qt::black)) << v.state;
            EXPECT_EQ(QColor(ring.pixel(4, mid)), QColor(Qt::white)) << v.state;
        } else {
            ADD_FAILURE() << "the tile takes no focus";
        }
        // Kept for a look at each tile on the dark theme.
        const QString shots = qEnvironmentVariable("SETUP_TEST_OUTPUT", QDir::tempPath());
        QDir().mkpath(shots);
        tile.grab().save(QString("%1/tile-%2.png").arg(shots).arg(static_cast<int>(v.phase)));
        const QString look = tile.styleSheet();
        if (ownState) {
            EXPECT_FALSE(look.isEmpty() || looks.contains(look)) << v.state;
        }
        looks.insert(look);
    }
    const std::string folder = TempDir();
    {
        Window w(folder);
        for (const char* name : {"PlanText", "StationText", "RecordText", "Passed"}) {
            auto* label = w.win.findChild<QLabel*>(name);
            ASSERT_NE(label, nullptr) << name;
            EXPECT_GE(RenderedContrast(label), 4.5) << name;
        }
    }
    QApplication::setPalette(saved);
    std::filesystem::remove_all(folder);
}

}  // namespace
