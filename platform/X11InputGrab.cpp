#include "X11InputGrab.h"

#include "X11Connection.h"

#include <QElapsedTimer>
#include <QThread>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace ow {

namespace {

// A refused grab (an open menu, another locker) is retried for about this long.
constexpr int kGrabPatienceMs = 1000;
constexpr int kGrabRetryMs = 10;
// Grabs are taken again at this period in case the server broke one without telling us.
constexpr int kReassertMs = 1000;

Cursor makeBlankCursor(Display* display, Window root)
{
    static const char empty[1] = {0};
    Pixmap pixmap = XCreateBitmapFromData(display, root, empty, 1, 1);
    XColor black{};
    Cursor cursor = XCreatePixmapCursor(display, pixmap, pixmap, &black, &black, 0, 0);
    XFreePixmap(display, pixmap);
    return cursor;
}

bool capsLockOn(Display* display)
{
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask);
}

} // namespace

X11InputGrab::X11InputGrab()
{
    m_reassertTimer.setInterval(kReassertMs);
    QObject::connect(&m_reassertTimer, &QTimer::timeout, [this] {
        reassert();
        drain(); // the round trips may have queued events without waking the notifier
    });
}

X11InputGrab::~X11InputGrab()
{
    release();
}

bool X11InputGrab::grab(FlagsSink sink)
{
    if (m_connection) {
        m_sink = std::move(sink);
        return true;
    }
    m_connection = X11Connection::open();
    if (!m_connection)
        return false;
    Display* display = m_connection->display();
    m_blankCursor = makeBlankCursor(display, m_connection->root());

    QElapsedTimer waited;
    waited.start();
    GrabResult result = grabOnce();
    while (result == GrabResult::Busy && waited.elapsed() < kGrabPatienceMs) {
        QThread::msleep(kGrabRetryMs);
        result = grabOnce();
    }
    if (result != GrabResult::Held) {
        XUngrabPointer(display, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        XFreeCursor(display, m_blankCursor);
        XSync(display, False);
        m_connection.reset();
        return false;
    }

    readModifierKeymap();
    // A grab broken by the server (grab-breaking keys, a window becoming unviewable)
    // shows up as focus events with NotifyUngrab on the root.
    XSelectInput(display, m_connection->root(), FocusChangeMask);
    XFlush(display);

    m_sink = std::move(sink);
    m_notifier = std::make_unique<QSocketNotifier>(m_connection->fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    m_reassertTimer.start();
    drain(); // events read during the grab round trips are already queued
    return true;
}

X11InputGrab::GrabResult X11InputGrab::grabOnce()
{
    Display* display = m_connection->display();
    const Window root = m_connection->root();
    const int keyboard = XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    // Event mask 0: the server drops every pointer event instead of sending it to us.
    const int pointer = XGrabPointer(display, root, False, 0, GrabModeAsync, GrabModeAsync, None,
                                     m_blankCursor, CurrentTime);
    if (keyboard == GrabSuccess && pointer == GrabSuccess)
        return GrabResult::Held;
    if (m_connection->isBroken() || keyboard == GrabNotViewable || pointer == GrabNotViewable)
        return GrabResult::Impossible;
    return GrabResult::Busy;
}

void X11InputGrab::readModifierKeymap()
{
    Display* display = m_connection->display();
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    m_modifierKeysyms.fill(0);
    for (int keycode = minKeycode; keycode <= maxKeycode && keycode < 256; ++keycode) {
        const auto keysym = quint32(XkbKeycodeToKeysym(display, KeyCode(keycode), 0, 0));
        if (ModifierTracker::isModifier(keysym) || keysym == XK_Caps_Lock)
            m_modifierKeysyms[size_t(keycode)] = keysym;
    }

    // Modifiers already held when the lock begins (the keys of a shortcut) count as down,
    // so that their release is reported correctly.
    m_modifiers.reset();
    char keys[32] = {};
    XQueryKeymap(display, keys);
    for (int keycode = 0; keycode < 256; ++keycode) {
        const quint32 keysym = m_modifierKeysyms[size_t(keycode)];
        if (keysym && (keys[keycode / 8] & (1 << (keycode % 8))))
            m_modifiers.update(keysym, true);
    }
    m_modifiers.setCapsLock(capsLockOn(display));
}

void X11InputGrab::drain()
{
    if (!m_connection)
        return;
    Display* display = m_connection->display();
    XEvent event;
    while (m_connection && !m_connection->isBroken() && XPending(display) > 0) {
        XNextEvent(display, &event);
        switch (event.type) {
        case KeyPress:
        case KeyRelease: {
            const quint32 keysym = m_modifierKeysyms[event.xkey.keycode & 0xff];
            if (!keysym)
                break; // every other key is dropped unread
            const bool changed = keysym == XK_Caps_Lock
                ? m_modifiers.setCapsLock(capsLockOn(display))
                : m_modifiers.update(keysym, event.type == KeyPress);
            if (changed && m_sink)
                m_sink(m_modifiers.flags());
            break;
        }
        case FocusIn:
        case FocusOut:
            if (event.xfocus.mode == NotifyUngrab)
                reassert();
            break;
        default:
            break;
        }
    }
}

void X11InputGrab::reassert()
{
    if (!m_connection || m_connection->isBroken())
        return;
    // Grabbing again what we already hold only confirms it; a lost grab is taken back.
    grabOnce();
    XFlush(m_connection->display());
}

void X11InputGrab::release()
{
    m_reassertTimer.stop();
    m_notifier.reset();
    m_sink = nullptr;
    if (!m_connection)
        return;
    if (!m_connection->isBroken()) {
        Display* display = m_connection->display();
        XUngrabPointer(display, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        XFreeCursor(display, m_blankCursor);
        XSync(display, False);
    }
    m_connection.reset();
}

} // namespace ow
