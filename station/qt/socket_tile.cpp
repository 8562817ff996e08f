#include "socket_tile.h"

#include <QAccessible>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace station {

namespace {

// A state the socket stays in until the module is taken out.
bool Final(Phase p) {
    return p == Phase::Passed || p == Phase::Failed || p == Phase::NotRecorded ||
           p == Phase::Skipped;
}

}  // namespace

TileView ViewOf(const Socket& socket) {
    TileView v;
    v.phase = socket.CurrentPhase();
    v.state = socket.PhaseText();
    const record::Attempt& last = socket.LastAttempt();
    const bool result = v.phase == Phase::Passed || v.phase == Phase::Failed;
    v.serial = Final(v.phase) ? last.serial : socket.Serial();
    v.durationMs = result ? last.durationMs : -1;
    v.progress = socket.Progress();
    return v;
}

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

// The large line, and the reason of a FAIL below it in ordinary size.
QString StateText(const TileView& v) {
    const QString text = QString::fromStdString(v.state);
    // U+2714 heavy check mark and U+2716 heavy multiplication x: the word
    // and its mark tell the result without its colour.
    if (v.phase == Phase::Passed) return QString::fromUtf8("\u2714 ") + text;
    if (v.phase == Phase::Failed) return QString::fromUtf8("\u2716 FAIL");
    // U+26A0 warning sign, U+21B7 clockwise arrow (passed over).
    if (v.phase == Phase::NotRecorded) return QString::fromUtf8("\u26a0 NOT RECORDED");
    if (v.phase == Phase::Skipped) return QString::fromUtf8("\u21b7 SKIPPED");
    return text;
}

QString ReasonText(const TileView& v) {
    if (v.phase != Phase::Failed && v.phase != Phase::NotRecorded && v.phase != Phase::Skipped)
        return {};
    const std::size_t colon = v.state.find(": ");
    std::string reason = colon == std::string::npos ? std::string() : v.state.substr(colon + 2);
    if (v.phase == Phase::Skipped) {
        // Nothing more happens to it here: the operator's next step first.
        // The serial is on its own line below.
        if (!v.serial.empty() && reason.rfind(v.serial + " ", 0) == 0)
            reason.erase(0, v.serial.size() + 1);
        reason = "take it out: " + reason;
    }
    return QString::fromStdString(reason);
}

}  // namespace

SocketTile::SocketTile(int number, QWidget* parent) : QFrame(parent), number_(number) {
    setObjectName(QString("Socket_%1").arg(number));
    setAccessibleName(QString("Socket %1").arg(number));
    setFocusPolicy(Qt::TabFocus);
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(120, 100);
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
    state_->setMinimumHeight(36);
    reason_ = new QLabel(this);
    reason_->setObjectName(QString("SocketReason_%1").arg(number));
    reason_->setWordWrap(true);
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
    layout->addStretch(1);
    view_.state = "empty";
    Show(TileView{Phase::Empty, "empty", "", -1, 0});
}

void SocketTile::SetPort(const std::string& com, const std::string& device) {
    title_->setText(QString("Socket %1  %2").arg(number_).arg(QString::fromStdString(com)));
    // The end of a long device path is what tells adapters apart.
    const QString text = QString::fromStdString(device);
    device_->setText(device_->fontMetrics().elidedText(text, Qt::ElideLeft, 200));
    device_->setToolTip(QString::fromStdString(device));
}

void SocketTile::Show(const TileView& v) {
    if (shownOnce_ && v == view_) return;
    const char* style = v.phase == Phase::Passed           ? kPassStyle
                        : v.phase == Phase::Failed         ? kFailStyle
                        : v.phase == Phase::NotRecorded    ? kNotRecordedStyle
                        : v.phase == Phase::Skipped        ? kSkippedStyle
                        : v.phase == Phase::AdapterMissing ? kMissingStyle
                                                           : nullptr;
    // A new style sheet re-polishes the tile and its labels: only when the
    // look really changes, not at every identity poll of an empty socket.
    const bool lookChanged = !shownOnce_ || style != style_;
    style_ = style;
    const bool resultChanged =
        shownOnce_ && (v.phase != view_.phase || v.state != view_.state) &&
        (Final(v.phase) || v.phase == Phase::AdapterMissing);
    shownOnce_ = true;
    view_ = v;
    if (lookChanged) {
        QFont f = font();
        // PASS and FAIL largest; the longer words of the other two ends a
        // little smaller, so they fit a tile of the compact grid.
        const bool result = v.phase == Phase::Passed || v.phase == Phase::Failed;
        f.setPointSizeF(font().pointSizeF() * (result ? 2.0 : Final(v.phase) ? 1.5 : 1.25));
        f.setBold(Final(v.phase));
        state_->setFont(f);
        setStyleSheet(style ? QString(style).arg(objectName()) : QString());
    }
    const QString state = StateText(v);
    if (state_->text() != state) state_->setText(state);
    const QString reason = ReasonText(v);
    if (reason_->text() != reason) reason_->setText(reason);
    reason_->setVisible(!reason.isEmpty());
    const bool writing = v.phase == Phase::Writing;
    const bool checking = v.phase == Phase::Checking || v.phase == Phase::Confirming;
    progress_->setVisible(writing || checking);
    progress_->setValue(checking ? 4 : std::clamp(v.progress, 0, 4));
    progress_->setFormat(checking ? "checking" : "%v of 4 written");
    QString serial = QString::fromStdString(v.serial);
    if (v.durationMs >= 0) {
        serial += QString("  %1 s").arg(static_cast<double>(v.durationMs) / 1000.0, 0, 'f', 1);
    }
    serial_->setText(serial);
    setAccessibleDescription(QString::fromStdString(v.state));
    if (resultChanged) {
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
        if (v.phase != Phase::Passed) {
            QAccessibleEvent alert(this, QAccessible::Alert);
            QAccessible::updateAccessibility(&alert);
        }
    }
}

}  // namespace station
