#pragma once

class QWindow;

namespace ow {

// Asks the compositor to keep its own keyboard shortcuts off while a window has the
// keyboard focus. Where the compositor cannot, nothing happens: the input guard, which
// holds every device, is the lock; this only keeps the compositor from acting as well.
class ShortcutsInhibitor {
public:
    virtual ~ShortcutsInhibitor() = default;
    // For a shown window; asking again for the same window changes nothing.
    virtual void inhibit(QWindow* window) = 0;
    // Before the window is hidden or goes.
    virtual void release(QWindow* window) = 0;
};

} // namespace ow
