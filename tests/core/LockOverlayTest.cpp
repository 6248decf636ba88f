#include "FakeClock.h"
#include "FakeCursorVisibility.h"
#include "FakeDisplaySleepAssertion.h"
#include "FakeInputGrab.h"
#include "FakeLockWatchdog.h"
#include "FakePowerKeyInhibitor.h"
#include "FakeWindowStacking.h"
#include "HoldBarView.h"
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

#include <algorithm>

using namespace ow;

namespace {

QImage barAt(double progress)
{
    HoldBarView bar;
    bar.setProgress(progress);
    QImage image(bar.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    bar.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
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

// Which of fill, knob and track the bar shows along its middle line, as one letter a pixel.
std::string barLine(const QImage& image)
{
    std::string line;
    for (int x = 0; x < image.width(); ++x) {
        const QRgb pixel = image.pixel(x, image.height() / 2);
        line += isKnob(pixel) ? 'K' : isFill(pixel) ? 'F' : isTrack(pixel) ? 'T' : '.';
    }
    return line;
}

TEST(HoldBarView, EmptyIsAllTrackFullIsAllFillAndTheStartShowsAWholeCircle)
{
    const int width = barAt(0.0).width();
    const int height = barAt(0.0).height();
    const std::string empty = barLine(barAt(0.0));
    EXPECT_EQ(empty, barLine(barAt(-0.5)));
    EXPECT_EQ(empty.find_first_not_of("T.", 0), std::string::npos) << empty;
    EXPECT_GT(std::count(empty.begin(), empty.end(), 'T'), width * 9 / 10) << empty;

    const std::string full = barLine(barAt(1.0));
    EXPECT_EQ(full, barLine(barAt(1.7)));
    EXPECT_EQ(full.find('T'), std::string::npos) << full;
    EXPECT_NE(full.rfind('K'), std::string::npos) << full;
    EXPECT_GT(full.rfind('K'), size_t(width - height)) << full;

    const std::string half = barLine(barAt(0.5));
    EXPECT_EQ(half[size_t(width / 2 - height)], 'F') << half;
    EXPECT_EQ(half[size_t(width * 3 / 4)], 'T') << half;

    // A hold just begun is no sliver: its fill is a circle of the bar's height, knob at its end.
    const std::string start = barLine(barAt(0.01));
    EXPECT_EQ(start[size_t(height / 4)], 'F') << start;
    EXPECT_GE(start.find('K'), size_t(height / 3)) << start;
    EXPECT_LT(start.find('K'), size_t(height)) << start;
    EXPECT_EQ(start[size_t(3 * height)], 'T') << start;
}

const QLabel* labelWithText(const QWidget& window, const QString& text)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

TEST(LockWindow, InstructionNamesTheHoldTimeInTheRightForm)
{
    const LockWindow one(QRect(0, 0, 1024, 768), 1.0);
    EXPECT_NE(labelWithText(one, L("lock.instruction_one", 1)), nullptr);
    const LockWindow three(QRect(0, 0, 1024, 768), 3.0);
    EXPECT_NE(labelWithText(three, L("lock.instruction_other", 3)), nullptr);
    EXPECT_EQ(labelWithText(three, L("lock.instruction_one", 3)), nullptr);
}

TEST(LockOverlays, EveryScreenGetsAWindowExactlyCoveringItInScreenOrder)
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
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(controller.holdBars()[i], window->holdBar());
        EXPECT_EQ(controller.countdownLabels()[i], window->countdownLabel());
    }
    controller.unlock();
}

} // namespace
