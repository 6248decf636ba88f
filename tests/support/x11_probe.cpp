// Another X client for the lock tests, on $DISPLAY:
//
//   x11_probe listen
//     Maps a focused 400 x 300 window, prints "ready <window id>", then one
//     line per input event it receives: "key-press <keycode>", "key-release <keycode>",
//     "button-press <button>", "button-release <button>", "motion <root x> <root y>".
//     A second connection listens on the root window through XInput 2 to every device,
//     physical (slave) ones included, the way a program reading a device directly does,
//     and prints "xi2-key-press <keycode> <device>", "xi2-key-release ...",
//     "xi2-button-press <button> <device>", "xi2-button-release ...", "xi2-motion <device>".
//     Commands on stdin: "focus" refocuses the window and answers "focused"; "ping"
//     answers "pong" after a round trip to the server, so every event the server had
//     delivered by the time "ping" was written is printed before "pong".
//     Exits 0 on stdin EOF or SIGTERM.
//
//   x11_probe grab <ms>
//     Grabs keyboard and pointer (retrying for 2 s), prints "grabbed", holds them for <ms>
//     (negative: until SIGTERM or stdin EOF), ungrabs, prints "released", exits 0.
//     Exits 1 when the grabs cannot be had.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int logXError(Display* display, XErrorEvent* error)
{
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "x11_probe: X error %s (request %d.%d, resource 0x%lx)\n", text,
                 int(error->request_code), int(error->minor_code), error->resourceid);
    return 0;
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The tests read stdout line by line as things happen, so nothing may wait in a buffer.
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

// SIGTERM arrives as a readable descriptor, so one poll() covers X, stdin and termination.
int terminationFd()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

void focusWindow(Display* display, Window window)
{
    XRaiseWindow(display, window);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
}

void printEvent(const XEvent& event)
{
    switch (event.type) {
    case KeyPress:
    case KeyRelease:
        say("key-%s %u", event.type == KeyPress ? "press" : "release", event.xkey.keycode);
        break;
    case ButtonPress:
    case ButtonRelease:
        say("button-%s %u", event.type == ButtonPress ? "press" : "release", event.xbutton.button);
        break;
    case MotionNotify:
        say("motion %d %d", event.xmotion.x_root, event.xmotion.y_root);
        break;
    default:
        break;
    }
}

// The XInput 2 listener's connection and its extension opcode.
Display* g_devices = nullptr;
int g_xiOpcode = -1;

bool listenToDevices()
{
    g_devices = XOpenDisplay(nullptr);
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 0;
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

int runListen(Display* display, int signals)
{
    const int screen = XDefaultScreen(display);
    const Window window = XCreateSimpleWindow(display, XRootWindow(display, screen), 0, 0, 400, 300, 0,
                                              XBlackPixel(display, screen), XWhitePixel(display, screen));
    XStoreName(display, window, "x11_probe");
    // Asks a window manager to keep the requested geometry instead of placing it itself.
    XSizeHints hints = {};
    hints.flags = USPosition | USSize;
    hints.width = 400;
    hints.height = 300;
    XSetWMNormalHints(display, window, &hints);
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
        pollfd fds[4] = {{XConnectionNumber(display), POLLIN, 0},
                         {STDIN_FILENO, POLLIN, 0},
                         {signals, POLLIN, 0},
                         {XConnectionNumber(g_devices), POLLIN, 0}};
        if (poll(fds, 4, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("x11_probe: poll");
            return 1;
        }
        if (fds[2].revents)
            return 0;
        if ((fds[0].revents | fds[3].revents) & (POLLERR | POLLHUP)) {
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

int runGrab(Display* display, int signals, int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: x11_probe grab <ms>\n");
        return 2;
    }
    const long holdMs = std::strtol(argv[2], nullptr, 10);
    const Window root = XDefaultRootWindow(display);

    bool keyboard = false, pointer = false;
    const auto deadline = Clock::now() + 2s;
    for (;;) {
        if (!keyboard)
            keyboard = XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync,
                                     CurrentTime) == GrabSuccess;
        if (!pointer)
            pointer = XGrabPointer(display, root, False, 0, GrabModeAsync, GrabModeAsync, None,
                                   None, CurrentTime) == GrabSuccess;
        if ((keyboard && pointer) || Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(10ms);
    }
    if (!keyboard || !pointer) {
        std::fprintf(stderr, "x11_probe: cannot grab the %s\n",
                     keyboard ? "pointer" : pointer ? "keyboard" : "keyboard and pointer");
        return 1;
    }
    say("grabbed");

    const auto releaseAt = Clock::now() + std::chrono::milliseconds(holdMs);
    for (;;) {
        // Grabbed input comes to us whatever our event mask; drain it so it cannot pile up.
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
        }
        int timeout = -1;
        if (holdMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(releaseAt - Clock::now());
            if (left <= 0ms)
                break;
            timeout = int(left.count());
        }
        // A timed hold ignores stdin, which the caller may not even have open.
        pollfd fds[3] = {{XConnectionNumber(display), POLLIN, 0},
                         {signals, POLLIN, 0},
                         {holdMs < 0 ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 3, timeout) < 0 && errno != EINTR) {
            std::perror("x11_probe: poll");
            return 1;
        }
        if (fds[1].revents)
            break;
        if (fds[2].revents) {
            char chunk[256];
            if (read(STDIN_FILENO, chunk, sizeof chunk) <= 0)
                break;
        }
    }
    XUngrabPointer(display, CurrentTime);
    XUngrabKeyboard(display, CurrentTime);
    XSync(display, False);
    say("released");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "listen" && mode != "grab") {
        std::fprintf(stderr, "usage: x11_probe listen | grab <ms>\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x11_probe: cannot open display '%s'\n", XDisplayName(nullptr));
        return 1;
    }
    XSetErrorHandler(logXError);
    const int signals = terminationFd();
    const int status = mode == "listen" ? runListen(display, signals)
                                        : runGrab(display, signals, argc, argv);
    XCloseDisplay(display);
    return status;
}
