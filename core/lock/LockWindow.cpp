#include "LockWindow.h"

namespace ow {

LockWindow::LockWindow(const QRect& screenGeometry)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Keyboard input is held by the grab; taking focus would only disturb the focused
    // program, which should still have it after the unlock.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::BlankCursor);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
    setGeometry(screenGeometry);
}

} // namespace ow
