// The yardstick the tools' start-up is meant against: recvsetup's window as
// a plain Qt form would build it, the same controls with the same names,
// places, fonts, captions, list entries and grid, created and filled
// directly, without the window model, its rendering or the port discovery.
// Started the same way as startup_probe; prints CLOCK_MONOTONIC at each
// stage and leaves when the window is first painted.
//
//   plain_form_probe
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <map>

#include "bench_support.h"
#include "first_frame.h"
#include "frequency.h"
#include "layout.h"
#include "recv_profile.h"
#include "twips.h"

namespace {

QFont Font(double points) {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    return font;
}

QWidget* Make(const window::ControlEntry& e, QWidget* parent, const QStringList& presets) {
    using K = window::ControlKind;
    const QString caption = QString::fromStdString(e.caption);
    switch (e.kind) {
        case K::Frame:
            return new QGroupBox(caption, parent);
        case K::Label:
            return new QLabel(caption, parent);
        case K::MessageLabel: {
            auto* label = new QLabel(parent);
            QPalette p;
            p.setColor(QPalette::WindowText, QColor(203, 0, 0));
            label->setPalette(p);
            return label;
        }
        case K::CounterLabel: {
            auto* label = new QLabel(QStringLiteral("0"), parent);
            label->setAlignment(Qt::AlignCenter);
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setAutoFillBackground(true);
            return label;
        }
        case K::TextBox:
            return new QLineEdit(QStringLiteral("recvsetup.log"), parent);
        case K::IdentityBox: {
            auto* box = new QLineEdit(parent);
            box->setReadOnly(true);
            box->setAlignment(Qt::AlignCenter);
            QPalette p;
            p.setColor(QPalette::Base, QColor(224, 224, 224));
            box->setPalette(p);
            return box;
        }
        case K::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            if (e.name != "Combo1") combo->addItems(presets);
            combo->setEditText(e.name == "Combo1" ? QStringLiteral("COM1")
                                                  : QStringLiteral("434.700"));
            return combo;
        }
        case K::Button:
            return new QPushButton(caption.isEmpty() ? QStringLiteral("Test") : caption, parent);
        case K::UpArrow:
        case K::DownArrow: {
            auto* button = new QToolButton(parent);
            button->setArrowType(e.kind == K::UpArrow ? Qt::UpArrow : Qt::DownArrow);
            return button;
        }
        case K::CheckBox: {
            auto* check = new QCheckBox(parent);
            check->setChecked(true);
            return check;
        }
        case K::Line: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
        case K::Grid: {
            auto* grid = new QTableWidget(6, 5, parent);
            grid->horizontalHeader()->hide();
            grid->verticalHeader()->hide();
            grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
            grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            const std::vector<std::string>& rows = RecvSetupProfile().Kind().registerNames;
            const char* heads[5] = {"Register", "Ch.0", "Ch.1", "Ch.2", "Ch.3"};
            for (int c = 0; c < 5; ++c) {
                grid->setColumnWidth(c, window::TwipsToPixels(c == 0 ? 1200 : 990));
                for (int r = 0; r < 6; ++r) {
                    QString text;
                    if (r == 0)
                        text = QString::fromLatin1(heads[c]);
                    else if (c == 0)
                        text = QString::fromStdString(rows[r - 1]);
                    else
                        text = QStringLiteral("A4");
                    grid->setItem(r, c, new QTableWidgetItem(text));
                }
            }
            return grid;
        }
        case K::Term: {
            auto* term = new QPlainTextEdit(parent);
            term->setReadOnly(true);
            term->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            return term;
        }
    }
    return new QWidget(parent);
}

}  // namespace

int main(int argc, char** argv) {
    const long long entered = bench::MonotonicNs();
    probe::Stage("main", entered);
    QApplication app(argc, argv);
    probe::Stage("application", bench::MonotonicNs());

    QWidget form;
    form.setObjectName(QStringLiteral("Form1"));
    form.setFont(Font(9.75));
    form.setWindowTitle(QStringLiteral("ZRV-RX-H4(434Z)_Setup   Ver.=1.5.2"));
    form.setFixedSize(window::TwipsToPixels(6060 - 90), window::TwipsToPixels(7830 - 405));
    QStringList presets;
    for (const std::string& entry : channel::FrequencyPresetList())
        presets << QString::fromStdString(entry);
    std::map<std::string, QWidget*> made;
    for (const window::ControlEntry& e : window::ControlTable(RecvSetupProfile())) {
        QWidget* parent = e.parent.empty() ? &form : made.at(e.parent);
        QWidget* w = Make(e, parent, presets);
        w->setObjectName(QString::fromStdString(e.name));
        w->setGeometry(window::TwipsToPixels(e.x), window::TwipsToPixels(e.y),
                       window::TwipsToPixels(e.w), std::max(1, window::TwipsToPixels(e.h)));
        if (e.fontPoints != 9.75) w->setFont(Font(e.fontPoints));
        const std::string& name = e.accessibleName.empty() ? e.caption : e.accessibleName;
        if (!name.empty()) w->setAccessibleName(QString::fromStdString(name));
        made[e.name] = w;
    }
    // What a form designer's form also has: the tab order.
    const std::vector<std::string> order = window::FocusOrder(RecvSetupProfile());
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(made.at(order[i]), made.at(order[i + 1]));
    probe::Stage("window-built", bench::MonotonicNs());
    probe::FirstFrame firstFrame;
    form.show();
    probe::Stage("started-and-shown", bench::MonotonicNs());
    return app.exec();
}
