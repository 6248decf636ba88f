#pragma once

#include <QtGui/qwindowdefs.h>

namespace ow {

// Whether a top-level window is listed in the desktop's taskbar. An application that
// lives in the system tray keeps its main window out of the taskbar.
class TaskbarPresence {
public:
    virtual ~TaskbarPresence() = default;
    // False where the desktop lists every window whatever it is told.
    virtual bool canSkipTaskbar() const = 0;
    // Call after the window has been shown: window managers reset the state on every map.
    virtual void setSkipTaskbar(WId window, bool skip) = 0;
};

} // namespace ow
