#pragma once

#include <QImage>
#include <QPoint>
#include <QtGui/qwindowdefs.h>

#include <chrono>
#include <memory>

namespace ow {

// Puts pictures made beforehand straight onto a window, past the toolkit's repaint: a
// countdown that changes a digit once a second while the rest of the window stands still
// then costs a copy the display server makes, not a paint and an upload.
//
// What is put this way is not in the toolkit's own buffer of the window: whoever puts
// tiles repaints through the toolkit when the window is exposed again.
class WindowBlitter {
public:
    // Tiles of one size kept by the display server for one window.
    class Tiles {
    public:
        virtual ~Tiles() = default;
        // Puts tile index with its top left at `at`, in the window's pixels, and sends it.
        virtual void put(int index, QPoint at) = 0;
        // The same put, made after delay without the caller's thread waking for it; false
        // where it cannot be, and the caller puts the tile itself when it is due. Puts
        // not yet made are dropped with the tiles.
        virtual bool putAfter(int index, QPoint at, std::chrono::nanoseconds delay) = 0;
    };

    virtual ~WindowBlitter() = default;
    // Hands count tiles, side by side in strip, to the display server; null where the
    // window cannot take them this way, and its owner repaints through the toolkit.
    virtual std::unique_ptr<Tiles> upload(WId window, const QImage& strip, int count) = 0;
};

} // namespace ow
