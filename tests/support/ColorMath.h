#pragma once

#include <QColor>
#include <QtGlobal>

// Colour arithmetic for tests that read painted pixels.
namespace ow::test {

// Whether the red, green and blue of a and b differ by at most tolerance each.
inline bool sameRgb(const QColor& a, const QColor& b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// color at the given alpha, painted over an opaque background.
inline QColor over(const QColor& background, const QColor& color, qreal alpha)
{
    return QColor::fromRgbF(float(background.redF() * (1 - alpha) + color.redF() * alpha),
                            float(background.greenF() * (1 - alpha) + color.greenF() * alpha),
                            float(background.blueF() * (1 - alpha) + color.blueF() * alpha));
}

} // namespace ow::test
