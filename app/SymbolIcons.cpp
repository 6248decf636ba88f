#include "SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace ow {

namespace {

QPixmap canvas(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon drawnGear(int size, const QColor& color)
{
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(size / 2.0, size / 2.0);
    const qreal outer = size * 0.48;
    const qreal inner = size * 0.36;
    QPainterPath gear;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 2; ++i) {
        // Alternate tooth tops and roots, each spanning a few degrees.
        const qreal radius = (i % 2 == 0) ? outer : inner;
        for (qreal edge : {-0.22, 0.22}) {
            const qreal angle = (i + 0.5 + edge) * M_PI / kTeeth;
            const QPointF point(centre.x() + radius * qCos(angle), centre.y() + radius * qSin(angle));
            if (gear.elementCount() == 0)
                gear.moveTo(point);
            else
                gear.lineTo(point);
        }
    }
    gear.closeSubpath();
    gear.addEllipse(centre, size * 0.15, size * 0.15); // the hole, by odd-even fill
    painter.fillPath(gear, color);
    return QIcon(pixmap);
}

QIcon drawnEnvelope(int size, const QColor& color)
{
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body(size * 0.06, size * 0.2, size * 0.88, size * 0.6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(body, size * 0.08, size * 0.08);
    // The flap, cut out of the filled body.
    QPen flap(Qt::transparent, qMax(1.0, size * 0.08));
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(flap);
    painter.drawPolyline(QPolygonF({body.topLeft() + QPointF(size * 0.05, size * 0.06), body.center(),
                                    body.topRight() + QPointF(-size * 0.05, size * 0.06)}));
    return QIcon(pixmap);
}

QIcon drawnChevronLeft(int size, const QColor& color)
{
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, qMax(1.5, size * 0.12));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawPolyline(QPolygonF({QPointF(size * 0.62, size * 0.2), QPointF(size * 0.34, size * 0.5),
                                    QPointF(size * 0.62, size * 0.8)}));
    return QIcon(pixmap);
}

} // namespace

QIcon gearIcon(int size, const QColor& color)
{
    return QIcon::fromTheme(QStringLiteral("preferences-system"), drawnGear(size, color));
}

QIcon envelopeIcon(int size, const QColor& color)
{
    return QIcon::fromTheme(QStringLiteral("mail-unread"), drawnEnvelope(size, color));
}

QIcon chevronLeftIcon(int size, const QColor& color)
{
    // The symbolic one first, as the desktop's own back buttons use; older themes only have the plain one.
    const QString symbolic = QStringLiteral("go-previous-symbolic");
    if (QIcon::hasThemeIcon(symbolic))
        return QIcon::fromTheme(symbolic);
    return QIcon::fromTheme(QStringLiteral("go-previous"), drawnChevronLeft(size, color));
}

} // namespace ow
