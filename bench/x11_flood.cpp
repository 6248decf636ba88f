// Floods the X server with fake input through XTest, the way a keyboard being wiped does:
//   x11_flood <motions> <key taps>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: x11_flood <motions> <key taps>\n");
        return 2;
    }
    const long motions = std::strtol(argv[1], nullptr, 10);
    const long taps = std::strtol(argv[2], nullptr, 10);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const KeyCode letters[] = {XKeysymToKeycode(display, XK_a), XKeysymToKeycode(display, XK_s),
                               XKeysymToKeycode(display, XK_d), XKeysymToKeycode(display, XK_f)};
    const long total = motions > taps ? motions : taps;
    for (long i = 0; i < total; ++i) {
        if (i < motions)
            XTestFakeMotionEvent(display, 0, int(i % 1000), int((i / 1000) % 700), 0);
        if (i < taps) {
            const KeyCode key = letters[i % 4];
            XTestFakeKeyEvent(display, key, True, 0);
            XTestFakeKeyEvent(display, key, False, 0);
        }
        if (i % 1000 == 999)
            XSync(display, False); // keep the request queue bounded
    }
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
