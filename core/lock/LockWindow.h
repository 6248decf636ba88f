#pragma once

#include <QWidget>

namespace ow {

// A black window covering one whole screen above everything else, panels and docks
// included. It bypasses the window manager, so nothing can move, shade or close it.
class LockWindow : public QWidget {
    Q_OBJECT
public:
    explicit LockWindow(const QRect& screenGeometry);
};

} // namespace ow
