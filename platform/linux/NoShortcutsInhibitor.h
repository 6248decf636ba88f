#pragma once

#include "ShortcutsInhibitor.h"

namespace ow {

// Does nothing: an X11 session has no such request, and there the input grab keeps every
// key from the window manager anyway.
class NoShortcutsInhibitor final : public ShortcutsInhibitor {
public:
    void inhibit(QWindow*) override {}
    void release(QWindow*) override {}
};

} // namespace ow
