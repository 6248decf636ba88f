#include "HoldBarView.h"

#include "VisualKit.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ow {

namespace {

// Blurs an image in place with three box passes each way, which comes close to a
// Gaussian of the given blur radius (the radius a drop shadow is specified with).
void blur(QImage& image, qreal blurRadius)
{
    const int radius = std::max(1, int(std::lround(blurRadius / 2)));
    const int width = image.width();
    const int height = image.height();
    std::vector<int> sums(size_t(std::max(width, height)) + 1);
    std::vector<int> out(size_t(std::max(width, height)));
    auto pass = [&](bool horizontal) {
        const int lines = horizontal ? height : width;
        const int length = horizontal ? width : height;
        for (int line = 0; line < lines; ++line) {
            auto pixel = [&](int i) -> QRgb& {
                return horizontal ? reinterpret_cast<QRgb*>(image.scanLine(line))[i]
                                  : reinterpret_cast<QRgb*>(image.scanLine(i))[line];
            };
            for (int shift : {24, 16, 8, 0}) {
                sums[0] = 0;
                for (int i = 0; i < length; ++i)
                    sums[size_t(i) + 1] = sums[size_t(i)] + int((pixel(i) >> shift) & 0xff);
                for (int i = 0; i < length; ++i) {
                    const int from = std::max(0, i - radius);
                    const int to = std::min(length, i + radius + 1);
                    // Pixels beyond the edge count as transparent.
                    out[size_t(i)] = (sums[size_t(to)] - sums[size_t(from)]) / (2 * radius + 1);
                }
                for (int i = 0; i < length; ++i)
                    pixel(i) = (pixel(i) & ~(0xffu << shift)) | (QRgb(out[size_t(i)]) << shift);
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(true);
        pass(false);
    }
}

// The glow a shape casts around itself, clipped to the view like the shape.
QImage glow(const QSize& size, const QPainterPath& shape, const QColor& color, qreal blurRadius)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(shape, color);
    }
    blur(image, blurRadius);
    return image;
}

} // namespace

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
    const QRectF bounds = rect();
    const qreal height = bounds.height();
    const qreal radius = height * 0.5;

    QPainterPath track;
    track.addRoundedRect(bounds, radius, radius);
    painter.fillPath(track, QColor::fromRgbF(0.2f, 0.2f, 0.2f));
    if (m_progress <= 0.0)
        return;

    // Never narrower than a circle of the bar's height, so the start of a hold shows.
    const qreal width = std::max(m_progress > 1.0 ? bounds.width() : bounds.width() * m_progress, height);
    const QRectF fill(bounds.left(), bounds.top(), width, height);
    QPainterPath fillPath;
    fillPath.addRoundedRect(fill, radius, radius);

    painter.drawImage(0, 0, glow(size(), fillPath, QColor::fromRgbF(0.62f, 0.42f, 1.0f, 0.9f), 16));
    painter.fillPath(fillPath, orbinMauveFixed());
    QLinearGradient gradient(fill.topLeft(), fill.topRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.655f, 0.545f, 0.98f));
    gradient.setColorAt(1, orbinMauveFixed());
    painter.fillPath(fillPath, gradient);

    const qreal knobRadius = height * 0.32;
    QPainterPath knob;
    knob.addEllipse(QRectF(fill.right() - height * 0.62, fill.center().y() - knobRadius, 2 * knobRadius,
                           2 * knobRadius));
    painter.drawImage(0, 0, glow(size(), knob, QColor::fromRgbF(1, 1, 1, 0.9f), 8));
    painter.fillPath(knob, QColor::fromRgbF(1, 1, 1, 0.95f));
}

} // namespace ow
