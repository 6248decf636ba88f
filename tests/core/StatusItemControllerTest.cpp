#include "FakeClock.h"
#include "StatusItemController.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

using namespace ow;
using namespace std::chrono_literals;

namespace {

constexpr QRgb kRed = 0xFFE01B24;

bool isRed(QRgb pixel)
{
    return qAlpha(pixel) == 255 && qAbs(qRed(pixel) - qRed(kRed)) <= 2
        && qAbs(qGreen(pixel) - qGreen(kRed)) <= 2 && qAbs(qBlue(pixel) - qBlue(kRed)) <= 2;
}

// How many pixels of an icon, drawn at 1x and unpremultiplied, meet a condition.
template <typename Condition>
int pixelsWhere(const QIcon& icon, Condition condition)
{
    const QImage image = icon.pixmap(QSize(23, 17), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += condition(image.pixel(x, y));
    }
    return count;
}

// Every test runs with an icon theme that has no icons, so the glyphs are our own
// drawing, whatever the machine has installed.
class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QIcon::setThemeSearchPaths({m_themes.path()});
        QIcon::setFallbackSearchPaths({});
        QIcon::setThemeName(QStringLiteral("ow-none"));
    }

    void TearDown() override
    {
        QIcon::setThemeSearchPaths(m_savedSearchPaths);
        QIcon::setFallbackSearchPaths(m_savedFallbackPaths);
        QIcon::setThemeName(m_savedTheme);
    }

    FakeClock clock;

private:
    QTemporaryDir m_themes;
    const QStringList m_savedSearchPaths = QIcon::themeSearchPaths();
    const QStringList m_savedFallbackPaths = QIcon::fallbackSearchPaths();
    const QString m_savedTheme = QIcon::themeName();
};

QSystemTrayIcon* trayOf(const StatusItemController& controller)
{
    const auto trays = controller.findChildren<QSystemTrayIcon*>();
    return trays.size() == 1 ? trays.first() : nullptr;
}

TEST_F(StatusItemTest, PlainIconIsAMaskAndTheBadgedOneHasTheGlyphInTextColourAndARedDot)
{
    EXPECT_TRUE(StatusItemController::icon(false).isMask());
    EXPECT_EQ(pixelsWhere(StatusItemController::icon(false), isRed), 0);

    // A text colour no drawing would come to by chance.
    const QPalette saved = QGuiApplication::palette();
    QPalette palette = saved;
    const QColor text(0x12, 0x7A, 0x56);
    palette.setColor(QPalette::WindowText, text);
    QGuiApplication::setPalette(palette);
    const QIcon badged = StatusItemController::icon(true);
    QGuiApplication::setPalette(saved);
    EXPECT_FALSE(badged.isMask());
    EXPECT_GT(pixelsWhere(badged, isRed), 4);
    EXPECT_GT(pixelsWhere(badged, [&](QRgb pixel) { return pixel == text.rgb(); }), 20);
}

TEST_F(StatusItemTest, EnableShowsTheIconWithTheMenuOnceAndTheBadgeAsLastSet)
{
    QMenu first;
    QMenu second;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.setBadge(true); // remembered while disabled
    EXPECT_EQ(trayOf(controller), nullptr);
    controller.enable(&first);
    controller.enable(&second);
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(tray->contextMenu(), &second);
    EXPECT_GT(pixelsWhere(tray->icon(), isRed), 0);
    controller.setBadge(false);
    EXPECT_TRUE(tray->icon().isMask());
    EXPECT_EQ(clock.pendingTimers(), 0); // the host is there: no retries

    emit tray->activated(QSystemTrayIcon::Context); // the host's own menu
    EXPECT_FALSE(second.isVisible());
    second.addAction(QStringLiteral("Lock"));
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(second.isVisible());
    second.hide();
}

TEST_F(StatusItemTest, DisableHidesAtOnceAndRemovesTheTrayIcon)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.disable(); // while disabled: nothing
    controller.enable(&menu);
    const QPointer<QSystemTrayIcon> tray = trayOf(controller);
    ASSERT_FALSE(tray.isNull());

    controller.disable();
    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    ASSERT_FALSE(tray.isNull()); // removed once control is back in the event loop
    EXPECT_FALSE(tray->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.isNull(); }));
    controller.enable(&menu);
    EXPECT_NE(trayOf(controller), nullptr);
}

// --- A tray host that starts after us ---

TEST_F(StatusItemTest, MissingHostIsLookedForEveryTwoSecondsForTwoMinutes)
{
    QMenu menu;
    int asked = 0;
    StatusItemController controller(clock, nullptr, [&] {
        ++asked;
        return false;
    });
    controller.enable(&menu);
    EXPECT_EQ(asked, 1);
    clock.advance(2s);
    EXPECT_EQ(asked, 2);
    clock.advance(StatusItemController::kHostRetryPeriod - 2s - 1ms);
    EXPECT_EQ(asked, 60);
    clock.advance(1ms);
    EXPECT_EQ(asked, 61);
    EXPECT_EQ(clock.pendingTimers(), 0);
    // Given up, but still shown: a host that appears later is Qt's to find.
    ASSERT_NE(trayOf(controller), nullptr);
    EXPECT_TRUE(trayOf(controller)->isVisible());
}

TEST_F(StatusItemTest, HostThatAppearsOrDisableStopsTheRetries)
{
    QMenu menu;
    bool hostUp = false;
    StatusItemController controller(clock, nullptr, [&] { return hostUp; });
    controller.enable(&menu);
    clock.advance(10s);
    EXPECT_EQ(clock.pendingTimers(), 1);
    hostUp = true;
    clock.advance(2s);
    EXPECT_EQ(clock.pendingTimers(), 0);
    ASSERT_NE(trayOf(controller), nullptr);
    EXPECT_EQ(trayOf(controller)->contextMenu(), &menu);

    controller.disable();
    hostUp = false;
    controller.enable(&menu);
    EXPECT_EQ(clock.pendingTimers(), 1);
    controller.disable();
    EXPECT_EQ(clock.pendingTimers(), 0);
}

} // namespace
