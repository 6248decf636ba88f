#pragma once

#include "TaskbarPresence.h"

namespace ow {

// Asks the window manager, with an EWMH _NET_WM_STATE client message, to add or remove
// _NET_WM_STATE_SKIP_TASKBAR on a mapped window.
class X11TaskbarPresence final : public TaskbarPresence {
public:
    bool canSkipTaskbar() const override { return true; }
    void setSkipTaskbar(WId window, bool skip) override;
};

} // namespace ow
