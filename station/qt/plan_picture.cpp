#include "plan_picture.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "leading_number.h"

namespace station {

PlanPicture::PlanPicture(QWidget* parent) : QWidget(parent) {
    setObjectName("PlanPicture");
    setAccessibleName("Plan picture");
    setMinimumHeight(84);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PlanPicture::SetPlan(const std::vector<ChannelPlan>& channels, const module::Kind& kind) {
    channels_ = channels;
    low_ = kind.bandLowMHz;
    high_ = kind.bandHighMHz;
    gridKHz_ = std::max(1, kind.gridKHz);
    QString description;
    for (int i = 0; i < static_cast<int>(channels_.size()); ++i) {
        const ChannelPlan& c = channels_[static_cast<std::size_t>(i)];
        description += QString("Ch%1 %2 MHz%3; ")
                           .arg(i)
                           .arg(QString::fromStdString(c.text))
                           .arg(Inexact(c) ? " inexact" : "");
    }
    setAccessibleDescription(description);
    update();
}

void PlanPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const int margin = 24;
    const int axis = height() - 18;
    const double width = std::max(1, this->width() - 2 * margin);
    const auto xOf = [&](double mhz) { return margin + (mhz - low_) / (high_ - low_) * width; };
    // The grid: a short tick every step, a long one every ten steps.
    p.setPen(QPen(pal.color(QPalette::Mid), 1));
    const double step = gridKHz_ / 1000.0;
    const int steps = static_cast<int>(std::lround((high_ - low_) / step));
    for (int k = 0; k <= steps; ++k) {
        const double x = xOf(low_ + k * step);
        const bool major = std::lround((low_ + k * step) * 1000) % (10 * gridKHz_) == 0;
        p.drawLine(QPointF(x, axis), QPointF(x, axis - (major ? 8 : 4)));
    }
    p.setPen(QPen(pal.color(QPalette::WindowText), 1));
    p.drawLine(QPointF(margin, axis), QPointF(margin + width, axis));
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.85);
    p.setFont(small);
    p.drawText(QRectF(0, axis + 2, 2 * margin + 40, 16), Qt::AlignLeft,
               QString::number(low_, 'f', 3));
    p.drawText(QRectF(this->width() - 2 * margin - 40, axis + 2, 2 * margin + 40, 16),
               Qt::AlignRight, QString::number(high_, 'f', 3));
    p.setFont(font());
    // Channels close together put their names on different rows.
    std::vector<QRectF> placed;
    for (int i = 0; i < static_cast<int>(channels_.size()); ++i) {
        const ChannelPlan& c = channels_[static_cast<std::size_t>(i)];
        if (c.text.empty()) continue;
        const double mhz = channel::LeadingNumber(c.text);
        const bool outside = mhz < low_ || mhz > high_;
        const double x = xOf(std::clamp(mhz, low_, high_));
        const bool inexact = Inexact(c) || outside;
        const QColor colour = pal.color(inexact ? QPalette::WindowText : QPalette::Highlight);
        const bool left = x + 7 + 50 > this->width();
        int row = 0;
        QRectF text;
        for (; row < 3; ++row) {
            const double y = 2 + row * 16;
            text = left ? QRectF(x - 7 - 50, y, 50, 16) : QRectF(x + 7, y, 50, 16);
            bool clear = true;
            for (const QRectF& r : placed) clear = clear && !r.intersects(text);
            if (clear) break;
        }
        placed.push_back(text);
        const double top = text.center().y();
        p.setPen(QPen(colour, 2, inexact ? Qt::DashLine : Qt::SolidLine));
        p.drawLine(QPointF(x, axis), QPointF(x, top + 5));
        const QRectF head(x - 5, top - 5, 10, 10);
        p.setBrush(inexact ? Qt::NoBrush : QBrush(colour));
        p.setPen(QPen(colour, 2));
        p.drawEllipse(head);
        p.setPen(pal.color(QPalette::WindowText));
        const QString label = QString("Ch%1%2").arg(i).arg(inexact ? " !" : "");
        // Near the right end the name goes to the left of its line.
        p.drawText(text, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, label);
    }
}

}  // namespace station
