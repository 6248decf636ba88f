#include "X11WindowBlitter.h"

#include "X11Connection.h"

#include <cstring>

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

namespace ow {

namespace {

class X11Tiles final : public WindowBlitter::Tiles {
public:
    X11Tiles(std::shared_ptr<X11Connection> connection, WId window, Pixmap pixmap, GC gc, QSize size, int count)
        : m_connection(std::move(connection))
        , m_window(window)
        , m_pixmap(pixmap)
        , m_gc(gc)
        , m_size(size)
        , m_count(count)
    {
    }

    ~X11Tiles() override
    {
        if (m_connection->isBroken())
            return;
        Display* display = m_connection->display();
        XFreeGC(display, m_gc);
        XFreePixmap(display, m_pixmap);
        XFlush(display);
    }

    void put(int index, QPoint at) override
    {
        if (index < 0 || index >= m_count || m_connection->isBroken())
            return;
        // Straight on XCB: Xlib's flush would also look for events no one selected.
        xcb_connection_t* connection = XGetXCBConnection(m_connection->display());
        xcb_copy_area(connection, xcb_drawable_t(m_pixmap), xcb_drawable_t(m_window), xcb_gcontext_t(XGContextFromGC(m_gc)),
                      int16_t(index * m_size.width()), 0, int16_t(at.x()), int16_t(at.y()), uint16_t(m_size.width()),
                      uint16_t(m_size.height()));
        xcb_flush(connection);
    }

private:
    std::shared_ptr<X11Connection> m_connection;
    WId m_window;
    Pixmap m_pixmap;
    GC m_gc;
    QSize m_size;
    int m_count;
};

// Whether pixels of this depth are 32 bits, blue first in memory, as QImage's ARGB32 has
// them on a little-endian machine: only then do the tiles' bytes go to the server as they are.
bool takesArgb32(Display* display, const XWindowAttributes& attributes)
{
    const Visual* visual = attributes.visual;
    if (ImageByteOrder(display) != LSBFirst || visual->red_mask != 0xff0000 || visual->green_mask != 0xff00
        || visual->blue_mask != 0xff)
        return false;
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    bool matches = false;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == attributes.depth)
            matches = formats[i].bits_per_pixel == 32;
    }
    XFree(formats);
    return matches;
}

} // namespace

X11WindowBlitter::X11WindowBlitter() = default;

X11WindowBlitter::~X11WindowBlitter() = default;

std::unique_ptr<WindowBlitter::Tiles> X11WindowBlitter::upload(WId window, const QList<QImage>& tiles)
{
    if (tiles.isEmpty() || tiles.first().isNull())
        return nullptr;
    if (!m_connection || m_connection->isBroken()) {
        m_connection = X11Connection::open();
        if (!m_connection)
            return nullptr;
    }
    Display* display = m_connection->display();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || !takesArgb32(display, attributes))
        return nullptr;

    // One strip, the tiles side by side: one pixmap and one upload.
    const QSize size = tiles.first().size();
    QImage strip(size.width() * int(tiles.size()), size.height(), QImage::Format_ARGB32_Premultiplied);
    for (qsizetype i = 0; i < tiles.size(); ++i) {
        if (tiles[i].size() != size)
            return nullptr;
        const QImage tile = tiles[i].convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < size.height(); ++y)
            std::memcpy(strip.scanLine(y) + i * size.width() * 4, tile.constScanLine(y), size_t(size.width()) * 4);
    }
    const Pixmap pixmap = XCreatePixmap(display, window, unsigned(strip.width()), unsigned(strip.height()),
                                        unsigned(attributes.depth));
    XGCValues values{};
    values.graphics_exposures = False;
    const GC gc = XCreateGC(display, pixmap, GCGraphicsExposures, &values);
    XImage* image = XCreateImage(display, attributes.visual, unsigned(attributes.depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(strip.bits()), unsigned(strip.width()),
                                 unsigned(strip.height()), 32, int(strip.bytesPerLine()));
    if (!image) {
        XFreeGC(display, gc);
        XFreePixmap(display, pixmap);
        return nullptr;
    }
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, unsigned(strip.width()), unsigned(strip.height()));
    image->data = nullptr; // the strip's, not Xlib's to free
    XDestroyImage(image);
    XFlush(display);
    return std::make_unique<X11Tiles>(m_connection, window, pixmap, gc, size, int(tiles.size()));
}

} // namespace ow
