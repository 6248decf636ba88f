#pragma once

#include "TaskbarPresence.h"

namespace ow {

// Wayland has no common protocol to keep a window out of a taskbar: every mapped toplevel
// is listed, so a window that lives in the tray is hidden instead.
class WaylandTaskbarPresence final : public TaskbarPresence {
public:
    bool canSkipTaskbar() const override { return false; }
    void setSkipTaskbar(WId, bool) override {}
};

} // namespace ow
