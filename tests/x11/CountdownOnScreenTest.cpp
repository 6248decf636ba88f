#include "CountdownLabel.h"
#include "FakePlatform.h"
#include "LockController.h"
#include "LockWindow.h"
#include "Localizer.h"
#include "QtClock.h"
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

// The X11 blitter with its puts for later refused: each put is then made at a tick of
// the lock's clock, which here is virtual, and the server's own clock plays no part.
class AtOnceBlitter final : public WindowBlitter {
public:
    std::unique_ptr<Tiles> upload(WId window, const QImage& strip, int count) override
    {
        std::unique_ptr<Tiles> tiles = m_x11.upload(window, strip, count);
        return tiles ? std::make_unique<AtOnce>(std::move(tiles)) : nullptr;
    }

private:
    class AtOnce final : public Tiles {
    public:
        explicit AtOnce(std::unique_ptr<Tiles> tiles)
            : m_tiles(std::move(tiles))
        {
        }
        void put(int index, QPoint at) override { m_tiles->put(index, at); }
        bool putAfter(int, QPoint, std::chrono::nanoseconds) override { return false; }

    private:
        std::unique_ptr<Tiles> m_tiles;
    };

    X11WindowBlitter m_x11;
};

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

    // A label like the lock's, showing text as shaping and painting it whole draws it.
    static QImage painted(const CountdownLabel* like, const QString& text)
    {
        CountdownLabel shaped(like->font().pixelSize(), like->font().weight(), like->palette().color(QPalette::WindowText));
        QPalette colours = shaped.palette();
        colours.setBrush(QPalette::Window, like->palette().window());
        shaped.setPalette(colours);
        shaped.setFixedSize(like->size());
        shaped.setText(text);
        return shaped.grab().toImage().convertToFormat(QImage::Format_RGB32);
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

    // The lock on the given clock and blitter, the rest on fakes.
    void lockOn(Clock& clock, WindowBlitter& blitter)
    {
        controller = std::make_unique<LockController>(
            std::make_unique<TapLockEngine>(fakes),
            LockController::Services{clock, fakes.defaults(), fakes.cursor(), fakes.displaySleep(), fakes.screens(),
                                     fakes.stacking(), blitter, fakes.watchdog()});
    }

    Display* display;
    FakePlatform fakes;
    AtOnceBlitter atOnce;
    std::unique_ptr<LockController> controller;
};

TEST_F(CountdownOnScreenTest, EverySecondOnScreenIsWhatQtPaints)
{
    lockOn(fakes.clock(), atOnce);
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
    lockOn(fakes.clock(), atOnce);
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

// On the real clock the server makes the puts sent ahead, each in its second, while the
// main loop wakes every other second: in the middle of each second the screen shows the
// time left then.
TEST_F(CountdownOnScreenTest, OnTheRealClockEachSecondIsShownInItsOwnSecond)
{
    QtClock clock;
    X11WindowBlitter blitter;
    lockOn(clock, blitter);
    constexpr int kSeconds = 8;
    const MonoTime begun = clock.monotonicNow();
    ASSERT_TRUE(display && controller->lock(std::chrono::seconds(kSeconds)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->lockWindows()[0]));
    CountdownLabel* label = controller->countdownLabels()[0];
    for (int left = kSeconds - 1; left > 0; --left) {
        SCOPED_TRACE(left);
        const MonoTime middle = begun + std::chrono::seconds(kSeconds - left) + 500ms;
        QTest::qWait(int(std::chrono::duration_cast<std::chrono::milliseconds>(middle - clock.monotonicNow()).count()));
        EXPECT_TRUE(label->putsTiles());
        EXPECT_EQ(onScreen(label), painted(label, L("lock.auto_unlock_countdown", left / 60, left % 60)));
    }
    EXPECT_LE(fakes.watchdog().heartbeats, kSeconds / 2 + 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !controller->isLocked(); }, 2000));
}

} // namespace
