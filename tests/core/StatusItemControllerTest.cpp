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

using namespace ow;
using namespace std::chrono_literals;

namespace {

bool isRed(QRgb pixel)
{
    constexpr QRgb kRed = 0xFFE01B24;
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

// An icon theme with no icons, so the glyphs are our own drawing, whatever the machine has.
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

    QSystemTrayIcon* tray() const
    {
        const auto trays = controller.findChildren<QSystemTrayIcon*>();
        return trays.size() == 1 ? trays.first() : nullptr;
    }

    FakeClock clock;
    QMenu menu;
    bool hostUp = true;
    int asked = 0;
    StatusItemController controller{clock, nullptr, [this] {
        ++asked;
        return hostUp;
    }};

private:
    QTemporaryDir m_themes;
    const QStringList m_savedSearchPaths = QIcon::themeSearchPaths();
    const QStringList m_savedFallbackPaths = QIcon::fallbackSearchPaths();
    const QString m_savedTheme = QIcon::themeName();
};

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
    QMenu second;
    controller.setBadge(true); // remembered while disabled
    EXPECT_EQ(tray(), nullptr);
    controller.enable(&menu);
    controller.enable(&second);
    ASSERT_NE(tray(), nullptr);
    EXPECT_TRUE(tray()->isVisible());
    EXPECT_EQ(tray()->contextMenu(), &second);
    EXPECT_GT(pixelsWhere(tray()->icon(), isRed), 0);
    controller.setBadge(false);
    EXPECT_TRUE(tray()->icon().isMask());
    EXPECT_EQ(clock.pendingTimers(), 0); // the host is there: no retries
    emit tray()->activated(QSystemTrayIcon::Context); // the host's own menu
    EXPECT_FALSE(second.isVisible());
    second.addAction(QStringLiteral("Lock"));
    emit tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(second.isVisible());
    second.hide();
}

TEST_F(StatusItemTest, DisableHidesAtOnceAndRemovesTheTrayIcon)
{
    controller.disable(); // while disabled: nothing
    controller.enable(&menu);
    const QPointer<QSystemTrayIcon> shown = tray();
    ASSERT_FALSE(shown.isNull());
    controller.disable();
    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    ASSERT_FALSE(shown.isNull()); // removed once control is back in the event loop
    EXPECT_FALSE(shown->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.isNull(); }));
    controller.enable(&menu);
    EXPECT_NE(tray(), nullptr);
}

// A tray host that starts after us is looked for every two seconds for two minutes, until
// it appears or the icon is disabled.
TEST_F(StatusItemTest, MissingHostIsLookedForUntilItAppearsOrTheTimeIsUp)
{
    hostUp = false;
    controller.enable(&menu);
    clock.advance(10s);
    EXPECT_EQ(clock.pendingTimers(), 1);
    hostUp = true;
    clock.advance(2s);
    EXPECT_EQ(clock.pendingTimers(), 0);
    ASSERT_NE(tray(), nullptr);
    EXPECT_EQ(tray()->contextMenu(), &menu);

    controller.disable();
    hostUp = false;
    asked = 0;
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray() != nullptr; }));
    EXPECT_TRUE(tray()->isVisible());
    controller.disable();
    controller.enable(&menu);
    EXPECT_EQ(clock.pendingTimers(), 1);
    controller.disable();
    EXPECT_EQ(clock.pendingTimers(), 0);
}

} // namespace
