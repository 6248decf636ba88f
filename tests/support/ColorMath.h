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

} // namespace ow::test
