#include "socket_tile.h"

#include <QAccessible>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

namespace station {

namespace {

// Result colours: light text on a dark fill, contrast above 6 either way.
constexpr const char* kPassStyle =
    "QFrame#%1{background:#13652b;border:4px solid #0b3d1a;border-radius:6px;}"
    "QLabel{color:#ffffff;}";
constexpr const char* kFailStyle =
    "QFrame#%1{background:#a3001b;border:4px dashed #ffffff;border-radius:0px;}"
    "QLabel{color:#ffffff;}";
// Neither PASS nor FAIL, and unlike both: a double frame on deep violet for
// a module whose row the record could not keep, a dot-dash frame on grey for
// one left alone because it passed before.
constexpr const char* kNotRecordedStyle =
    "QFrame#%1{background:#311b92;border:6px double #ffffff;border-radius:0px;}"
    "QLabel{color:#ffffff;}";
constexpr const char* kSkippedStyle =
    "QFrame#%1{background:#cfd8dc;border:3px dot-dash #263238;border-radius:6px;}"
    "QLabel{color:#000000;}";
constexpr const char* kMissingStyle =
    "QFrame#%1{background:#ffd54f;border:2px dotted #000000;}"
    "QLabel{color:#000000;}";

const char* StyleOf(TileLook look) {
    switch (look) {
        case TileLook::Pass:
            return kPassStyle;
        case TileLook::Fail:
            return kFailStyle;
        case TileLook::NotRecorded:
            return kNotRecordedStyle;
        case TileLook::Skipped:
            return kSkippedStyle;
        case TileLook::AdapterMissing:
            return kMissingStyle;
        case TileLook::Plain:
            break;
    }
    return nullptr;
}

}  // namespace

SocketTile::SocketTile(int number, QWidget* parent) : QFrame(parent), number_(number) {
    setObjectName(QString("Socket_%1").arg(number));
    setAccessibleName(QString("Socket %1").arg(number));
    setFocusPolicy(Qt::TabFocus);
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(120, 96);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(2);
    title_ = new QLabel(QString("Socket %1").arg(number), this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    device_ = new QLabel(this);
    device_->setTextInteractionFlags(Qt::NoTextInteraction);
    state_ = new QLabel(this);
    state_->setObjectName(QString("SocketState_%1").arg(number));
    // One line: a wrapped label makes every layout pass of the grid lay out
    // its text again, and the state is short (a FAIL's reason goes below).
    reason_ = new QLabel(this);
    reason_->setObjectName(QString("SocketReason_%1").arg(number));
    reason_->setWordWrap(true);
    reason_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    reason_->hide();
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 4);
    progress_->setTextVisible(true);
    QSizePolicy keep = progress_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    progress_->setSizePolicy(keep);
    progress_->hide();
    serial_ = new QLabel(this);
    for (QWidget* w : {static_cast<QWidget*>(title_), static_cast<QWidget*>(device_),
                       static_cast<QWidget*>(state_), static_cast<QWidget*>(reason_),
                       static_cast<QWidget*>(progress_), static_cast<QWidget*>(serial_)}) {
        // Long texts wrap or elide instead of widening the tile: the grid
        // keeps its columns equal.
        w->setSizePolicy(QSizePolicy::Ignored, w->sizePolicy().verticalPolicy());
        layout->addWidget(w);
    }
    // A long reason is cut at two lines, never making its tile taller than
    // the others in its row; the tooltip and the description hold it whole.
    reason_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addStretch(1);
    SetCompact(false);
    TileView empty;
    empty.state = "empty";
    Show(WordsOf(empty));
}

void SocketTile::SetPort(const std::string& com, const std::string& device) {
    title_->setText(QString("Socket %1  %2").arg(number_).arg(QString::fromStdString(com)));
    title_->setToolTip(QString::fromStdString(device));
    // The end of a long device path is what tells adapters apart.
    const QString text = QString::fromStdString(device);
    device_->setText(device_->fontMetrics().elidedText(text, Qt::ElideLeft, 200));
    device_->setToolTip(text);
}

void SocketTile::SetCompact(bool compact) {
    compact_ = compact;
    layout()->setContentsMargins(compact ? 5 : 8, compact ? 3 : 6, compact ? 5 : 8, compact ? 3 : 6);
    device_->setVisible(!compact);
    state_->setMinimumHeight(compact ? 24 : 36);
    const int lines = reason_->fontMetrics().lineSpacing() * 2;
    reason_->setFixedHeight(lines);
    progress_->setMaximumHeight(compact ? 14 : 22);
    SetStateFont();
}

void SocketTile::SetStateFont() {
    QFont f = font();
    // PASS and FAIL largest; the longer words of the other two ends a little
    // smaller, so they fit a tile of the compact grid.
    const double scale = words_.result ? 2.0 : words_.final ? 1.5 : 1.25;
    f.setPointSizeF(font().pointSizeF() * (compact_ ? scale * 0.8 : scale));
    f.setBold(words_.final);
    state_->setFont(f);
}

void SocketTile::Show(const TileWords& w) {
    if (shownOnce_ && w == words_) return;
    // A new style sheet re-polishes the tile and its labels: only when the
    // look really changes, not at every identity poll of an empty socket.
    const bool lookChanged = !shownOnce_ || w.look != look_ || w.final != words_.final ||
                             w.result != words_.result;
    const bool resultChanged = shownOnce_ && w.description != words_.description &&
                               (w.final || w.look == TileLook::AdapterMissing);
    shownOnce_ = true;
    look_ = w.look;
    words_ = w;
    if (lookChanged) {
        SetStateFont();
        const char* style = StyleOf(w.look);
        setStyleSheet(style ? QString(style).arg(objectName()) : QString());
    }
    const QString state = QString::fromStdString(w.headline);
    if (state_->text() != state) state_->setText(state);
    const QString reason = QString::fromStdString(w.reason);
    if (reason_->text() != reason) {
        reason_->setText(reason);
        reason_->setToolTip(reason);
    }
    reason_->setVisible(!reason.isEmpty());
    progress_->setVisible(!w.progress.empty());
    progress_->setRange(0, w.progressMax);
    progress_->setValue(w.progressValue);
    progress_->setFormat(QString::fromStdString(w.progress));
    serial_->setText(QString::fromStdString(w.serialLine));
    setAccessibleDescription(QString::fromStdString(w.description));
    if (resultChanged) {
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
        if (w.look != TileLook::Pass) {
            QAccessibleEvent alert(this, QAccessible::Alert);
            QAccessible::updateAccessibility(&alert);
        }
    }
}

void SocketTile::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!hasFocus()) return;
    // The focus ring reads on every fill: a white band inside a black one,
    // so one of the two stands out against green, red, violet, grey, yellow
    // or the theme's own colour.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 3));
    p.drawRect(rect().adjusted(1, 1, -2, -2));
    p.setPen(QPen(Qt::white, 2));
    p.drawRect(rect().adjusted(4, 4, -5, -5));
}

void SocketTile::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    update();
}

void SocketTile::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    update();
}

}  // namespace station
