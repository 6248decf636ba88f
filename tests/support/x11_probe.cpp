// Another X client for the lock tests, on $DISPLAY. Maps a focused 400 x 300 window,
// prints "ready <window id>", then one line per input event it receives: "key-press
// <keycode>", "key-release <keycode>", "button-press <button>", "button-release <button>",
// "motion <root x> <root y>". A second connection listens on the root window through
// XInput 2 to every device, physical (slave) ones included, the way a program reading a
// device directly does, and prints "xi2-key-press <keycode> <device>", "xi2-key-release
// ...", "xi2-button-press <button> <device>", "xi2-button-release ...", "xi2-motion <device>".
// Commands on stdin: "focus" refocuses the window and answers "focused"; "ping" answers
// "pong" after a round trip to the server, so every event the server had delivered by the
// time "ping" was written is printed before "pong". Exits 0 on stdin EOF.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

int logXError(Display* display, XErrorEvent* error)
{
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "x11_probe: X error %s (request %d.%d, resource 0x%lx)\n", text,
                 int(error->request_code), int(error->minor_code), error->resourceid);
    return 0;
}

// The tests read stdout line by line as things happen, so nothing may wait in a buffer.
[[gnu::format(printf, 1, 2)]] void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

void focusWindow(Display* display, Window window)
{
    XRaiseWindow(display, window);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
}

void printEvent(const XEvent& event)
{
    if (event.type == KeyPress || event.type == KeyRelease)
        say("key-%s %u", event.type == KeyPress ? "press" : "release", event.xkey.keycode);
    else if (event.type == ButtonPress || event.type == ButtonRelease)
        say("button-%s %u", event.type == ButtonPress ? "press" : "release", event.xbutton.button);
    else if (event.type == MotionNotify)
        say("motion %d %d", event.xmotion.x_root, event.xmotion.y_root);
}

// The XInput 2 listener's connection and its extension opcode.
Display* g_devices = nullptr;
int g_xiOpcode = -1;

bool listenToDevices()
{
    g_devices = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 2, minor = 0;
    if (!g_devices || !XQueryExtension(g_devices, "XInputExtension", &g_xiOpcode, &event, &error)
        || XIQueryVersion(g_devices, &major, &minor) != Success)
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (int type : {XI_KeyPress, XI_KeyRelease, XI_ButtonPress, XI_ButtonRelease, XI_Motion})
        XISetMask(bits, type);
    XIEventMask mask{XIAllDevices, int(sizeof bits), bits};
    XISelectEvents(g_devices, XDefaultRootWindow(g_devices), &mask, 1);
    XSync(g_devices, False);
    return true;
}

void printDeviceEvent(XEvent& event)
{
    XGenericEventCookie* cookie = &event.xcookie;
    if (event.type != GenericEvent || cookie->extension != g_xiOpcode || !XGetEventData(g_devices, cookie))
        return;
    const auto* device = static_cast<const XIDeviceEvent*>(cookie->data);
    const char* name = cookie->evtype == XI_KeyPress      ? "key-press"
                       : cookie->evtype == XI_KeyRelease    ? "key-release"
                       : cookie->evtype == XI_ButtonPress   ? "button-press"
                       : cookie->evtype == XI_ButtonRelease ? "button-release"
                                                             : nullptr;
    if (name)
        say("xi2-%s %d %d", name, device->detail, device->deviceid);
    else if (cookie->evtype == XI_Motion)
        say("xi2-motion %d", device->deviceid);
    XFreeEventData(g_devices, cookie);
}

void printPendingEvents(Display* display)
{
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        printEvent(event);
    }
    while (g_devices && XPending(g_devices)) {
        XEvent event;
        XNextEvent(g_devices, &event);
        printDeviceEvent(event);
    }
}

// Runs the complete lines in buffer and keeps a partial last one for the next read.
void runCommands(std::string& buffer, Display* display, Window window)
{
    std::string::size_type end;
    while ((end = buffer.find('\n')) != std::string::npos) {
        const std::string command = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        if (command == "focus") {
            focusWindow(display, window);
            say("focused");
        } else if (command == "ping") {
            // Events travel ahead of the reply on our connection, so once XSync returns
            // they are all in our queue, even those still in flight when ping arrived.
            XSync(display, False);
            XSync(g_devices, False);
            printPendingEvents(display);
            say("pong");
        } else if (!command.empty()) {
            std::fprintf(stderr, "x11_probe: unknown command '%s'\n", command.c_str());
        }
    }
}

} // namespace

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_probe: cannot open display '%s'\n", XDisplayName(nullptr));
        return 1;
    }
    XSetErrorHandler(logXError);
    const int screen = XDefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, XRootWindow(display, screen), 0, 0, 400, 300, 0,
                                              XBlackPixel(display, screen), XWhitePixel(display, screen));
    XStoreName(display, window, "x11_probe");
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask
                     | PointerMotionMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(display, window);
    XEvent event;
    do {
        XWindowEvent(display, window, StructureNotifyMask, &event);
    } while (event.type != MapNotify);
    if (!listenToDevices()) {
        std::fprintf(stderr, "x11_probe: no XInput 2\n");
        return 1;
    }
    focusWindow(display, window);
    say("ready %lu", window);

    std::string commands;
    for (;;) {
        printPendingEvents(display);
        pollfd fds[3] = {{XConnectionNumber(display), POLLIN, 0},
                         {STDIN_FILENO, POLLIN, 0},
                         {XConnectionNumber(g_devices), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("x11_probe: poll");
            return 1;
        }
        if ((fds[0].revents | fds[2].revents) & (POLLERR | POLLHUP)) {
            std::fprintf(stderr, "x11_probe: lost the X connection\n");
            return 1;
        }
        if (fds[1].revents) {
            char chunk[256];
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                return 0;
            commands.append(chunk, size_t(n));
            runCommands(commands, display, window);
        }
    }
}
