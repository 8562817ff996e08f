// The real widgets under the offscreen platform: the control set, captions,
// states, focus order, both layouts, and that rendering writes only changes.
#include "form_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

#include "../model/module_responder.h"
#include "fakes.h"
#include "layout.h"
#include "qt_seams.h"
#include "recv_profile.h"
#include "send_profile.h"
#include "twips.h"

namespace {

using testing_support::Harness;
using window::FormWindow;

struct QtHarness {
    explicit QtHarness(const window::ToolProfile& profile, bool debug = false) : h(profile) {
        if (debug) testing_support::WriteFile(h.model.SettingsPath(), "DEBUG,ON,\r\n");
        win = std::make_unique<FormWindow>(h.model);
        h.clock.SetTickHandler([this](window::TimerId id) {
            h.port.DeliverReplies();  // what a module answered since the last tick
            win->Handle([this, id] { h.model.OnTimer(id); });
        });
        h.port.SetReceiveHandler(
            [this](wire::CommEvent e) { win->Handle([this, e] { h.model.OnMSComm1Receive(e); }); });
        h.StartUp();
        win->Render();
        win->show();
        QApplication::processEvents();
    }
    template <typename W>
    W* Find(const std::string& name) {
        return win->findChild<W*>(QString::fromStdString(name));
    }
    Harness h;
    std::unique_ptr<FormWindow> win;
};

QString ScreenshotPath(const std::string& tool, const char* layout) {
    const QString folder = qEnvironmentVariable("SETUP_TEST_OUTPUT", QDir::tempPath());
    QDir().mkpath(folder);
    return QStringLiteral("%1/%2-%3.png").arg(folder, QString::fromStdString(tool), layout);
}

const window::ToolProfile& Profile(const std::string& tool) {
    return tool == "recvsetup" ? RecvSetupProfile() : SendSetupProfile();
}

class EachTool : public ::testing::TestWithParam<std::string> {};

INSTANTIATE_TEST_SUITE_P(Tools, EachTool, ::testing::Values("recvsetup", "sendsetup"));

TEST_P(EachTool, EveryControlOfTheTableIsFoundByItsName) {
    QtHarness q(Profile(GetParam()));
    for (const window::ControlEntry& entry : window::ControlTable(Profile(GetParam()))) {
        QWidget* w = q.Find<QWidget>(entry.name);
        ASSERT_NE(w, nullptr) << entry.name;
        if (!entry.caption.empty()) {
            QString shown;
            if (auto* label = qobject_cast<QLabel*>(w)) shown = label->text();
            if (auto* frame = qobject_cast<QGroupBox*>(w)) shown = frame->title();
            EXPECT_EQ(shown.toStdString(), entry.caption) << entry.name;
        }
    }
}

TEST_P(EachTool, CaptionsStatesAndColoursAtStart) {
    QtHarness q(Profile(GetParam()));
    const bool recv = GetParam() == "recvsetup";
    EXPECT_EQ(q.win->windowTitle().toStdString(),
              recv ? "ZRV-RX-H4(434Z)_Setup   Ver.=1.5.2" : "ZRV-TX-H4(434Z)_Setup   Ver.=1.5.2");

    struct Expected {
        const char* name;
        const char* caption;
        bool enabled;
    };
    const Expected buttons[] = {
        {"ComStart", "Open", true},
        {"GetInfoSW", "Get Info.", false},
        {"ChTestSW_0", "Test", false},
        {"ChTestSW_3", "Test", false},
        {"FreqLoadSaveSW_0", "Load", true},
        {"FreqLoadSaveSW_1", "Save", true},
        {"FreqDefaultSW", "Default Set", true},
        {"ChCheckSW", "Check", false},
        {"ChWriteSW", "Write", false},
    };
    for (const Expected& e : buttons) {
        auto* b = q.Find<QAbstractButton>(e.name);
        ASSERT_NE(b, nullptr) << e.name;
        EXPECT_EQ(b->text().toStdString(), e.caption) << e.name;
        EXPECT_EQ(b->isEnabled(), e.enabled) << e.name;
    }
    EXPECT_EQ(q.Find<QAbstractButton>("ComStart")->toolTip().toStdString(), "Port Open/Close.");
    EXPECT_EQ(q.Find<QAbstractButton>("GetInfoSW")->toolTip().toStdString(),
              "Get Target-Module Information.");
    EXPECT_EQ(q.Find<QLineEdit>("Version")->toolTip().toStdString(),
              "Program Version of Target-Module");
    EXPECT_EQ(q.Find<QLineEdit>("Serial")->toolTip().toStdString(),
              "Identification code used in factory inspection.");

    for (const char* name : {"Version", "Serial", "FactoryDate"}) {
        auto* box = q.Find<QLineEdit>(name);
        EXPECT_EQ(box->palette().color(QPalette::Base), QColor(224, 224, 224)) << name;
        EXPECT_TRUE(box->alignment() & Qt::AlignHCenter) << name;
    }
    for (const char* name : {"P_Message", "C_Message", "T_Message", "L_Message"}) {
        auto* label = q.Find<QLabel>(name);
        // Red, in the shade that reads on the window (see the contrast test).
        const QColor red = label->palette().color(QPalette::WindowText);
        EXPECT_EQ(red.hue(), 0) << name;
        EXPECT_EQ(red.red(), std::max({red.red(), red.green(), red.blue()})) << name;
        EXPECT_TRUE(label->text().isEmpty()) << name;
    }
    EXPECT_EQ(q.Find<QLabel>("Label2_3")->text().toStdString(), "Ch3  (Open / Open ) :");
    EXPECT_EQ(q.Find<QLineEdit>("LogFileName")->text().toStdString(), GetParam() + ".log");
    EXPECT_TRUE(q.Find<QCheckBox>("Check1")->isChecked());
    if (!recv) {
        EXPECT_FALSE(q.Find<QLineEdit>("FOffsetV")->isEnabled());
    }

    const std::string box = Profile(GetParam()).frequencyControl;
    const char* defaults[4] = {"434.700", "434.600", "433.920", "434.075"};
    for (int n = 0; n < 4; ++n) {
        auto* combo = q.Find<QComboBox>(box + "_" + std::to_string(n));
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->currentText().toStdString(), defaults[n]);
        EXPECT_EQ(combo->count(), 68);
        EXPECT_EQ(combo->itemText(0).toStdString(), "433.920");
        EXPECT_EQ(combo->itemText(1).toStdString(), "---.----");
        EXPECT_EQ(combo->itemText(67).toStdString(), "434.700");
    }

    auto* grid = q.Find<QTableWidget>("MSFlexGrid1");
    EXPECT_EQ(grid->rowCount(), recv ? 6 : 13);
    EXPECT_EQ(grid->columnCount(), 5);
    EXPECT_EQ(grid->item(0, 0)->text().toStdString(), "Register");
    EXPECT_EQ(grid->item(0, 4)->text().toStdString(), "Ch.3");
    EXPECT_EQ(grid->item(1, 0)->text().toStdString(), recv ? "Counter-R" : "PLLINT");
    EXPECT_EQ(grid->columnWidth(0), window::TwipsToPixels(1200));
    EXPECT_EQ(grid->columnWidth(4), window::TwipsToPixels(990));
    EXPECT_TRUE(grid->item(1, 2)->textAlignment() & Qt::AlignHCenter);
}

// Tab runs through the focus order and round to its start again. In the
// normal layout the Debug frame lies outside the window: its controls are
// passed over, and the focus never rests where it cannot be seen.
TEST_P(EachTool, TabWalksTheFocusOrderOverVisibleControlsOnly) {
    for (const bool debug : {false, true}) {
        QtHarness q(Profile(GetParam()), debug);
        // Disabled controls are skipped: enable them all for the walk.
        for (QWidget* w : q.win->findChildren<QWidget*>()) w->setEnabled(true);
        q.win->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(q.win.get()));
        std::vector<std::string> order;
        for (const std::string& name : window::FocusOrder(Profile(GetParam()))) {
            if (debug || !q.Find<QWidget>("Frame5")->isAncestorOf(q.Find<QWidget>(name)))
                order.push_back(name);
        }
        EXPECT_EQ(order.size(), window::FocusOrder(Profile(GetParam())).size() -
                                    (debug                       ? 0
                                     : GetParam() == "sendsetup" ? 4
                                                                 : 3));
        order.push_back(order.front());
        q.Find<QWidget>(order.front())->setFocus();
        for (std::size_t i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            const QRect shown(focus->mapTo(q.win.get(), QPoint(0, 0)), focus->size());
            EXPECT_TRUE(q.win->rect().contains(shown)) << focus->objectName().toStdString();
            // An editable list takes the focus in its edit field.
            if (qobject_cast<QComboBox*>(focus->parentWidget())) focus = focus->parentWidget();
            EXPECT_EQ(focus->objectName().toStdString(), order[i])
                << "after " << order[i - 1] << (debug ? ", debug layout" : "");
        }
    }
}

TEST_P(EachTool, BothLayoutsHaveTheirSizesAndAreSavedAsScreenshots) {
    for (bool debug : {false, true}) {
        QtHarness q(Profile(GetParam()), debug);
        // The client area is the outer size less a classic title bar and border.
        EXPECT_EQ(q.win->width(), window::TwipsToPixels((debug ? 12300 : 6060) - 90));
        EXPECT_EQ(q.win->height(), window::TwipsToPixels(7830 - 405));
        EXPECT_EQ(q.Find<QWidget>("Frame5")->x(), window::TwipsToPixels(debug ? 6120 : -6000));
        EXPECT_EQ(q.win->windowTitle().endsWith(" (Debug mode!!)"), debug);
        q.h.Advance(60);  // one refresh, so the grid shows register values

        EXPECT_TRUE(q.win->grab().save(ScreenshotPath(GetParam(), debug ? "debug" : "normal")));
    }
}

TEST_P(EachTool, TypingChoosingAndSteppingRecolourTheBox) {
    QtHarness q(Profile(GetParam()));
    const bool send = GetParam() == "sendsetup";
    const std::string name = Profile(GetParam()).frequencyControl + "_1";
    auto* combo = q.Find<QComboBox>(name);
    auto background = [combo] { return combo->lineEdit()->palette().color(QPalette::Base); };
    const QColor normal = QPalette().color(QPalette::Base);
    const QColor rangeError(255, 255, 192);

    // Typing.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "434.080");
    EXPECT_EQ(q.h.model.Frequency[1].text, "434.080");
    EXPECT_EQ(background(), send ? rangeError : normal);

    // Choosing "---.----" from the list.
    combo->setCurrentIndex(1);
    EXPECT_EQ(q.h.model.Frequency[1].text, "---.----");
    EXPECT_EQ(background(), rangeError);

    // Stepping writes the new text into the box, and the box's own change
    // signal stays quiet while the model's value is rendered.
    QSignalSpy echoes(combo, &QComboBox::editTextChanged);
    QTest::mouseClick(q.Find<QAbstractButton>("Fup_1"), Qt::LeftButton);
    EXPECT_EQ(combo->currentText().toStdString(), "433.075");
    EXPECT_EQ(background(), normal);
    EXPECT_EQ(echoes.count(), 0);
}

TEST_P(EachTool, TheBoxesHoldWhatIsTypedAndIgnoreAStrayWheel) {
    QtHarness q(Profile(GetParam()));
    const std::string box = Profile(GetParam()).frequencyControl;
    auto* combo = q.Find<QComboBox>(box + "_2");
    // No completion from the list: 434.02 is a frequency of its own.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "434.02");
    EXPECT_EQ(q.h.model.Frequency[2].text, "434.02");
    EXPECT_EQ(combo->currentText().toStdString(), "434.02");
    auto* port = q.Find<QComboBox>("Combo1");
    port->lineEdit()->selectAll();
    QTest::keyClicks(port->lineEdit(), "COM");
    EXPECT_EQ(q.h.model.Combo1.text, "COM");

    // A wheel over a box the operator is not in changes nothing.
    q.Find<QWidget>("ComStart")->setFocus();
    auto* other = q.Find<QComboBox>(box + "_0");
    QWheelEvent wheel(QPointF(5, 5), other->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(other, &wheel);
    EXPECT_EQ(q.h.model.Frequency[0].text, "434.700");
    EXPECT_EQ(other->currentText().toStdString(), "434.700");
}

TEST_P(EachTool, LeavingABoxChecksItAgain) {
    QtHarness q(Profile(GetParam()));
    q.win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(q.win.get()));
    auto* combo = q.Find<QComboBox>(Profile(GetParam()).frequencyControl + "_1");
    combo->setFocus();
    // A green box (confirmed by the module) whose text is out of the band.
    q.win->Handle([&] {
        q.h.model.OnFrequencyChange(1, "435.000");
        q.h.model.Frequency[1].back = window::Colour::Ok;
    });
    QTest::keyClick(combo, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), combo);
    EXPECT_EQ(q.h.model.Frequency[1].back, window::Colour::RangeError);
    EXPECT_EQ(combo->lineEdit()->palette().color(QPalette::Base), QColor(255, 255, 192));
}

// Every status line shows its longest message whole.
TEST_P(EachTool, StatusLinesHoldTheirLongestMessages) {
    QtHarness q(Profile(GetParam()));
    const struct {
        const char* label;
        std::vector<std::string> messages;
    } lines[] = {
        {"P_Message", {"Com port Error!", Profile(GetParam()).comNotOpenMessage}},
        {"C_Message", {"Not Response!! (or target error)", "Target error!!", "Flash Clear Error!"}},
        {"T_Message",
         {"Not Response!!", "Discrepancy!!", "Test Data error!!", "Flash Write Error!!",
          "Common Parameter Error!", "Flash Clear Error!!", "Table File Write Error!!"}},
        {"L_Message", {"Log File Write Error!!"}},
    };
    for (const auto& line : lines) {
        auto* label = q.Find<QLabel>(line.label);
        for (const std::string& message : line.messages) {
            const int width =
                label->fontMetrics().horizontalAdvance(QString::fromStdString(message));
            EXPECT_LE(width, label->contentsRect().width()) << line.label << ": " << message;
        }
    }
}

TEST_P(EachTool, AnIdleRefreshWritesNoWidgetAndFiresNoSignal) {
    QtHarness q(Profile(GetParam()));
    q.h.Advance(50);  // the first refresh fills the grid and the counters
    const long writes = q.win->WidgetWrites();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int n = 0; n < 4; ++n) {
        auto* combo =
            q.Find<QComboBox>(Profile(GetParam()).frequencyControl + "_" + std::to_string(n));
        spies.push_back(std::make_unique<QSignalSpy>(combo, &QComboBox::editTextChanged));
    }
    auto* grid = q.Find<QTableWidget>("MSFlexGrid1");
    spies.push_back(std::make_unique<QSignalSpy>(grid, &QTableWidget::itemChanged));
    for (int tick = 0; tick < 10; ++tick) q.h.clock.NextTick();
    EXPECT_EQ(q.h.clock.Now(), 550);
    EXPECT_EQ(q.win->WidgetWrites(), writes);
    for (const auto& spy : spies) EXPECT_EQ(spy->count(), 0);
}

// Term is edited at its two ends rather than rewritten; what it shows must
// still be exactly the last 1000 received characters, CR and CR LF as line
// breaks.
TEST_P(EachTool, TermShowsTheLastReceivedTextAsItArrives) {
    QtHarness q(Profile(GetParam()));
    q.h.OpenPort();
    auto* term = q.Find<QPlainTextEdit>("Term");
    std::string received;
    unsigned seed = 7;
    for (int event = 0; event < 400; ++event) {
        std::string chunk;
        const int size = 1 + static_cast<int>((seed = seed * 1103515245 + 12345) >> 16) % 40;
        for (int i = 0; i < size; ++i) {
            const unsigned pick = (seed = seed * 1103515245 + 12345) >> 16;
            chunk += "*V R1.05 \r\nABC\xb0"[pick % 16];
        }
        q.h.port.Receive(chunk);
        received += chunk;
        const std::string last =
            received.size() > 1000 ? received.substr(received.size() - 1000) : received;
        QString expected = QString::fromLatin1(last.data(), static_cast<int>(last.size()));
        expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        expected.replace('\r', '\n');
        ASSERT_EQ(term->toPlainText().toStdString(), expected.toStdString()) << "event " << event;
    }
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

// From the rendered box: its background (the commonest colour inside the
// frame) and how well its text (the colour that stands out most) contrasts.
struct Rendered {
    QColor background;
    double contrast = 0;
};
Rendered RenderedText(QWidget* w) {
    // Taken from the whole window, so that what is drawn behind the widget
    // (its frame's background) is part of the picture.
    QWidget* top = w->window();
    const QImage image = top->grab(QRect(w->mapTo(top, QPoint(0, 0)), w->size())).toImage();
    const QRect inside = QRect(QPoint(0, 0), image.size()).adjusted(3, 3, -3, -3);
    std::map<QRgb, int> counts;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) ++counts[image.pixel(x, y)];
    Rendered r;
    int most = 0;
    for (const auto& [rgb, n] : counts) {
        if (n > most) most = n, r.background = QColor(rgb);
    }
    for (const auto& [rgb, n] : counts)
        r.contrast = std::max(r.contrast, Contrast(QColor(rgb), r.background));
    return r;
}

// A desktop theme, put in place for the application while it lives: the
// dark and light window backgrounds operators have.
struct Theme {
    explicit Theme(bool dark) : saved(QApplication::palette()) {
        const QColor window = dark ? QColor(0x30, 0x35, 0x3a) : QColor(0xec, 0xec, 0xec);
        const QColor text = dark ? QColor(239, 240, 241) : QColor(0, 0, 0);
        const QColor base = dark ? QColor(35, 38, 41) : QColor(255, 255, 255);
        QPalette p;
        for (auto [role, colour] : {std::pair{QPalette::Window, window},
                                    {QPalette::WindowText, text},
                                    {QPalette::Base, base},
                                    {QPalette::Text, text},
                                    {QPalette::Button, window},
                                    {QPalette::ButtonText, text}}) {
            p.setColor(role, colour);
        }
        for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
            p.setColor(QPalette::Disabled, role, dark ? QColor(150, 153, 155) : QColor(96, 96, 96));
        QApplication::setPalette(p);
        // The change reaches the widgets, then the window follows it.
        QApplication::processEvents();
        QApplication::processEvents();
    }
    ~Theme() { QApplication::setPalette(saved); }
    QPalette saved;
};

// A dark desktop theme must not leave light text on the fixed light
// backgrounds: every coloured box, the disabled port box included. The
// boxes in the system's colours and the status lines follow a theme switched
// while running, also when it is switched again.
TEST_P(EachTool, ColouredBoxesStayReadableOnADarkTheme) {
    QtHarness q(Profile(GetParam()), true);
    Theme dark(true);  // the theme changes while the tool runs
    const std::string box = Profile(GetParam()).frequencyControl;
    q.win->Handle([&] {
        auto& m = q.h.model;
        m.OnComStartClick();  // the port box turns green and is disabled
        m.OnFrequencyChange(1, "435.000");
        m.OnFrequencyChange(2, "434,075");
        m.Frequency[0].back = window::Colour::Ok;
        m.Version.text = "R1.05";
        m.Serial.text = "00074565";
        m.FactoryDate.text = "2026/12/08";
        m.FOffsetV.text = "+12";
        m.T_Message.text = "Discrepancy!!";
    });
    q.h.Advance(60);
    ASSERT_FALSE(q.Find<QWidget>("Combo1")->isEnabled());

    std::vector<std::pair<std::string, QWidget*>> boxes;
    const auto edit = [&](const std::string& name) {
        auto* combo = q.Find<QComboBox>(name);
        boxes.emplace_back(name, combo->lineEdit());
    };
    edit("Combo1");
    for (int n = 0; n < 4; ++n) edit(box + "_" + std::to_string(n));
    for (const char* name :
         {"T_Message", "Version", "Serial", "FactoryDate", "FOffsetV", "LoFrequency_0", "ChStep_0",
          "Rcounter_0", "ProgramCounter_0", "SwallowCounter_0"}) {
        if (auto* w = q.Find<QWidget>(name)) boxes.emplace_back(name, w);
    }
    for (const auto& [name, w] : boxes) {
        const Rendered r = RenderedText(w);
        EXPECT_GE(r.contrast, 4.5) << name << " on " << r.background.name().toStdString();
    }
    EXPECT_EQ(RenderedText(boxes[0].second).background, QColor(192, 255, 192));
    EXPECT_EQ(RenderedText(boxes[4].second).background, QColor(35, 38, 41));  // channel 3
    EXPECT_EQ(RenderedText(q.Find<QWidget>("LogFileName")).background, QColor(35, 38, 41));
    EXPECT_TRUE(q.win->grab().save(ScreenshotPath(GetParam(), "dark")));
    // And back to a light theme: the fixed colours are still there.
    Theme light(false);
    for (const auto& [name, w] : boxes) {
        const Rendered r = RenderedText(w);
        EXPECT_GE(r.contrast, 4.5) << name << " on " << r.background.name().toStdString();
    }
    EXPECT_EQ(RenderedText(boxes[0].second).background, QColor(192, 255, 192));
}

// Every status line, with a message in it, and every box in each of its
// colours reads at 4.5 or more against what is drawn behind it, measured
// from the rendered pixels on a light theme and after a switch to a dark
// one. The figures are printed; the pictures go beside the screenshots.
TEST_P(EachTool, MessagesAndColouredBoxesReadOnLightAndDarkThemes) {
    const std::string box = Profile(GetParam()).frequencyControl;
    std::vector<std::string> names = {"P_Message", "C_Message",  "T_Message", "L_Message",
                                      "Combo1",    "Version",    "Serial",    "FactoryDate",
                                      "FOffsetV",  "LogFileName"};
    for (int n = 0; n < 4; ++n) names.push_back(box + "_" + std::to_string(n));
    if (GetParam() == "recvsetup") {
        names.insert(names.end(), {"ChStep_0", "ChStep_1", "LoFrequency_0"});
    }
    for (const bool dark : {false, true}) {
        const char* themeName = dark ? "dark" : "light";
        Theme theme(dark);
        QtHarness q(Profile(GetParam()), true);
        q.win->Handle([&] {
            auto& m = q.h.model;
            m.OnComStartClick();  // green, disabled; identity boxes grey
            m.P_Message.text = m.Profile().comNotOpenMessage;
            m.C_Message.text = "Not Response!! (or target error)";
            m.T_Message.text = "Discrepancy!!";
            m.L_Message.text = "Log File Write Error!!";
            m.Frequency[0].back = window::Colour::Ok;
            m.OnFrequencyChange(1, "435.000");  // out of the band
            m.OnFrequencyChange(2, "434,075");  // not exactly made
            m.Version.text = "R1.05";
            m.Version.back = window::Colour::Ok;
            m.Serial.text = "00074565";
            m.FactoryDate.text = "2026/12/08";
            m.FOffsetV.text = "+12";
            m.ChStep[0].back = window::Colour::Ok;
        });
        q.h.Advance(60);
        for (const std::string& name : names) {
            QWidget* w = q.Find<QWidget>(name);
            if (!w) continue;  // FOffsetV only in sendsetup
            if (auto* combo = qobject_cast<QComboBox*>(w)) w = combo->lineEdit();
            const Rendered r = RenderedText(w);
            std::printf("contrast %s %s %s: %.2f on %s\n", GetParam().c_str(), themeName,
                        name.c_str(), r.contrast, r.background.name().toStdString().c_str());
            EXPECT_GE(r.contrast, 4.5) << themeName << " " << name;
        }
        // The messages stay red.
        const QColor red = q.Find<QLabel>("T_Message")->palette().color(QPalette::WindowText);
        EXPECT_EQ(red.hue(), 0) << themeName;
        EXPECT_TRUE(q.win->grab().save(
            ScreenshotPath(GetParam(), dark ? "contrast-dark" : "contrast-light")));
    }
}

// Starting a sequence from the keyboard (Space, Return or the keypad's
// Enter) disables its button. The focus must not pass on to "Default Set" or
// the log check box, where the operator's next Space or Enter would reset
// the plan or stop the log. Once the sequence is over it is back on the
// button, except after a write: there it is on "Check", so that a second
// Enter does not write the module again.
TEST_P(EachTool, KeysAfterStartingASequenceChangeNoData) {
    const Qt::KeyboardModifiers keypad = Qt::KeypadModifier;
    const struct {
        const char* button;
        Qt::Key start;
        Qt::KeyboardModifiers modifiers;
        Qt::Key further;
        const char* focusAfter;
    } cases[] = {
        {"GetInfoSW", Qt::Key_Space, {}, Qt::Key_Space, "GetInfoSW"},
        {"GetInfoSW", Qt::Key_Return, {}, Qt::Key_Enter, "GetInfoSW"},
        {"GetInfoSW", Qt::Key_Enter, keypad, Qt::Key_Enter, "GetInfoSW"},
        {"ChWriteSW", Qt::Key_Space, {}, Qt::Key_Space, "ChCheckSW"},
        {"ChWriteSW", Qt::Key_Enter, keypad, Qt::Key_Return, "ChCheckSW"},
        {"ChCheckSW", Qt::Key_Space, {}, Qt::Key_Space, "ChCheckSW"},
        {"ChCheckSW", Qt::Key_Return, {}, Qt::Key_Space, "ChCheckSW"},
        {"ChCheckSW", Qt::Key_Enter, keypad, Qt::Key_Enter, "ChCheckSW"},
    };
    for (const auto& c : cases) {
        QtHarness q(Profile(GetParam()));
        q.win->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(q.win.get()));
        q.win->Handle([&] {
            q.h.OpenPort();
            q.h.model.EnableModuleButtons();
            q.h.model.OnFrequencyChange(1, "433.100");
        });
        const std::string trace = std::string(c.button) + " " + std::to_string(c.start) +
                                  (c.modifiers ? " on the keypad" : "");
        QWidget* button = q.Find<QWidget>(c.button);
        button->setFocus();
        QTest::keyClick(button, c.start, c.modifiers);
        ASSERT_FALSE(button->isEnabled()) << trace << ": the sequence did not start";
        for (int press = 0; press < 3; ++press) {
            QTest::keyClick(QApplication::focusWidget(), c.further);
        }
        EXPECT_EQ(q.h.model.Frequency[1].text, "433.100") << trace;
        EXPECT_EQ(q.h.model.Check1.value, 1) << trace;
        EXPECT_TRUE(q.Find<QCheckBox>("Check1")->isChecked()) << trace;

        q.h.Advance(10000);  // the module never answers: the sequence ends
        ASSERT_TRUE(button->isEnabled()) << trace;
        EXPECT_EQ(QApplication::focusWidget(), q.Find<QWidget>(c.focusAfter)) << trace;
    }
    // A test leaves its button enabled, and the focus on it; the keypad's
    // Enter starts it as well.
    QtHarness q(Profile(GetParam()));
    q.win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(q.win.get()));
    q.win->Handle([&] {
        q.h.OpenPort();
        q.h.model.EnableModuleButtons();
    });
    QWidget* test = q.Find<QWidget>("ChTestSW_2");
    test->setFocus();
    QTest::keyClick(test, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(q.Find<QWidget>("ChWriteSW")->isEnabled()) << "the test did not start";
    q.h.Advance(10000);
    EXPECT_TRUE(q.Find<QWidget>("ChWriteSW")->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), test);
}

// Write's green and Check's green look alike; the tooltip of a green box
// says which of the two made it green.
TEST_P(EachTool, AGreenBoxSaysWhetherTheModuleEchoedOrReadBack) {
    QtHarness q(Profile(GetParam()));
    module_test::FakeModule module(GetParam() == "recvsetup" ? 'R' : 'T');
    module.Attach(q.h);
    q.win->Handle([&] { q.h.OpenPort(); });
    q.h.Advance(60);  // the grid holds the registers to write
    QTest::mouseClick(q.Find<QAbstractButton>("GetInfoSW"), Qt::LeftButton);
    q.h.Advance(10000);
    ASSERT_TRUE(q.Find<QWidget>("ChWriteSW")->isEnabled());
    auto* box = q.Find<QComboBox>(Profile(GetParam()).frequencyControl + "_2");
    const struct {
        const char* button;
        const char* says;
        const char* not_;
    } cases[] = {
        {"ChWriteSW", "the module echoed this frequency", "read back"},
        {"ChCheckSW", "the module read back this frequency", "echoed"},
    };
    for (const auto& c : cases) {
        QTest::mouseClick(q.Find<QAbstractButton>(c.button), Qt::LeftButton);
        q.h.Advance(10000);
        ASSERT_EQ(q.h.model.Frequency[2].back, window::Colour::Ok) << c.button;
        const std::string tip = box->toolTip().toStdString();
        EXPECT_NE(tip.find(c.says), std::string::npos) << c.button << ": " << tip;
        EXPECT_EQ(tip.find(c.not_), std::string::npos) << c.button << ": " << tip;
        // What the registers make is still there.
        EXPECT_EQ(tip.rfind("Makes ", 0), 0u) << tip;
    }
    // A box that is no longer green no longer says so.
    q.win->Handle([&] { q.h.model.OnFrequencyChange(2, "433.100"); });
    EXPECT_EQ(box->toolTip().toStdString().find("Green"), std::string::npos);
}

TEST_P(EachTool, ThePortListIsFoundAgainWhenItDropsDownAndTellsTheDevice) {
    QtHarness q(Profile(GetParam()));
    auto* combo = q.Find<QComboBox>("Combo1");
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), "COM99");
    q.h.port.openable = {1, 4};
    combo->showPopup();
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1).toStdString(), "COM4");
    EXPECT_EQ(combo->itemData(1, Qt::ToolTipRole).toString().toStdString(), "Device: ttyFAKE4");
    EXPECT_EQ(combo->currentText().toStdString(), "COM99");
    EXPECT_EQ(q.h.model.Combo1.text, "COM99");
    combo->hidePopup();
}

TEST(FormWindow, TheReceiverCounterHeadingsStandOverTheirColumns) {
    QtHarness q(RecvSetupProfile(), true);
    auto* heading = q.Find<QLabel>("Label14");
    const QString text = heading->text();
    ASSERT_EQ(text.toStdString(), " R        N        A");
    const QFontMetrics metrics(heading->font());
    const int left = heading->x() + heading->contentsRect().left();
    const struct {
        QChar letter;
        const char* column;
    } columns[] = {{'R', "Rcounter_0"}, {'N', "ProgramCounter_0"}, {'A', "SwallowCounter_0"}};
    for (const auto& c : columns) {
        const int at = static_cast<int>(text.indexOf(c.letter));
        const double centre = left + metrics.horizontalAdvance(text.left(at)) +
                              metrics.horizontalAdvance(c.letter) / 2.0;
        QWidget* column = q.Find<QWidget>(c.column);
        const double columnCentre = column->x() + column->width() / 2.0;
        EXPECT_LE(std::abs(centre - columnCentre), column->width() / 4.0) << c.column;
    }
}

TEST(FormWindow, TheTableDialogFilterNamesEachChoiceOnce) {
    // "*.*" would hide names without a dot on Linux.
    EXPECT_EQ(window::QtFilter("Freq. Table File(*.tbl)|*.tbl|All File|*.*|").toStdString(),
              "Freq. Table File(*.tbl);;All File (*)");
}

}  // namespace
