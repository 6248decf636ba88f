#pragma once

#include <QIcon>

namespace ow {

// The small symbols of the main window's views, from the icon theme when it has them,
// else drawn here at the same size in the given colour.
QIcon gearIcon(int size, const QColor& color);
QIcon envelopeIcon(int size, const QColor& color);
QIcon chevronLeftIcon(int size, const QColor& color);

} // namespace ow
