// The real widgets under the offscreen platform: the control set, captions,
// states, focus order, both layouts, and that rendering writes only changes.
#include "form_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QWheelEvent>

#include "fakes.h"
#include "layout.h"
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
        h.clock.SetTickHandler(
            [this](window::TimerId id) { win->Handle([this, id] { h.model.OnTimer(id); }); });
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
        EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0)) << name;
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

TEST_P(EachTool, TabWalksTheFocusOrder) {
    QtHarness q(Profile(GetParam()));
    // Disabled controls are skipped: enable them all for the walk.
    for (QWidget* w : q.win->findChildren<QWidget*>()) w->setEnabled(true);
    q.win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(q.win.get()));
    const std::vector<std::string> order = window::FocusOrder(Profile(GetParam()));
    q.Find<QWidget>(order.front())->setFocus();
    for (std::size_t i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An editable list takes the focus in its edit field.
        if (focus && qobject_cast<QComboBox*>(focus->parentWidget())) focus = focus->parentWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_EQ(focus->objectName().toStdString(), order[i]) << "after " << order[i - 1];
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

        const QString folder = qEnvironmentVariable("SETUP_TEST_OUTPUT", QDir::tempPath());
        QDir().mkpath(folder);
        const QString file = QStringLiteral("%1/%2-%3.png")
                                 .arg(folder, QString::fromStdString(GetParam()),
                                      debug ? QStringLiteral("debug") : QStringLiteral("normal"));
        EXPECT_TRUE(q.win->grab().save(file));
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

}  // namespace
