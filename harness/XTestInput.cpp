#include "XTestInput.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace ow::test {

namespace {

// Xlib has one error handler and one I/O error handler per process. Ours log what happens on
// our own connections and hand the rest to whichever handlers were installed before, so the
// code under test in this process keeps the error handling it chose.
std::mutex g_handlerMutex;
std::set<Display*> g_ourDisplays;
XErrorHandler g_previousHandler = nullptr;
XIOErrorHandler g_previousIOHandler = nullptr;

int handleXError(Display* display, XErrorEvent* error)
{
    XErrorHandler previous = nullptr;
    {
        const std::lock_guard lock(g_handlerMutex);
        if (!g_ourDisplays.count(display))
            previous = g_previousHandler;
    }
    if (previous)
        return previous(display, error);
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    qWarning("XTestInput: X error %s (request %d.%d, resource 0x%lx)", text,
             int(error->request_code), int(error->minor_code), error->resourceid);
    return 0;
}

int handleXIOError(Display* display)
{
    XIOErrorHandler previous = nullptr;
    {
        const std::lock_guard lock(g_handlerMutex);
        if (!g_ourDisplays.count(display))
            previous = g_previousIOHandler;
    }
    if (previous)
        return previous(display);
    // Returning hands over to the display's exit handler, which marks it broken.
    qWarning("XTestInput: lost the connection to X server %s", XDisplayString(display));
    return 0;
}

void adoptDisplay(Display* display)
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        const std::lock_guard lock(g_handlerMutex);
        g_previousHandler = XSetErrorHandler(handleXError);
        g_previousIOHandler = XSetIOErrorHandler(handleXIOError);
    });
    const std::lock_guard lock(g_handlerMutex);
    g_ourDisplays.insert(display);
}

void releaseDisplay(Display* display)
{
    const std::lock_guard lock(g_handlerMutex);
    g_ourDisplays.erase(display);
}

void markBroken(Display*, void* broken)
{
    *static_cast<bool*>(broken) = true;
}

} // namespace

XTestInput::XTestInput(const QString& display)
    : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
{
    if (!m_display) {
        qWarning("XTestInput: cannot connect to %s", qPrintable(display));
        return;
    }
    adoptDisplay(m_display);
    // A dead Xvfb should fail the tests that follow, not exit the whole test binary.
    XSetIOErrorExitHandler(m_display, markBroken, &m_broken);
    m_root = XDefaultRootWindow(m_display);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    m_hasXTest = XTestQueryExtension(m_display, &eventBase, &errorBase, &major, &minor);
    if (!m_hasXTest)
        qWarning("XTestInput: %s has no XTEST extension", qPrintable(display));
}

XTestInput::~XTestInput()
{
    if (!m_display)
        return;
    XCloseDisplay(m_display);
    releaseDisplay(m_display);
}

bool XTestInput::isOpen() const
{
    return m_display && m_hasXTest && !m_broken;
}

unsigned XTestInput::keycode(const char* keysymName)
{
    if (!isOpen())
        return 0;
    const KeySym keysym = XStringToKeysym(keysymName);
    return keysym == NoSymbol ? 0 : XKeysymToKeycode(m_display, keysym);
}

void XTestInput::key(unsigned keycode, bool down)
{
    if (!isOpen())
        return;
    XTestFakeKeyEvent(m_display, keycode, down, 0);
    XSync(m_display, False);
}

void XTestInput::tap(unsigned keycode)
{
    key(keycode, true);
    key(keycode, false);
}

void XTestInput::button(unsigned button, bool down)
{
    if (!isOpen())
        return;
    XTestFakeButtonEvent(m_display, button, down, 0);
    XSync(m_display, False);
}

void XTestInput::click(unsigned button)
{
    this->button(button, true);
    this->button(button, false);
}

void XTestInput::scroll(int clicks)
{
    const unsigned wheelButton = clicks > 0 ? Button4 : Button5;
    for (int i = std::abs(clicks); i > 0; --i)
        click(wheelButton);
}

void XTestInput::motion(int x, int y)
{
    if (!isOpen())
        return;
    XTestFakeMotionEvent(m_display, 0, x, y, 0);
    XSync(m_display, False);
}

void XTestInput::sync()
{
    if (isOpen())
        XSync(m_display, False);
}

bool XTestInput::keyboardGrabbedByOther()
{
    if (!isOpen())
        return false;
    const int result = XGrabKeyboard(m_display, m_root, False, GrabModeAsync, GrabModeAsync,
                                     CurrentTime);
    if (result == GrabSuccess) {
        XUngrabKeyboard(m_display, CurrentTime);
        XSync(m_display, False);
        return false;
    }
    return result == AlreadyGrabbed || result == GrabFrozen;
}

bool XTestInput::pointerGrabbedByOther()
{
    if (!isOpen())
        return false;
    const int result = XGrabPointer(m_display, m_root, False, 0, GrabModeAsync, GrabModeAsync,
                                    None, None, CurrentTime);
    if (result == GrabSuccess) {
        XUngrabPointer(m_display, CurrentTime);
        XSync(m_display, False);
        return false;
    }
    return result == AlreadyGrabbed || result == GrabFrozen;
}

QList<unsigned> XTestInput::keysDown()
{
    QList<unsigned> keys;
    char map[32] = {};
    if (!isOpen() || !XQueryKeymap(m_display, map))
        return keys;
    for (unsigned keycode = 0; keycode < 256; ++keycode) {
        if (map[keycode / 8] & (1 << (keycode % 8)))
            keys.append(keycode);
    }
    return keys;
}

QList<unsigned> XTestInput::buttonsDown()
{
    QList<unsigned> buttons;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned mask = 0;
    if (!isOpen() || !XQueryPointer(m_display, m_root, &root, &child, &rootX, &rootY, &x, &y, &mask))
        return buttons;
    for (unsigned button = 1; button <= 5; ++button) {
        if (mask & (Button1Mask << (button - 1)))
            buttons.append(button);
    }
    return buttons;
}

QList<unsigned> XTestInput::column(unsigned long window, int x)
{
    QList<unsigned> colours;
    XWindowAttributes attributes;
    if (!isOpen() || !XGetWindowAttributes(m_display, window, &attributes) || x < 0 || x >= attributes.width)
        return colours;
    XImage* image = XGetImage(m_display, window, x, 0, 1, unsigned(attributes.height), AllPlanes, ZPixmap);
    if (!image)
        return colours;
    for (int y = 0; y < attributes.height; ++y)
        colours.append(unsigned(XGetPixel(image, 0, y) & 0xFFFFFF));
    XDestroyImage(image);
    return colours;
}

QList<unsigned long> XTestInput::stackingOrder()
{
    QList<unsigned long> order;
    if (!isOpen())
        return order;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_display, m_root, &root, &parent, &children, &count))
        return order;
    for (unsigned i = 0; i < count; ++i)
        order.append(children[i]);
    if (children)
        XFree(children);
    return order;
}

bool XTestInput::isViewable(unsigned long window)
{
    XWindowAttributes attributes;
    return isOpen() && XGetWindowAttributes(m_display, window, &attributes)
        && attributes.map_state == IsViewable;
}

bool XTestInput::isOverrideRedirect(unsigned long window)
{
    XWindowAttributes attributes;
    return isOpen() && XGetWindowAttributes(m_display, window, &attributes)
        && attributes.override_redirect;
}

QList<unsigned long> XTestInput::viewableOverrideRedirectWindows()
{
    QList<unsigned long> windows;
    for (unsigned long window : stackingOrder()) {
        if (isViewable(window) && isOverrideRedirect(window))
            windows.append(window);
    }
    return windows;
}

unsigned long XTestInput::findViewableWindow(const QString& name)
{
    if (!isOpen())
        return 0;
    // Breadth first from the root: a window manager puts client windows in frames.
    QList<Window> queue{m_root};
    while (!queue.isEmpty()) {
        const Window window = queue.takeFirst();
        char* windowName = nullptr;
        if (window != m_root && XFetchName(m_display, window, &windowName) && windowName) {
            const bool match = QString::fromUtf8(windowName) == name;
            XFree(windowName);
            if (match && isViewable(window))
                return window;
        }
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(m_display, window, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i)
                queue.append(children[i]);
            if (children)
                XFree(children);
        }
    }
    return 0;
}

qint64 XTestInput::windowPid(unsigned long window)
{
    if (!isOpen())
        return 0;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    qint64 pid = 0;
    const Atom property = XInternAtom(m_display, "_NET_WM_PID", False);
    if (XGetWindowProperty(m_display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &left, &data)
            == Success
        && data) {
        if (type == XA_CARDINAL && format == 32 && count == 1) {
            unsigned long value = 0; // Xlib hands format 32 over as longs
            std::memcpy(&value, data, sizeof value);
            pid = qint64(value);
        }
        XFree(data);
    }
    return pid;
}

unsigned long XTestInput::findEmbeddedWindow(qint64 pid, qint64 hostPid)
{
    if (!isOpen())
        return 0;
    // Breadth first from the root, noting which windows lie inside one of the host's: a
    // window manager may have put the host's top-level window in a frame.
    QList<std::pair<Window, bool>> queue{{m_root, false}};
    while (!queue.isEmpty()) {
        const auto [window, insideHost] = queue.takeFirst();
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, window, &root, &parent, &children, &count))
            continue;
        Window found = 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            const qint64 owner = windowPid(children[i]);
            if (insideHost && owner == pid && isViewable(children[i]))
                found = children[i];
            queue.append({children[i], insideHost || owner == hostPid});
        }
        if (children)
            XFree(children);
        if (found)
            return found;
    }
    return 0;
}

QRect XTestInput::rootGeometry(unsigned long window)
{
    XWindowAttributes attributes;
    if (!isOpen() || !window || !XGetWindowAttributes(m_display, window, &attributes))
        return {};
    int x = 0;
    int y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(m_display, window, m_root, 0, 0, &x, &y, &child))
        return {};
    return QRect(x, y, attributes.width, attributes.height);
}

void XTestInput::focus(unsigned long window)
{
    if (!isOpen())
        return;
    XRaiseWindow(m_display, window);
    XSetInputFocus(m_display, window, RevertToParent, CurrentTime);
    XSync(m_display, False);
}

void XTestInput::grabKey(unsigned keycode, unsigned modifiers)
{
    if (!isOpen())
        return;
    XGrabKey(m_display, int(keycode), modifiers, m_root, False, GrabModeAsync, GrabModeAsync);
    XSync(m_display, False);
}

unsigned long XTestInput::createOverrideRedirectWindow(int x, int y, int w, int h)
{
    if (!isOpen())
        return 0;
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = XWhitePixel(m_display, XDefaultScreen(m_display));
    const Window window = XCreateWindow(m_display, m_root, x, y, unsigned(w), unsigned(h), 0,
                                        CopyFromParent, InputOutput, nullptr,
                                        CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(m_display, window);
    XSync(m_display, False);
    return window;
}

void XTestInput::destroyWindow(unsigned long window)
{
    if (!isOpen())
        return;
    XDestroyWindow(m_display, window);
    XSync(m_display, False);
}

} // namespace ow::test
