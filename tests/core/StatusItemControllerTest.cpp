#include "FakeClock.h"
#include "StatusItemController.h"

#include <QDir>
#include <QFile>
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

bool isOpaqueBlack(QRgb pixel)
{
    return qAlpha(pixel) == 255 && qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

// Unpremultiplied, in device pixels, so that pixel() gives the colour as seen.
QImage render(const QIcon& icon, QSize size, qreal scale)
{
    return icon.pixmap(size, scale).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Every test starts with an icon theme that has no icons, so the glyphs are our own
// drawing, whatever the machine has installed; a test may add icons to it.
class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_themes.isValid());
        m_savedSearchPaths = QIcon::themeSearchPaths();
        m_savedFallbackPaths = QIcon::fallbackSearchPaths();
        m_savedTheme = QIcon::themeName();
        m_savedFallbackTheme = QIcon::fallbackThemeName();
        writeTheme();
        QIcon::setThemeSearchPaths({m_themes.path()});
        QIcon::setFallbackSearchPaths({});
        QIcon::setFallbackThemeName(QStringLiteral("ow-test"));
        QIcon::setThemeName(QStringLiteral("ow-test"));
    }

    void TearDown() override
    {
        QIcon::setThemeSearchPaths(m_savedSearchPaths);
        QIcon::setFallbackSearchPaths(m_savedFallbackPaths);
        QIcon::setFallbackThemeName(m_savedFallbackTheme);
        QIcon::setThemeName(m_savedTheme);
    }

    // A grey square, as themes tint their symbolic icons; scaled to any size asked.
    void addThemeIcon(const QString& name)
    {
        QImage square(16, 16, QImage::Format_ARGB32);
        square.fill(QColor(0x2E, 0x34, 0x36));
        ASSERT_TRUE(square.save(m_themes.filePath(QStringLiteral("ow-test/16x16/devices/") + name
                                                  + QStringLiteral(".png"))));
        // Qt keeps what it found per theme: a new theme name makes it look again.
        QIcon::setThemeName(QString());
        QIcon::setThemeName(QStringLiteral("ow-test"));
    }

    FakeClock clock;

private:
    void writeTheme()
    {
        ASSERT_TRUE(QDir(m_themes.path()).mkpath(QStringLiteral("ow-test/16x16/devices")));
        QFile index(m_themes.filePath(QStringLiteral("ow-test/index.theme")));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\n"
                    "Name=ow-test\n"
                    "Directories=16x16/devices\n"
                    "\n"
                    "[16x16/devices]\n"
                    "Size=16\n"
                    "Type=Scalable\n"
                    "MinSize=1\n"
                    "MaxSize=512\n");
    }

    QTemporaryDir m_themes;
    QStringList m_savedSearchPaths;
    QStringList m_savedFallbackPaths;
    QString m_savedTheme;
    QString m_savedFallbackTheme;
};

QSystemTrayIcon* trayOf(const StatusItemController& controller)
{
    const auto trays = controller.findChildren<QSystemTrayIcon*>();
    return trays.size() == 1 ? trays.first() : nullptr;
}

// --- The icons ---

TEST_F(StatusItemTest, PlainIconIsA20By17MaskAtBothScales)
{
    const QIcon icon = StatusItemController::icon(false);
    EXPECT_TRUE(icon.isMask());
    EXPECT_TRUE(StatusItemController::keyboardLockIcon().isMask());
    const QPixmap single = icon.pixmap(QSize(20, 17), 1.0);
    EXPECT_EQ(single.size(), QSize(20, 17));
    const QPixmap doubled = icon.pixmap(QSize(20, 17), 2.0);
    EXPECT_EQ(doubled.size(), QSize(40, 34));
    EXPECT_EQ(doubled.deviceIndependentSize(), QSizeF(20, 17));
}

TEST_F(StatusItemTest, BadgedIconIsA23By17FullColourIcon)
{
    const QIcon icon = StatusItemController::icon(true);
    EXPECT_FALSE(icon.isMask());
    EXPECT_EQ(icon.pixmap(QSize(23, 17), 1.0).size(), QSize(23, 17));
    EXPECT_EQ(icon.pixmap(QSize(23, 17), 2.0).size(), QSize(46, 34));
}

TEST_F(StatusItemTest, KeyboardHasANotchAroundThePadlock)
{
    const QImage image = render(StatusItemController::keyboardLockIcon(), QSize(20, 17), 1.0);
    ASSERT_EQ(image.size(), QSize(20, 17));
    // The keyboard's body, left edge and top edge.
    EXPECT_TRUE(isOpaqueBlack(image.pixel(1, 7)));
    EXPECT_TRUE(isOpaqueBlack(image.pixel(8, 2)));
    // A key.
    EXPECT_EQ(qAlpha(image.pixel(3, 3)), 0);
    // Keyboard body, but inside the notch between keyboard and padlock.
    EXPECT_EQ(qAlpha(image.pixel(11, 11)), 0);
    EXPECT_EQ(qAlpha(image.pixel(11, 12)), 0);
    // The padlock's body, and its shackle's left arm.
    EXPECT_TRUE(isOpaqueBlack(image.pixel(16, 15)));
    EXPECT_GT(qAlpha(image.pixel(14, 11)), 200);
    // Above the keyboard, and right of it above the padlock.
    EXPECT_EQ(qAlpha(image.pixel(8, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(18, 3)), 0);

    const QImage doubled = render(StatusItemController::keyboardLockIcon(), QSize(20, 17), 2.0);
    ASSERT_EQ(doubled.size(), QSize(40, 34));
    EXPECT_TRUE(isOpaqueBlack(doubled.pixel(2, 14)));
    EXPECT_EQ(qAlpha(doubled.pixel(22, 22)), 0);
    EXPECT_TRUE(isOpaqueBlack(doubled.pixel(32, 30)));
}

TEST_F(StatusItemTest, BadgedIconHasTheGlyphInTextColourAndARedDot)
{
    // A text colour no drawing would come to by chance.
    const QPalette saved = QGuiApplication::palette();
    QPalette palette = saved;
    const QColor text(0x12, 0x7A, 0x56);
    palette.setColor(QPalette::WindowText, text);
    QGuiApplication::setPalette(palette);
    const QImage image = render(StatusItemController::icon(true), QSize(23, 17), 1.0);
    QGuiApplication::setPalette(saved);
    ASSERT_EQ(image.size(), QSize(23, 17));
    EXPECT_TRUE(isRed(image.pixel(19, 3)));
    EXPECT_TRUE(isRed(image.pixel(20, 4)));
    const QRgb body = image.pixel(1, 7);
    EXPECT_EQ(qAlpha(body), 255);
    EXPECT_EQ(QColor(body).rgb(), text.rgb());
    EXPECT_EQ(qAlpha(image.pixel(11, 11)), 0);
    // Below the dot, beside the glyph.
    EXPECT_EQ(qAlpha(image.pixel(21, 10)), 0);

    const QImage doubled = render(StatusItemController::icon(true), QSize(23, 17), 2.0);
    ASSERT_EQ(doubled.size(), QSize(46, 34));
    EXPECT_TRUE(isRed(doubled.pixel(39, 7)));
}

TEST_F(StatusItemTest, ThemeGlyphIsUsedInsideItsPlaceAndMadeBlack)
{
    addThemeIcon(QStringLiteral("input-keyboard-symbolic"));
    const QImage image = render(StatusItemController::keyboardLockIcon(), QSize(20, 17), 1.0);
    ASSERT_EQ(image.size(), QSize(20, 17));
    // The theme's square has no keys: where our key was, it is filled, in black.
    EXPECT_TRUE(isOpaqueBlack(image.pixel(3, 3)));
    EXPECT_TRUE(isOpaqueBlack(image.pixel(16, 2)));
    // Kept to the keyboard's place, notch still cut, padlock still ours.
    EXPECT_EQ(qAlpha(image.pixel(8, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(2, 14)), 0);
    EXPECT_EQ(qAlpha(image.pixel(11, 11)), 0);
    EXPECT_TRUE(isOpaqueBlack(image.pixel(16, 15)));
}

TEST_F(StatusItemTest, ThemeWithoutALockScreenGlyphLendsItsPadlock)
{
    addThemeIcon(QStringLiteral("changes-prevent-symbolic"));
    const QImage image = render(StatusItemController::keyboardLockIcon(), QSize(20, 17), 1.0);
    ASSERT_EQ(image.size(), QSize(20, 17));
    // Beside our shackle, inside the padlock's place: filled by the theme's square.
    EXPECT_TRUE(isOpaqueBlack(image.pixel(13, 9)));
    // Our keyboard, with its keys, and the gap left of the padlock.
    EXPECT_EQ(qAlpha(image.pixel(3, 3)), 0);
    EXPECT_EQ(qAlpha(image.pixel(11, 11)), 0);
}

// --- The tray icon ---

TEST_F(StatusItemTest, EnableShowsTheMaskIconWithMenuAndDescription)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(trayOf(controller), nullptr);

    controller.enable(&menu);
    EXPECT_TRUE(controller.isEnabled());
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(tray->contextMenu(), &menu);
    EXPECT_TRUE(tray->icon().isMask());
    EXPECT_EQ(tray->toolTip(), QStringLiteral("OrbinWash tray icon"));
}

TEST_F(StatusItemTest, BadgeSetWhileDisabledShowsAtTheNextEnable)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.setBadge(true);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(trayOf(controller), nullptr);

    controller.enable(&menu);
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    EXPECT_FALSE(tray->icon().isMask());
    const QImage image = render(tray->icon(), QSize(23, 17), 1.0);
    ASSERT_EQ(image.size(), QSize(23, 17));
    EXPECT_TRUE(isRed(image.pixel(19, 3)));
}

TEST_F(StatusItemTest, SameBadgeTwiceSetsTheIconOnce)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.enable(&menu);
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    const qint64 plain = tray->icon().cacheKey();

    // Each drawing is a new icon with a new key, so an unchanged key means no new icon.
    controller.setBadge(true);
    const qint64 badged = tray->icon().cacheKey();
    EXPECT_NE(badged, plain);
    EXPECT_FALSE(tray->icon().isMask());
    controller.setBadge(true);
    EXPECT_EQ(tray->icon().cacheKey(), badged);

    controller.setBadge(false);
    EXPECT_NE(tray->icon().cacheKey(), badged);
    EXPECT_TRUE(tray->icon().isMask());
    const qint64 plainAgain = tray->icon().cacheKey();
    controller.setBadge(false);
    EXPECT_EQ(tray->icon().cacheKey(), plainAgain);
}

TEST_F(StatusItemTest, EnableWhileEnabledOnlySwapsTheMenu)
{
    QMenu first;
    QMenu second;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.enable(&first);
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    const qint64 icon = tray->icon().cacheKey();

    controller.enable(&second);
    EXPECT_EQ(controller.findChildren<QSystemTrayIcon*>().size(), 1);
    EXPECT_EQ(trayOf(controller), tray);
    EXPECT_EQ(tray->contextMenu(), &second);
    EXPECT_EQ(tray->icon().cacheKey(), icon);
    EXPECT_TRUE(tray->isVisible());
}

TEST_F(StatusItemTest, DisableHidesAtOnceAndRemovesTheTrayIcon)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.enable(&menu);
    const QPointer<QSystemTrayIcon> tray = trayOf(controller);
    ASSERT_FALSE(tray.isNull());

    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    ASSERT_FALSE(tray.isNull()); // removed once control is back in the event loop
    EXPECT_FALSE(tray->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.isNull(); }));
    EXPECT_TRUE(controller.findChildren<QSystemTrayIcon*>().isEmpty());

    controller.enable(&menu);
    EXPECT_TRUE(controller.isEnabled());
    EXPECT_NE(trayOf(controller), nullptr);
}

TEST_F(StatusItemTest, DisableWhileDisabledChangesNothing)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return false; });
    controller.setBadge(true);
    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_TRUE(controller.findChildren<QSystemTrayIcon*>().isEmpty());
    EXPECT_EQ(clock.pendingTimers(), 0);

    // The remembered badge survives it.
    controller.enable(&menu);
    ASSERT_NE(trayOf(controller), nullptr);
    EXPECT_FALSE(trayOf(controller)->icon().isMask());
    controller.disable();
    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(clock.pendingTimers(), 0);
}

TEST_F(StatusItemTest, LeftClickOpensTheMenuAndRightClickIsLeftToTheHost)
{
    QMenu menu;
    menu.addAction(QStringLiteral("Lock"));
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.enable(&menu);
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);

    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(menu.isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();
}

// --- A tray host that starts after us ---

TEST_F(StatusItemTest, NoRetryWhenTheHostIsThere)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return true; });
    controller.enable(&menu);
    EXPECT_EQ(clock.pendingTimers(), 0);
}

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
    EXPECT_EQ(clock.pendingTimers(), 1);

    clock.advance(2s);
    EXPECT_EQ(asked, 2);
    clock.advance(StatusItemController::kHostRetryPeriod - 2s - 1ms);
    EXPECT_EQ(asked, 60);
    EXPECT_EQ(clock.pendingTimers(), 1);
    clock.advance(1ms);
    EXPECT_EQ(asked, 61);
    EXPECT_EQ(clock.pendingTimers(), 0);
    // Given up, but still enabled: a host that appears later is Qt's to find.
    EXPECT_TRUE(controller.isEnabled());
    ASSERT_NE(trayOf(controller), nullptr);
    EXPECT_TRUE(trayOf(controller)->isVisible());
}

TEST_F(StatusItemTest, HostThatAppearsStopsTheRetries)
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
    QSystemTrayIcon* tray = trayOf(controller);
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(tray->contextMenu(), &menu);
}

TEST_F(StatusItemTest, DisableStopsTheRetries)
{
    QMenu menu;
    StatusItemController controller(clock, nullptr, [] { return false; });
    controller.enable(&menu);
    EXPECT_EQ(clock.pendingTimers(), 1);
    controller.disable();
    EXPECT_EQ(clock.pendingTimers(), 0);
}

} // namespace
