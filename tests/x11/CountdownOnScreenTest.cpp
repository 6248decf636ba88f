#include "CountdownLabel.h"
#include "FakePlatform.h"
#include "LockController.h"
#include "LockWindow.h"
#include "Localizer.h"
#include "TapLockEngine.h"
#include "X11WindowBlitter.h"

#include <QTest>

#include <gtest/gtest.h>

// Last: Xlib's macros (None, Bool, Status...) would break the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace ow;
using namespace std::chrono_literals;

namespace {

// The lock's countdown on a real X server, with its digits put as tiles: what the server
// shows must always be what Qt paints for the label's text.
class CountdownOnScreenTest : public ::testing::Test {
protected:
    CountdownOnScreenTest()
        : display(XOpenDisplay(nullptr))
    {
    }

    ~CountdownOnScreenTest() override
    {
        controller.reset();
        if (display)
            XCloseDisplay(display);
    }

    // The label's area as the X server has it.
    QImage onScreen(const CountdownLabel* label) const
    {
        const QRect area(label->mapTo(label->window(), QPoint()), label->size());
        XImage* image = XGetImage(display, label->window()->winId(), area.x(), area.y(), unsigned(area.width()),
                                  unsigned(area.height()), AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage copy(area.size(), QImage::Format_RGB32);
        for (int y = 0; y < area.height(); ++y) {
            for (int x = 0; x < area.width(); ++x)
                copy.setPixel(x, y, QRgb(XGetPixel(image, x, y)) | 0xff000000);
        }
        XDestroyImage(image);
        return copy;
    }

    // Whether the server comes to show what Qt paints for the label now; requests of the
    // blitter's connection and Qt's reach the server in no fixed order with ours.
    bool showsLabel(CountdownLabel* label) const
    {
        const QImage painted = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return QTest::qWaitFor([&] { return onScreen(label) == painted; }, 2000);
    }

    // Locks and waits for the overlay on screen; its countdown label, or null.
    CountdownLabel* lockedLabel()
    {
        if (!display || !controller->lock() || !QTest::qWaitForWindowExposed(controller->lockWindows()[0]))
            return nullptr;
        return controller->countdownLabels()[0];
    }

    Display* display;
    FakePlatform fakes;
    X11WindowBlitter blitter;
    std::unique_ptr<LockController> controller = std::make_unique<LockController>(
        std::make_unique<TapLockEngine>(fakes),
        LockController::Services{fakes.clock(), fakes.defaults(), fakes.cursor(), fakes.displaySleep(),
                                 fakes.screens(), fakes.stacking(), blitter, fakes.watchdog()});
};

TEST_F(CountdownOnScreenTest, EverySecondOnScreenIsWhatQtPaints)
{
    CountdownLabel* label = lockedLabel();
    ASSERT_NE(label, nullptr);
    for (int left = 900; left > 0; --left) {
        SCOPED_TRACE(left);
        ASSERT_EQ(label->text(), L("lock.auto_unlock_countdown", left / 60, left % 60));
        ASSERT_TRUE(showsLabel(label));
        fakes.clock().advance(1s);
    }
    EXPECT_FALSE(controller->isLocked());
}

// Tiles are not in Qt's buffer of the window: when another window has covered the label
// and goes, Qt shows that buffer again, and the label must be repainted over it.
TEST_F(CountdownOnScreenTest, AnExposedLabelShowsTheCurrentTimeAgain)
{
    CountdownLabel* label = lockedLabel();
    ASSERT_NE(label, nullptr);
    fakes.clock().advance(5s);
    ASSERT_TRUE(showsLabel(label));

    const QRect area(label->mapTo(label->window(), QPoint()), label->size());
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = WhitePixel(display, DefaultScreen(display));
    const Window cover = XCreateWindow(display, DefaultRootWindow(display), area.x(), area.y(),
                                       unsigned(area.width()), unsigned(area.height()), 0, CopyFromParent,
                                       InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, cover);
    XSync(display, False);
    XDestroyWindow(display, cover);
    XSync(display, False);
    EXPECT_TRUE(showsLabel(label));

    // Tiles still go where they belong after the repaint.
    fakes.clock().advance(3s);
    EXPECT_TRUE(showsLabel(label));
}

} // namespace
