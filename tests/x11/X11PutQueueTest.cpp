#include "X11PutQueue.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <thread>

// Last: Xlib's macros (None, Bool, Status...) would break the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace ow;
using namespace std::chrono_literals;

namespace {

// A white window and a black pixmap as big, on a real server; the queue copies the one
// onto the other.
class X11PutQueueTest : public ::testing::Test {
protected:
    X11PutQueueTest()
        : display(XOpenDisplay(nullptr))
    {
        if (!display)
            return;
        const int screen = DefaultScreen(display);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = WhitePixel(display, screen);
        window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 8, 8, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(display, window);
        pixmap = XCreatePixmap(display, window, 8, 8, unsigned(DefaultDepth(display, screen)));
        XGCValues values{};
        values.foreground = BlackPixel(display, screen);
        values.graphics_exposures = False;
        gc = XCreateGC(display, pixmap, GCForeground | GCGraphicsExposures, &values);
        XFillRectangle(display, pixmap, gc, 0, 0, 8, 8);
        XSync(display, False);
    }

    ~X11PutQueueTest() override
    {
        if (!display)
            return;
        XFreeGC(display, gc);
        XFreePixmap(display, pixmap);
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }

    X11PutQueue::Copy copy() const
    {
        return {.source = uint32_t(pixmap), .target = uint32_t(window), .gc = uint32_t(XGContextFromGC(gc)),
                .width = 8, .height = 8};
    }

    bool black()
    {
        XImage* image = XGetImage(display, window, 4, 4, 1, 1, AllPlanes, ZPixmap);
        const bool isBlack = image && XGetPixel(image, 0, 0) == BlackPixel(display, DefaultScreen(display));
        if (image)
            XDestroyImage(image);
        return isBlack;
    }

    // Runs the main loop, which sends what was added, until at.
    static void runUntil(X11PutQueue::Time at)
    {
        while (std::chrono::steady_clock::now() < at)
            QTest::qWait(10);
    }

    Display* display;
    Window window = 0;
    Pixmap pixmap = 0;
    GC gc = nullptr;
    X11PutQueue queue{XDisplayString(display)};
};

TEST_F(X11PutQueueTest, TheServerMakesACopyAtItsTimeWithTheMainLoopAsleep)
{
    ASSERT_NE(display, nullptr);
    const X11PutQueue::Time start = std::chrono::steady_clock::now();
    ASSERT_TRUE(queue.add(copy(), start + 400ms));
    runUntil(start + 200ms);
    EXPECT_FALSE(black());
    // The main thread sleeps through the copy's time: the server makes it all the same.
    std::this_thread::sleep_until(start + 600ms);
    EXPECT_TRUE(black());
}

// A copy due before one already sent could only be made after it: the queue drops both
// and says so, and copies sent in order afterwards work again.
TEST_F(X11PutQueueTest, ACopyOutOfOrderDropsThoseSentAndIsRefused)
{
    ASSERT_NE(display, nullptr);
    const X11PutQueue::Time start = std::chrono::steady_clock::now();
    ASSERT_TRUE(queue.add(copy(), start + 300ms));
    EXPECT_FALSE(queue.add(copy(), start + 200ms));
    runUntil(start + 500ms);
    EXPECT_FALSE(black());
    ASSERT_TRUE(queue.add(copy(), start + 700ms));
    runUntil(start + 900ms);
    EXPECT_TRUE(black());
}

} // namespace
