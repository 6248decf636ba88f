#pragma once

#include <QList>
#include <QtGui/qwindowdefs.h>

namespace ow {

// Keeps a set of top-level windows above every other window of the desktop: any window
// mapped or raised above them later is put back below them at once.
class WindowStacking {
public:
    virtual ~WindowStacking() = default;
    // Replaces the set of guarded windows (in bottom-to-top order) and raises them.
    virtual void keepOnTop(const QList<WId>& windows) = 0;
    // Stops guarding.
    virtual void release() = 0;
};

} // namespace ow
