#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

struct _XDisplay;

namespace ow {

// Reads XInput 2 key events straight off the wire, inside Xlib's own event reader, so
// that a flood of keys allocates nothing: libXi would allocate each event's data and
// Xlib a record of it. Keys whose keycode is not watched are dropped there and then;
// watched ones are kept, in order, until taken. What reaches the queue is an empty
// generic event for the reader to skip. Installed on one private connection for as
// long as the object lives.
class X11KeyEventFilter {
public:
    struct Key {
        quint8 keycode;
        bool press;
        quint16 device;
    };
    static constexpr std::size_t kCapacity = 256;
    using Keys = std::array<Key, kCapacity>;

    // watched[keycode] is non-zero for the keys to keep; it is read, never copied, so
    // it may be filled in later.
    X11KeyEventFilter(_XDisplay* display, int xiOpcode, const std::array<quint32, 256>& watched);
    ~X11KeyEventFilter();
    X11KeyEventFilter(const X11KeyEventFilter&) = delete;
    X11KeyEventFilter& operator=(const X11KeyEventFilter&) = delete;

    // Moves the kept keys, oldest first, into keys and returns how many there were.
    std::size_t takeKeys(Keys& keys);
    // Whether a device was added or removed since the last call.
    bool takeHierarchyChanged();

private:
    friend struct X11KeyEventFilterHook; // Xlib's side, in the implementation

    // Sees one XInput 2 event as it comes off the wire; false leaves it to libXi.
    bool consume(const void* wire);
    void keep(Key key);

    _XDisplay* m_display;
    int m_xiOpcode;
    const std::array<quint32, 256>& m_watched;
    void (*m_previous)() = nullptr; // libXi's converter, put back on destruction
    Keys m_keys{};
    std::size_t m_count = 0;
    bool m_hierarchyChanged = false;
};

} // namespace ow
