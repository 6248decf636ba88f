#include "HoldBarView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace ow {

HoldBarView::HoldBarView(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(340, 14);
}

void HoldBarView::setProgress(double progress)
{
    // Called 30 times a second during a hold: store and ask for a redraw, nothing more.
    m_progress = progress;
    update();
}

void HoldBarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF bounds = rect();
    const qreal radius = bounds.height() * 0.5;
    painter.setBrush(QColor::fromRgbF(0.2f, 0.2f, 0.2f));
    painter.drawRoundedRect(bounds, radius, radius);
    if (m_progress <= 0.0)
        return;
    // Never narrower than a circle of the bar's height.
    const qreal width = std::max(bounds.width() * std::min(m_progress, 1.0), bounds.height());
    painter.setBrush(QColor::fromRgbF(0.686f, 0.573f, 0.992f));
    painter.drawRoundedRect(QRectF(bounds.left(), bounds.top(), width, bounds.height()), radius, radius);
}

} // namespace ow
