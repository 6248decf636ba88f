#pragma once

#include <memory>

struct _XDisplay;

namespace ow {

// An Xlib connection of our own. Errors on it are logged and never end the process:
// Xlib's default handlers would exit on a BadWindow from a window that vanished.
class X11Connection {
public:
    // Opens the session's X display; null when there is none, or when the session is a
    // Wayland session (X11 input grabs cannot hold native Wayland clients there).
    static std::unique_ptr<X11Connection> open();
    // One connection for the services that only send requests and select no events, such
    // as hiding the pointer while a lock lasts: the toolkit's own where it runs on X11,
    // else opened by the first that asks and closed when the last lets go. Each Xlib
    // connection holds some 75 KiB.
    static std::shared_ptr<X11Connection> shared();

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* display() const { return m_display; }
    unsigned long root() const { return m_root; }
    int fd() const;
    // True once the connection to the server is lost; only destruction is safe then.
    bool isBroken() const;

private:
    // owned: closed with this object; the toolkit's connection is not.
    X11Connection(_XDisplay* display, bool owned);
    static void onIOError(_XDisplay* display, void* self);

    _XDisplay* m_display;
    unsigned long m_root;
    bool m_owned;
    bool m_broken = false;
};

} // namespace ow
