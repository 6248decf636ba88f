#include "X11WindowBlitter.h"

#include "X11Connection.h"
#include "X11PutQueue.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

namespace ow {

namespace {

class X11Tiles final : public WindowBlitter::Tiles {
public:
    X11Tiles(std::shared_ptr<X11Connection> connection, std::shared_ptr<X11PutQueue> queue, WId window, Pixmap pixmap,
             GC gc, QSize size, int count)
        : m_connection(std::move(connection))
        , m_queue(std::move(queue))
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
        const X11PutQueue::Copy c = copy(index, at);
        xcb_copy_area(connection, c.source, c.target, c.gc, c.sourceX, 0, c.x, c.y, c.width, c.height);
        xcb_flush(connection);
    }

    bool putAfter(int index, QPoint at, std::chrono::nanoseconds delay) override
    {
        if (index < 0 || index >= m_count || m_connection->isBroken())
            return false;
        // Pending copies of tiles freed meanwhile fail: nothing of theirs is left to draw.
        return m_queue->add(copy(index, at), std::chrono::steady_clock::now() + delay);
    }

private:
    X11PutQueue::Copy copy(int index, QPoint at) const
    {
        return {.source = xcb_drawable_t(m_pixmap),
                .target = xcb_drawable_t(m_window),
                .gc = xcb_gcontext_t(XGContextFromGC(m_gc)),
                .sourceX = int16_t(index * m_size.width()),
                .x = int16_t(at.x()),
                .y = int16_t(at.y()),
                .width = uint16_t(m_size.width()),
                .height = uint16_t(m_size.height())};
    }

    std::shared_ptr<X11Connection> m_connection;
    std::shared_ptr<X11PutQueue> m_queue;
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

std::unique_ptr<WindowBlitter::Tiles> X11WindowBlitter::upload(WId window, const QImage& strip, int count)
{
    if (count <= 0 || strip.isNull() || strip.width() % count != 0)
        return nullptr;
    if (!m_connection || m_connection->isBroken()) {
        m_connection = X11Connection::shared();
        if (!m_connection)
            return nullptr;
    }
    // One queue while any tiles live: its connection, and what it still holds back, goes
    // with the last of them, at the end of a lock.
    std::shared_ptr<X11PutQueue> queue = m_queue.lock();
    if (!queue) {
        queue = std::make_shared<X11PutQueue>(XDisplayString(m_connection->display()));
        m_queue = queue;
    }
    Display* display = m_connection->display();
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || !takesArgb32(display, attributes))
        return nullptr;

    // One pixmap and one upload for all the tiles.
    const QImage pixels = strip.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const Pixmap pixmap = XCreatePixmap(display, window, unsigned(pixels.width()), unsigned(pixels.height()),
                                        unsigned(attributes.depth));
    XGCValues values{};
    values.graphics_exposures = False;
    const GC gc = XCreateGC(display, pixmap, GCGraphicsExposures, &values);
    XImage* image = XCreateImage(display, attributes.visual, unsigned(attributes.depth), ZPixmap, 0,
                                 // Only read: bits() would copy an image shared with the caller.
                                 const_cast<char*>(reinterpret_cast<const char*>(pixels.constBits())),
                                 unsigned(pixels.width()),
                                 unsigned(pixels.height()), 32, int(pixels.bytesPerLine()));
    if (!image) {
        XFreeGC(display, gc);
        XFreePixmap(display, pixmap);
        return nullptr;
    }
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, unsigned(pixels.width()), unsigned(pixels.height()));
    image->data = nullptr; // the image's, not Xlib's to free
    XDestroyImage(image);
    XFlush(display);
    return std::make_unique<X11Tiles>(m_connection, std::move(queue), window, pixmap, gc, QSize(strip.width() / count, strip.height()),
                                      count);
}

} // namespace ow
