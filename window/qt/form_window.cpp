#include "form_window.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include "accessible_overrides.h"
#include "readable_colour.h"
#include "twips.h"

namespace window {

namespace {

// The window's outer size in the model includes a classic title bar and
// border; the client area is what is left of it.
constexpr long kBorderTwips = 90;
constexpr long kTitleAndBorderTwips = 405;

QFont ControlFont(double points) {
    QFont font;
    // Arial where present, its metric twin otherwise.
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    return font;
}

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

// Term shows received CR and CR LF as line breaks.
QString TermText(const std::string& text) {
    QString shown = FromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace('\r', '\n');
    return shown;
}

// Dark text for boxes with a fixed light background, whatever the desktop
// palette says; a light theme's text colour on them would be unreadable.
const QColor kTextOnFixed(0, 0, 0);
const QColor kDisabledTextOnFixed(80, 80, 80);

// An editable list that says when its list is about to drop down.
class DropDownCombo : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> aboutToDropDown;
    void showPopup() override {
        if (aboutToDropDown) aboutToDropDown();
        QComboBox::showPopup();
    }
};

bool HasBackground(ControlKind kind) {
    return kind == ControlKind::ComboBox || kind == ControlKind::TextBox ||
           kind == ControlKind::IdentityBox || kind == ControlKind::CounterLabel;
}

bool HoldsFocus(const QWidget* w, const QWidget* focus) {
    return focus && (focus == w || w->isAncestorOf(focus));
}

// Status lines are red, in the red that reads on the window's background:
// pure red is too light on a dark theme and too dark on a light grey one.
constexpr const char* kMessageLine = "messageLine";
void ApplyMessageColour(QLabel* label) {
    // Only the text colour is the label's own; the rest follows the theme.
    QPalette p;
    const QColor red = ReadableRed(QApplication::palette(label).color(QPalette::Window));
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(group, QPalette::WindowText, red);
    label->setPalette(p);
}

}  // namespace

FormWindow::FormWindow(FormModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("Form1"));
    // A fixed form: no maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(ControlFont(9.75));
    Build();
}

QWidget* FormWindow::Widget(const std::string& name) const {
    const auto it = widgets_.find(name);
    return it == widgets_.end() ? nullptr : it->second;
}

void FormWindow::Build() {
    for (const ControlEntry& entry : ControlTable(model_.Profile())) {
        QWidget* parent = entry.parent.empty() ? this : Widget(entry.parent);
        QWidget* w = MakeWidget(entry, parent);
        w->setObjectName(QString::fromStdString(entry.name));
        w->setGeometry(TwipsToPixels(entry.x), TwipsToPixels(entry.y), TwipsToPixels(entry.w),
                       std::max(1, TwipsToPixels(entry.h)));
        // Buttons without a name of their own are known by their caption.
        const std::string& accessible =
            entry.accessibleName.empty() ? entry.caption : entry.accessibleName;
        if (!accessible.empty()) w->setAccessibleName(QString::fromStdString(accessible));
        if (entry.fontPoints != 9.75) w->setFont(ControlFont(entry.fontPoints));
        widgets_[entry.name] = w;
        if (entry.name == "Frame5") frame5_ = static_cast<QGroupBox*>(w);
        if (entry.kind == ControlKind::Grid) {
            grid_ = static_cast<QTableWidget*>(w);
            grid_->installEventFilter(this);  // follows theme changes
        }

        Bound b;
        b.entry = entry;
        b.widget = w;
        b.control = BoundControl(model_, entry.name);
        const auto [base, index] = SplitControlName(entry.name);
        if (base == model_.Profile().frequencyControl && index >= 0 && index < 4) {
            b.greenMeaning = &model_.GreenMeaning[static_cast<std::size_t>(index)];
        }
        if (b.control && HasBackground(entry.kind)) w->installEventFilter(this);
        bound_.push_back(std::move(b));
    }
    for (Bound& b : bound_) {
        if (b.control) Connect(b);
    }
    for (const auto& [label, box] : LabelledBoxes(model_.Profile())) {
        if (auto* l = qobject_cast<QLabel*>(Widget(label))) l->setBuddy(Widget(box));
    }
    const std::vector<std::string> order = FocusOrder(model_.Profile());
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* a = Widget(order[i]);
        QWidget* b = Widget(order[i + 1]);
        if (a && b) setTabOrder(a, b);
    }
}

QWidget* FormWindow::MakeWidget(const ControlEntry& entry, QWidget* parent) {
    const QString caption = QString::fromStdString(entry.caption);
    switch (entry.kind) {
        case ControlKind::Frame:
            return new QGroupBox(caption, parent);
        case ControlKind::Label:
            return new QLabel(caption, parent);
        case ControlKind::MessageLabel: {
            auto* label = new QLabel(parent);
            label->setProperty(kMessageLine, true);
            ApplyMessageColour(label);
            label->installEventFilter(this);  // follows theme changes
            return label;
        }
        case ControlKind::CounterLabel: {
            auto* label = new QLabel(parent);
            label->setAlignment(Qt::AlignCenter);
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setAutoFillBackground(true);
            return label;
        }
        case ControlKind::TextBox:
            return new QLineEdit(parent);
        case ControlKind::IdentityBox: {
            // Filled only by the module's replies.
            auto* box = new QLineEdit(parent);
            OverrideAccessible(box, AccessibleOverride::ReadOnlyBox);
            box->setReadOnly(true);
            box->setAlignment(Qt::AlignCenter);
            return box;
        }
        case ControlKind::ComboBox: {
            auto* combo = new DropDownCombo(parent);
            // Marked before anything asks the toolkit about the list.
            if (SplitControlName(entry.name).first == model_.Profile().frequencyControl)
                OverrideAccessible(combo, AccessibleOverride::NamedList);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setMaxVisibleItems(16);
            // What the operator types is what the box holds: no completion
            // from the list ("434.02" must not become "434.025").
            combo->setCompleter(nullptr);
            // A wheel turned over a box the operator is not working in must
            // not change a frequency or the port (see eventFilter).
            combo->setFocusPolicy(Qt::StrongFocus);
            combo->installEventFilter(this);
            return combo;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(parent);
            button->installEventFilter(this);  // Enter presses it
            return button;
        }
        case ControlKind::UpArrow:
        case ControlKind::DownArrow: {
            auto* button = new QToolButton(parent);
            button->setArrowType(entry.kind == ControlKind::UpArrow ? Qt::UpArrow : Qt::DownArrow);
            button->setFocusPolicy(Qt::StrongFocus);
            button->installEventFilter(this);
            return button;
        }
        case ControlKind::CheckBox:
            return new QCheckBox(parent);
        case ControlKind::Line: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
        case ControlKind::Grid: {
            auto* grid = new QTableWidget(parent);
            grid->horizontalHeader()->hide();
            grid->verticalHeader()->hide();
            grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
            grid->setSelectionMode(QAbstractItemView::NoSelection);
            grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            grid->verticalHeader()->setMinimumSectionSize(1);
            grid->horizontalHeader()->setMinimumSectionSize(1);
            // Tab moves on to the next control, not to the next cell.
            grid->setTabKeyNavigation(false);
            return grid;
        }
        case ControlKind::Term: {
            auto* term = new QPlainTextEdit(parent);
            term->setReadOnly(true);
            term->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            term->setTabChangesFocus(true);
            return term;
        }
    }
    return new QWidget(parent);
}

void FormWindow::Connect(Bound& b) {
    const auto [base, index] = SplitControlName(b.entry.name);
    const std::string& name = b.entry.name;
    FormModel& m = model_;
    auto click = [this, &b](std::function<void()> handler) {
        QObject::connect(static_cast<QAbstractButton*>(b.widget), &QAbstractButton::clicked, this,
                         [this, handler] { Handle(handler); });
    };

    if (name == "ComStart") click([&m] { m.OnComStartClick(); });
    if (name == "GetInfoSW") click([&m] { m.OnGetInfoSWClick(); });
    if (name == "ChCheckSW") click([&m] { m.OnChCheckSWClick(); });
    if (name == "ChWriteSW") click([&m] { m.OnChWriteSWClick(); });
    if (name == "FreqDefaultSW") click([&m] { m.OnFreqDefaultSWClick(); });
    if (base == "ChTestSW") click([&m, i = index] { m.OnChTestSWClick(i); });
    if (base == "Fup") click([&m, i = index] { m.OnFupClick(i); });
    if (base == "Fdown") click([&m, i = index] { m.OnFdownClick(i); });
    if (base == "FreqLoadSaveSW") click([&m, i = index] { m.OnFreqLoadSaveSWClick(i); });
    if (name == "Check1") {
        auto* check = static_cast<QCheckBox*>(b.widget);
        QObject::connect(check, &QCheckBox::clicked, this, [this, &m](bool on) {
            Handle([&m, on] { m.OnCheck1Click(on ? 1 : 0); });
        });
    }
    if (name == "LogFileName") {
        QObject::connect(static_cast<QLineEdit*>(b.widget), &QLineEdit::textEdited, this,
                         [this, &m](const QString& text) {
                             Handle([&m, t = text.toStdString()] { m.OnLogFileNameChange(t); });
                         });
    }
    if (name == "Combo1") {
        static_cast<DropDownCombo*>(b.widget)->aboutToDropDown = [this, &m] {
            Handle([&m] { m.OnCombo1DropDown(); });
        };
        QObject::connect(static_cast<QComboBox*>(b.widget), &QComboBox::editTextChanged, this,
                         [this, &m](const QString& text) {
                             if (rendering_) return;
                             Handle([&m, t = text.toStdString()] { m.OnCombo1Change(t); });
                         });
    }
    if (base == m.Profile().frequencyControl) {
        auto* combo = static_cast<QComboBox*>(b.widget);
        QObject::connect(combo, &QComboBox::editTextChanged, this,
                         [this, &m, i = index](const QString& text) {
                             if (rendering_) return;
                             Handle([&m, i, t = text.toStdString()] { m.OnFrequencyChange(i, t); });
                         });
        // The list, not its edit field, holds the focus and sees it leave.
        combo->setProperty("channel", index);
    }
}

bool FormWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::PaletteChange && watched == grid_) PaintGridHeaders();
    if (event->type() == QEvent::PaletteChange && !applyingPalette_ &&
        watched->property(kMessageLine).isValid()) {
        applyingPalette_ = true;
        ApplyMessageColour(static_cast<QLabel*>(watched));
        applyingPalette_ = false;
    }
    if (event->type() == QEvent::PaletteChange && !rendering_ && !applyingPalette_) {
        // The desktop theme changed while the tool runs: a box in the
        // system's colours follows it, a fixed colour keeps its dark text.
        for (Bound& b : bound_) {
            if (b.widget == watched && b.control && !b.firstRender && HasBackground(b.entry.kind))
                ApplyBackground(b, b.shown.back);
        }
    }
    if (event->type() == QEvent::KeyPress) {
        // Operators used to other tools press Enter on a button as they
        // would Space, the keypad's Enter as well as the main one. A held
        // key does not repeat the press.
        auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat() && button->isEnabled()) button->click();
            return true;
        }
    }
    if (event->type() == QEvent::Wheel) {
        auto* combo = qobject_cast<QComboBox*>(watched);
        if (combo && !combo->hasFocus()) {
            event->ignore();
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        const QVariant channel = watched->property("channel");
        if (channel.isValid()) {
            const int i = channel.toInt();
            Handle([this, i] { model_.OnFrequencyLostFocus(i); });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormWindow::Handle(const std::function<void()>& handler) {
    if (shutDown_) return;
    handler();
    Render();
}

QColor FormWindow::QtColour(Colour colour) const {
    if (colour == Colour::Normal) return QPalette().color(QPalette::Base);
    const Rgb rgb = ColourValue(colour);
    return QColor(rgb.r, rgb.g, rgb.b);
}

void FormWindow::ApplyBackground(Bound& b, Colour colour) {
    QWidget* target = b.widget;
    if (auto* combo = qobject_cast<QComboBox*>(b.widget)) {
        if (combo->lineEdit()) target = combo->lineEdit();
    }
    // Only the roles set here are the box's own; the rest follows the theme.
    QPalette p;
    const QPalette system = QApplication::palette(target);
    const QColor c = QtColour(colour);
    const bool fixed = colour != Colour::Normal;
    const auto text = [&](QPalette::ColorRole role) {
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            QColor shown = system.color(group, role);
            if (fixed) shown = group == QPalette::Disabled ? kDisabledTextOnFixed : kTextOnFixed;
            p.setColor(group, role, shown);
        }
    };
    p.setColor(QPalette::Base, c);
    text(QPalette::Text);
    if (qobject_cast<QLabel*>(target)) {
        p.setColor(QPalette::Window, c);
        text(QPalette::WindowText);
    }
    if (qobject_cast<QComboBox*>(b.widget)) {
        p.setColor(QPalette::Button, c);
        text(QPalette::ButtonText);
    }
    applyingPalette_ = true;
    target->setPalette(p);
    applyingPalette_ = false;
}

void FormWindow::Render() {
    if (rendering_) return;
    rendering_ = true;
    RenderWindow();
    for (Bound& b : bound_) {
        if (b.control) RenderControl(b);
    }
    RenderGrid();
    rendering_ = false;
}

void FormWindow::RenderControl(Bound& b) {
    const Control& c = *b.control;
    Control& shown = b.shown;
    QWidget* w = b.widget;
    const QSignalBlocker block(w);
    const bool first = b.firstRender;
    b.firstRender = false;

    if (first || c.enabled != shown.enabled) {
        KeepFocusOffDisabled(w, c.enabled);
        w->setEnabled(c.enabled);
        if (c.enabled && parkedFocus_ == w) {
            // The operator's button is back: so is the focus, unless they
            // have put it somewhere else in the meantime.
            if (focusWidget() == this) w->setFocus(Qt::OtherFocusReason);
            parkedFocus_ = nullptr;
        }
        shown.enabled = c.enabled;
        ++widgetWrites_;
    }
    std::string toolTip = c.toolTip;
    if (b.greenMeaning && c.back == Colour::Ok && !b.greenMeaning->empty()) {
        if (!toolTip.empty()) toolTip += "\n";
        toolTip += *b.greenMeaning;
    }
    if (first || toolTip != shown.toolTip) {
        w->setToolTip(FromUtf8(toolTip));
        shown.toolTip = toolTip;
        ++widgetWrites_;
    }
    if (HasBackground(b.entry.kind) && (first || c.back != shown.back)) {
        ApplyBackground(b, c.back);
        shown.back = c.back;
        ++widgetWrites_;
    }

    switch (b.entry.kind) {
        case ControlKind::ComboBox: {
            auto* combo = static_cast<QComboBox*>(w);
            const QSignalBlocker blockEdit(combo->lineEdit());
            if (first || c.items != shown.items || c.itemToolTips != shown.itemToolTips) {
                const QString text = combo->currentText();
                combo->clear();
                QStringList items;
                for (const std::string& item : c.items) items << FromUtf8(item);
                combo->addItems(items);
                for (std::size_t i = 0; i < c.itemToolTips.size() && i < c.items.size(); ++i) {
                    combo->setItemData(static_cast<int>(i), FromUtf8(c.itemToolTips[i]),
                                       Qt::ToolTipRole);
                }
                combo->setEditText(text);
                shown.items = c.items;
                shown.itemToolTips = c.itemToolTips;
                ++widgetWrites_;
            }
            if (first || c.text != shown.text) {
                if (combo->currentText() != FromUtf8(c.text)) combo->setEditText(FromUtf8(c.text));
                shown.text = c.text;
                ++widgetWrites_;
            }
            break;
        }
        case ControlKind::TextBox:
        case ControlKind::IdentityBox:
            if (first || c.text != shown.text) {
                auto* edit = static_cast<QLineEdit*>(w);
                if (edit->text() != FromUtf8(c.text)) edit->setText(FromUtf8(c.text));
                shown.text = c.text;
                ++widgetWrites_;
            }
            break;
        case ControlKind::Button:
            if (first || c.text != shown.text) {
                static_cast<QAbstractButton*>(w)->setText(FromUtf8(c.text));
                shown.text = c.text;
                ++widgetWrites_;
            }
            break;
        case ControlKind::CheckBox:
            if (first || c.value != shown.value) {
                static_cast<QCheckBox*>(w)->setChecked(c.value == 1);
                shown.value = c.value;
                ++widgetWrites_;
            }
            break;
        case ControlKind::Term:
            if (first || c.text != shown.text) {
                RenderTerm(b);
                shown.text = c.text;
                ++widgetWrites_;
            }
            break;
        case ControlKind::Label:
        case ControlKind::MessageLabel:
        case ControlKind::CounterLabel:
            if (first || c.text != shown.text) {
                static_cast<QLabel*>(w)->setText(FromUtf8(c.text));
                // A named status line tells its message as its description.
                w->setAccessibleDescription(FromUtf8(c.text));
                shown.text = c.text;
                ++widgetWrites_;
                // A new message on a status line is an alert: screen readers
                // that follow alerts read it out without the focus moving.
                if (!first && b.entry.kind == ControlKind::MessageLabel && !c.text.empty()) {
                    QAccessibleEvent alert(w, QAccessible::Alert);
                    QAccessible::updateAccessibility(&alert);
                    ++alerts_;
                }
            }
            break;
        default:
            break;
    }
}

void FormWindow::KeepFocusOffDisabled(QWidget* w, bool enabled) {
    // Disabling the focused control makes Qt hand the focus to the next one
    // in the tab order: after "Get Info." that is "Default Set", after
    // "Write" the log check box, and the operator's next Space would reset
    // the plan or stop the log. The window itself holds the focus instead,
    // where keys do nothing.
    if (enabled || !HoldsFocus(w, focusWidget())) return;
    // After a write the next step is the check, which changes nothing; a
    // second Enter on "Write" would write the module again.
    parkedFocus_ = w == Widget("ChWriteSW") ? Widget("ChCheckSW") : w;
    setFocus(Qt::OtherFocusReason);
}

void FormWindow::KeepFocusOffHiddenFrame() {
    // The normal layout keeps the Debug frame outside the window, where its
    // controls cannot be seen. Tab must not stop on them: the focus would
    // seem to vanish. They take the focus again where the frame is in view.
    const bool hidden = !rect().intersects(frame5_->geometry());
    if (frame5Hidden_ == static_cast<int>(hidden)) return;
    frame5Hidden_ = hidden;
    for (QWidget* w : frame5_->findChildren<QWidget*>()) {
        // A widget with a focus proxy passes its policy on to the proxy
        // (a text box's viewport to the box): it follows the proxy.
        if (w->focusProxy()) continue;
        const QVariant own = w->property("ownFocusPolicy");
        if (!own.isValid()) w->setProperty("ownFocusPolicy", static_cast<int>(w->focusPolicy()));
        w->setFocusPolicy(
            hidden ? Qt::NoFocus
                   : static_cast<Qt::FocusPolicy>(w->property("ownFocusPolicy").toInt()));
    }
}

void FormWindow::RenderTerm(Bound& b) {
    // Term gains the received text at its end and loses its oldest text at
    // the front. Editing just those two ends keeps a receive event cheap;
    // replacing the whole text would lay out all of it again every time.
    auto* term = static_cast<QPlainTextEdit*>(b.widget);
    const QString now = TermText(b.control->text);
    const QString& before = b.termShown;
    qsizetype dropped = 0;
    while (dropped < before.size() && !now.startsWith(QStringView(before).mid(dropped))) ++dropped;
    if (before.isEmpty() || dropped == before.size()) {
        term->setPlainText(now);
    } else {
        QTextCursor cursor(term->document());
        cursor.beginEditBlock();
        if (dropped > 0) {
            cursor.setPosition(0);
            cursor.setPosition(static_cast<int>(dropped), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(now.mid(before.size() - dropped));
        cursor.endEditBlock();
    }
    b.termShown = now;
    // Keep the newest text in view.
    term->moveCursor(QTextCursor::End);
    term->verticalScrollBar()->setValue(term->verticalScrollBar()->maximum());
}

// The fixed row and column in the theme's button colours, text included, so
// a dark theme (also one switched while running) leaves them readable.
void FormWindow::PaintGridHeaders() {
    const QColor back = grid_->palette().color(QPalette::Button);
    const QColor text = grid_->palette().color(QPalette::ButtonText);
    for (int r = 0; r < grid_->rowCount(); ++r) {
        for (int c = 0; c < grid_->columnCount(); ++c) {
            if (r != 0 && c != 0) continue;
            if (QTableWidgetItem* item = grid_->item(r, c)) {
                item->setBackground(back);
                item->setForeground(text);
            }
        }
    }
}

void FormWindow::RenderGrid() {
    if (!grid_) return;
    const Grid& g = model_.MSFlexGrid1;
    const QSignalBlocker block(grid_);
    if (grid_->rowCount() != g.rows || grid_->columnCount() != g.cols) {
        grid_->setRowCount(g.rows);
        grid_->setColumnCount(g.cols);
        for (int r = 0; r < g.rows; ++r) {
            for (int c = 0; c < g.cols; ++c) grid_->setItem(r, c, new QTableWidgetItem());
        }
        PaintGridHeaders();
        const int rowHeight = (grid_->height() - 4) / std::max(1, g.rows);
        for (int r = 0; r < g.rows; ++r) grid_->setRowHeight(r, rowHeight);
        gridShown_.assign(g.cells.size(), std::string());
        gridWidthShown_.clear();
        gridAlignmentShown_.clear();
        ++widgetWrites_;
    }
    // The refresh rewrites the cells every 50 ms; only what differs from
    // what is shown reaches the widget.
    if (g.colWidth != gridWidthShown_ || g.colAlignment != gridAlignmentShown_) {
        for (int c = 0; c < g.cols; ++c) {
            const auto column = static_cast<std::size_t>(c);
            if (g.colWidth[column] > 0) grid_->setColumnWidth(c, TwipsToPixels(g.colWidth[column]));
            const Qt::Alignment align =
                (g.colAlignment[column] == Alignment::Centre ? Qt::AlignHCenter : Qt::AlignLeft) |
                Qt::AlignVCenter;
            for (int r = 0; r < g.rows; ++r) grid_->item(r, c)->setTextAlignment(align);
        }
        gridWidthShown_ = g.colWidth;
        gridAlignmentShown_ = g.colAlignment;
        ++widgetWrites_;
    }
    for (int r = 0; r < g.rows; ++r) {
        for (int c = 0; c < g.cols; ++c) {
            std::string& shown = gridShown_[static_cast<std::size_t>(r * g.cols + c)];
            if (shown != g.Cell(r, c)) {
                const QString text = FromUtf8(g.Cell(r, c));
                grid_->item(r, c)->setText(text);
                // The grid's own headers are hidden; the fixed row and column
                // stand in for them. Screen readers name a cell by its
                // headers, so these carry the fixed cells' texts.
                if (r == 0) grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(text));
                if (c == 0) grid_->setVerticalHeaderItem(r, new QTableWidgetItem(text));
                shown = g.Cell(r, c);
                ++widgetWrites_;
            }
        }
    }
}

QSize FormWindow::ClientSize() const {
    return QSize(TwipsToPixels(model_.Width - kBorderTwips),
                 TwipsToPixels(model_.Height - kTitleAndBorderTwips));
}

void FormWindow::RenderWindow() {
    const QString caption = FromUtf8(model_.Caption);
    if (windowTitle() != caption) {
        setWindowTitle(caption);
        ++widgetWrites_;
    }
    // Size and position go to the window system only when the model changes
    // them, so a window manager with its own idea is not asked again on
    // every refresh.
    const QSize client = ClientSize();
    if (client != sizeShown_) {
        setFixedSize(client);
        sizeShown_ = client;
        ++widgetWrites_;
    }
    if (frame5_) {
        const int x = TwipsToPixels(model_.Frame5Left);
        if (frame5_->x() != x) {
            frame5_->move(x, frame5_->y());
            ++widgetWrites_;
        }
        KeepFocusOffHiddenFrame();
    }
    const QPoint wanted(model_.LeftSet ? TwipsToPixels(model_.Left) : -1,
                        model_.TopSet ? TwipsToPixels(model_.Top) : -1);
    if (wanted != positionShown_) {
        positionShown_ = wanted;
        // A coordinate the settings did not give stays the window system's.
        const QPoint target(model_.LeftSet ? wanted.x() : pos().x(),
                            model_.TopSet ? wanted.y() : pos().y());
        if (pos() != target) {
            move(target);
            ++widgetWrites_;
        }
    }
}

void FormWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The focus starts on "Open" when the window first appears; restoring it
    // from the task bar leaves the focus where the operator had it.
    if (shownOnce_) return;
    shownOnce_ = true;
    if (QWidget* start = Widget("ComStart")) start->setFocus();
}

void FormWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A theme change reaches the controls one by one, and a control's own
    // colours set while it spreads do not always survive it. Once it has
    // reached them all, every control gets its colours again.
    if (event->type() != QEvent::PaletteChange || applyingPalette_ || themeFollowPending_) return;
    themeFollowPending_ = true;
    QTimer::singleShot(0, this, [this] { FollowTheme(); });
}

void FormWindow::FollowTheme() {
    themeFollowPending_ = false;
    applyingPalette_ = true;
    for (Bound& b : bound_) {
        if (b.control && !b.firstRender && HasBackground(b.entry.kind))
            ApplyBackground(b, b.shown.back);
        if (b.entry.kind == ControlKind::MessageLabel)
            ApplyMessageColour(static_cast<QLabel*>(b.widget));
    }
    applyingPalette_ = false;
    if (grid_) PaintGridHeaders();
}

void FormWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (rendering_ || shutDown_ || !isVisible()) return;
    const QPoint p = pos();
    model_.OnFormMove(PixelsToTwips(p.y()), PixelsToTwips(p.x()));
}

void FormWindow::closeEvent(QCloseEvent* event) {
    if (!shutDown_) {
        // Where the window system put the window is what gets saved.
        if (isVisible()) model_.OnFormMove(PixelsToTwips(pos().y()), PixelsToTwips(pos().x()));
        model_.ShutDown();
        shutDown_ = true;
        if (closedHandler_) closedHandler_();
    }
    event->accept();
}

}  // namespace window
