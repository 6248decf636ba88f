#pragma once

#include <QList>
#include <QRect>
#include <QString>

// No X11 headers here: their macros (None, Bool, KeyPress...) break Qt and gtest code.
struct _XDisplay;

namespace ow::test {

// Fakes keyboard and pointer input on an X display through XTEST, and inspects and adds
// top-level windows, over an Xlib connection of its own. Every call returns only once the
// server has processed it. X errors on this connection are logged, never fatal.
class XTestInput {
public:
    explicit XTestInput(const QString& display);
    ~XTestInput();
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    // True while connected to a server with XTEST; every other call does nothing otherwise.
    bool isOpen() const;

    // The keycode producing the named keysym ("a", "Return", "Shift_L"), or 0 if none.
    unsigned keycode(const char* keysymName);
    void key(unsigned keycode, bool down);
    void tap(unsigned keycode);
    void button(unsigned button, bool down);
    void click(unsigned button);
    // One wheel click per unit: positive scrolls up (button 4), negative down (button 5).
    void scroll(int clicks);
    // Moves the pointer to (x, y) on screen 0. No motion event results when it is there already.
    void motion(int x, int y);
    void sync();

    // What the session's core keyboard and pointer hold down: keycodes, and buttons 1 to 5.
    // A key stuck here auto-repeats into whichever program has the focus.
    QList<unsigned> keysDown();
    QList<unsigned> buttonsDown();

    // Whether another client holds an active grab. A momentary grab of ours decides, so on
    // a false answer the focused window has just seen FocusOut/FocusIn (modes NotifyGrab,
    // NotifyUngrab), or the window under the pointer LeaveNotify/EnterNotify.
    bool keyboardGrabbedByOther();
    bool pointerGrabbedByOther();

    // Children of screen 0's root, bottom to top.
    QList<unsigned long> stackingOrder();
    bool isViewable(unsigned long window);
    bool isOverrideRedirect(unsigned long window);
    QList<unsigned long> viewableOverrideRedirectWindows();

    // The first viewable window, at any depth, whose WM_NAME is name; 0 if none.
    unsigned long findViewableWindow(const QString& name);
    // The process that made the window, as its _NET_WM_PID says; 0 if it does not say.
    qint64 windowPid(unsigned long window);
    // The first viewable window of process pid inside a top-level window of process
    // hostPid, the way an icon sits in its tray; 0 if none.
    unsigned long findEmbeddedWindow(qint64 pid, qint64 hostPid);
    // The colours (0xRRGGBB) of column x of the window, top to bottom.
    QList<unsigned> column(unsigned long window, int x);
    // Where the window is on screen 0, in root coordinates; empty when it is gone.
    QRect rootGeometry(unsigned long window);
    // Raises the window and gives it the keyboard focus.
    void focus(unsigned long window);

    // Takes the key pressed with exactly these modifiers (X modifier masks) the way a desktop's
    // keyboard shortcut does, for as long as this connection lives: while it is down, the
    // keyboard belongs to this connection.
    void grabKey(unsigned keycode, unsigned modifiers);

    // Maps and raises an unmanaged window, the way a notification pops up over everything.
    // It lives until destroyWindow() or until this connection closes.
    unsigned long createOverrideRedirectWindow(int x, int y, int w, int h);
    void destroyWindow(unsigned long window);

private:
    _XDisplay* m_display = nullptr;
    unsigned long m_root = 0;
    bool m_hasXTest = false;
    bool m_broken = false;
};

} // namespace ow::test
