#include "FadingLabel.h"
#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeInputGrab.h"
#include "FakePowerKeyInhibitor.h"
#include "FakeLockWatchdog.h"
#include "FakeWindowStacking.h"
#include "HoldBarView.h"
#include "HoldDuration.h"
#include "Localizer.h"
#include "LockController.h"
#include "LockWindow.h"
#include "MemoryUserDefaults.h"
#include "QtScreenList.h"
#include "TapLockEngine.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

using namespace ow;

namespace {

QImage render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QImage barAt(double progress)
{
    HoldBarView bar;
    bar.setProgress(progress);
    return render(bar);
}

// Mauve fill: clearly blue-violet, far brighter than the grey track.
bool isFill(QRgb pixel)
{
    return qBlue(pixel) > 180 && qRed(pixel) > 90 && qBlue(pixel) > qGreen(pixel) + 60;
}

bool isKnob(QRgb pixel)
{
    return qRed(pixel) > 230 && qGreen(pixel) > 230 && qBlue(pixel) > 230;
}

bool isTrack(QRgb pixel)
{
    return qAbs(qRed(pixel) - 51) <= 3 && qAbs(qGreen(pixel) - 51) <= 3 && qAbs(qBlue(pixel) - 51) <= 3;
}

TEST(HoldBarView, IsThreeHundredFortyByFourteen)
{
    HoldBarView bar;
    EXPECT_EQ(bar.size(), QSize(340, 14));
}

TEST(HoldBarView, ABarJustStartedShowsAFullCircleAtItsLeftEnd)
{
    const QImage image = barAt(0.01);
    // The circle of diameter 14 spans x = 0..13, its knob at the right end (a 3.4-wide
    // sliver would have its knob at x = 0..3).
    EXPECT_TRUE(isFill(image.pixel(3, 7)));
    EXPECT_TRUE(isKnob(image.pixel(10, 7)));
    EXPECT_FALSE(isKnob(image.pixel(3, 7)));
    // Past the circle's glow the track is plain grey.
    EXPECT_FALSE(isFill(image.pixel(24, 7)));
    EXPECT_TRUE(isTrack(image.pixel(30, 7)));
}

TEST(HoldBarView, ProgressAboveOneFillsTheWholeWidth)
{
    const QImage full = barAt(1.7);
    EXPECT_TRUE(isFill(full.pixel(320, 7)));
    EXPECT_TRUE(isKnob(full.pixel(335, 7)));
    EXPECT_EQ(full, barAt(1.0));
    const QImage half = barAt(0.5);
    EXPECT_TRUE(isFill(half.pixel(150, 7)));
    EXPECT_TRUE(isTrack(half.pixel(250, 7)));
}

TEST(HoldBarView, ZeroOrLessDrawsOnlyTheTrack)
{
    const QImage empty = barAt(0.0);
    EXPECT_EQ(empty, barAt(-0.5));
    for (int x = 7; x < 333; x += 5)
        EXPECT_TRUE(isTrack(empty.pixel(x, 7))) << x;
}

QLabel* labelWithText(QWidget& window, const QString& text)
{
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

TEST(LockWindow, InstructionNamesTheHoldTimeInTheRightForm)
{
    LockWindow one(QRect(0, 0, 1024, 768), 1.0);
    EXPECT_NE(labelWithText(one, L("lock.instruction_one", 1)), nullptr);
    LockWindow three(QRect(0, 0, 1024, 768), 3.0);
    EXPECT_NE(labelWithText(three, L("lock.instruction_other", 3)), nullptr);
    EXPECT_EQ(labelWithText(three, L("lock.instruction_one", 3)), nullptr);
}

TEST(LockWindow, StartsWithAnInvisibleHintAndABlankCountdown)
{
    LockWindow window(QRect(0, 0, 1024, 768), 3.0);
    EXPECT_EQ(window.holdHint()->alpha(), 0.0);
    EXPECT_EQ(window.holdHint()->text(), L("lock.keep_holding"));
    EXPECT_EQ(window.countdownLabel()->text(), QStringLiteral(" "));
    EXPECT_EQ(window.holdBar()->progress(), 0.0);
}

TEST(LockWindow, TheStackIsCentredWithItsSpacings)
{
    LockWindow window(QRect(0, 0, 1024, 768), 3.0);
    window.show();
    QApplication::processEvents();
    const QLabel* title = labelWithText(window, L("lock.title"));
    const QLabel* instruction = labelWithText(window, L("lock.instruction_other", 3));
    ASSERT_NE(title, nullptr);
    ASSERT_NE(instruction, nullptr);
    const QRect bar = window.holdBar()->geometry();
    const QRect hint = window.holdHint()->geometry();
    const QRect countdown = window.countdownLabel()->geometry();
    EXPECT_EQ(bar.center().x(), window.width() / 2 - 1 + (window.width() % 2));
    EXPECT_NEAR(title->geometry().center().x(), window.width() / 2, 1);
    EXPECT_EQ(bar.top() - instruction->geometry().bottom() - 1, 28);
    EXPECT_EQ(hint.top() - bar.bottom() - 1, 16);
    EXPECT_EQ(countdown.top() - hint.bottom() - 1, 24);
    // Vertically centred: as much room above the icon as below the countdown.
    const QLabel* icon = window.findChildren<QLabel*>().value(0);
    EXPECT_NEAR(icon->geometry().top(), window.height() - 1 - countdown.bottom(), 1);
    EXPECT_EQ(icon->size(), QSize(130, 130));
}

TEST(LockOverlays, EveryScreenGetsAWindowExactlyCoveringIt)
{
    const QList<QScreen*> qtScreens = QGuiApplication::screens();
    ASSERT_EQ(qtScreens.size(), 2) << "the test binary runs with two offscreen screens";
    FakeClock clock;
    MemoryUserDefaults defaults;
    FakeCursorVisibility cursor;
    FakeDisplaySleepAssertion sleep;
    QtScreenList screens;
    FakeWindowStacking stacking;
    FakeLockWatchdog watchdog;
    LockController controller(std::make_unique<TapLockEngine>(std::make_unique<FakeInputGrab>(),
                                                              std::make_unique<FakePowerKeyInhibitor>(), clock),
                              {clock, defaults, cursor, sleep, screens, stacking, watchdog});
    ASSERT_TRUE(controller.lock());
    QApplication::processEvents();
    ASSERT_EQ(controller.lockWindows().size(), 2);
    for (int i = 0; i < 2; ++i) {
        LockWindow* window = controller.lockWindows()[i];
        EXPECT_EQ(window->geometry(), qtScreens[i]->geometry());
        EXPECT_EQ(window->screen(), qtScreens[i]);
        EXPECT_EQ(controller.holdBars()[i], window->holdBar());
        EXPECT_EQ(controller.holdHints()[i], window->holdHint());
        EXPECT_EQ(controller.countdownLabels()[i], window->countdownLabel());
        EXPECT_EQ(window->countdownLabel()->text(), L("lock.auto_unlock_countdown", 15, 0));
    }
    EXPECT_EQ(sleep.lastReason, L("lock.power_assertion_reason"));
    controller.unlock();
}

} // namespace
