#include "SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <array>
#include <cmath>

namespace ow {

namespace {

QPixmap canvas(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The unit vector at angle, in radians between 0 and 2π, by its Taylor series. The icons'
// directions are worked out at compile time: the maths library's sine, or the pen stroker,
// which calls its arc tangent, would map their tables into the process for its whole life.
constexpr QPointF direction(double angle)
{
    QPointF sum;
    double term = 1; // angle^n / n!, with its sign
    for (int n = 0; n < 40; ++n) {
        if (n % 2 == 0)
            sum.rx() += term;
        else
            sum.ry() += term;
        term *= angle / (n + 1) * ((n % 4 == 1 || n % 4 == 3) ? -1 : 1);
    }
    return sum;
}

constexpr int kTeeth = 8;
// Tooth tops and roots alternate, each spanning a few degrees.
constexpr std::array<QPointF, kTeeth * 4> kGearDirections = [] {
    std::array<QPointF, kTeeth * 4> directions{};
    for (int i = 0; i < kTeeth * 2; ++i) {
        directions[size_t(i * 2)] = direction((i + 0.5 - 0.22) * M_PI / kTeeth);
        directions[size_t(i * 2 + 1)] = direction((i + 0.5 + 0.22) * M_PI / kTeeth);
    }
    return directions;
}();

QIcon drawnGear(int size, const QColor& color)
{
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(size / 2.0, size / 2.0);
    const qreal outer = size * 0.48;
    const qreal inner = size * 0.36;
    QPainterPath gear;
    for (size_t k = 0; k < kGearDirections.size(); ++k) {
        const QPointF point = centre + kGearDirections[k] * ((k / 2) % 2 == 0 ? outer : inner);
        if (k == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
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
    // The flap, cut out of the filled body: two bands, filled rather than stroked.
    const qreal half = qMax(1.0, size * 0.08) / 2;
    const QPointF corners[] = {body.topLeft() + QPointF(size * 0.05, size * 0.06), body.center(),
                               body.topRight() + QPointF(-size * 0.05, size * 0.06)};
    QPainterPath flap;
    flap.setFillRule(Qt::WindingFill);
    for (int i = 0; i < 2; ++i) {
        const QPointF along = corners[i + 1] - corners[i];
        const QPointF across = QPointF(-along.y(), along.x()) * (half / std::sqrt(QPointF::dotProduct(along, along)));
        flap.addPolygon(QPolygonF({corners[i] + across, corners[i + 1] + across, corners[i + 1] - across,
                                   corners[i] - across}));
        flap.closeSubpath();
    }
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillPath(flap, Qt::black);
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
