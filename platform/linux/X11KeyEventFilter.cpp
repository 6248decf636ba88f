#include "X11KeyEventFilter.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include <X11/Xlibint.h>
#include <X11/extensions/XI2proto.h>

namespace ow {

namespace {

// Xlib's converters carry no context, so the filter of each display is looked up here.
std::mutex registryMutex;
std::vector<X11KeyEventFilter*> registry;

using Converter = Bool (*)(Display*, XGenericEventCookie*, xEvent*);

} // namespace

struct X11KeyEventFilterHook {
    static X11KeyEventFilter* find(Display* display)
    {
        std::lock_guard lock(registryMutex);
        for (X11KeyEventFilter* filter : registry) {
            if (filter->m_display == display)
                return filter;
        }
        return nullptr;
    }

    static Bool convert(Display* display, XGenericEventCookie* cookie, xEvent* wire)
    {
        X11KeyEventFilter* filter = find(display);
        if (filter && !filter->consume(wire) && filter->m_previous)
            return reinterpret_cast<Converter>(filter->m_previous)(display, cookie, wire);
        // Xlib queues whatever comes back. An event that names no extension and carries
        // no data is skipped by the reader and costs Xlib no allocation.
        cookie->extension = 0;
        cookie->data = nullptr;
        return True;
    }
};

X11KeyEventFilter::X11KeyEventFilter(_XDisplay* display, int xiOpcode, const std::array<quint32, 256>& watched)
    : m_display(display)
    , m_xiOpcode(xiOpcode)
    , m_watched(watched)
{
    {
        std::lock_guard lock(registryMutex);
        registry.push_back(this);
    }
    // libXi installed its converter when the extension was first queried; ours goes in
    // front of it and hands on whatever it does not consume.
    m_previous = reinterpret_cast<void (*)()>(
        XESetWireToEventCookie(display, xiOpcode, &X11KeyEventFilterHook::convert));
}

X11KeyEventFilter::~X11KeyEventFilter()
{
    std::lock_guard lock(registryMutex);
    registry.erase(std::find(registry.begin(), registry.end(), this));
    XESetWireToEventCookie(m_display, m_xiOpcode, reinterpret_cast<Converter>(m_previous));
}

bool X11KeyEventFilter::consume(const void* wire)
{
    const auto* event = static_cast<const xXIDeviceEvent*>(wire);
    switch (event->evtype) {
    case XI_KeyPress:
    case XI_KeyRelease:
        if (m_watched[event->detail & 0xff])
            keep({quint8(event->detail), event->evtype == XI_KeyPress, event->sourceid});
        return true;
    case XI_HierarchyChanged:
        m_hierarchyChanged = true;
        return true;
    default:
        return false;
    }
}

void X11KeyEventFilter::keep(Key key)
{
    if (m_count == kCapacity) {
        // A flood of watched keys between two reads: only each key's latest state is
        // kept, which is all that decides whether the unlock keys are held.
        Keys latest;
        std::size_t kept = 0;
        for (std::size_t i = m_count; i-- > 0;) {
            const auto end = latest.begin() + std::ptrdiff_t(kept);
            if (std::none_of(latest.begin(), end, [&](const Key& k) { return k.keycode == m_keys[i].keycode; }))
                latest[kept++] = m_keys[i];
        }
        std::reverse_copy(latest.begin(), latest.begin() + std::ptrdiff_t(kept), m_keys.begin());
        m_count = kept;
    }
    m_keys[m_count++] = key;
}

std::size_t X11KeyEventFilter::takeKeys(Keys& keys)
{
    std::copy_n(m_keys.begin(), m_count, keys.begin());
    return std::exchange(m_count, 0);
}

bool X11KeyEventFilter::takeHierarchyChanged()
{
    return std::exchange(m_hierarchyChanged, false);
}

} // namespace ow
