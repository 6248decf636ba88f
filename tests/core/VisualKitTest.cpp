#include "FakeClock.h"
#include "StatusItemController.h"
#include "VisualKit.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace ow;
using namespace std::chrono_literals;

namespace {

// How many pixels of an image, unpremultiplied so that pixel() gives the colour as seen,
// meet a condition.
template <typename Condition>
int pixelsWhere(const QImage& source, Condition condition)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    int found = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            found += condition(image.pixel(x, y)) ? 1 : 0;
    }
    return found;
}

bool isRed(QRgb pixel)
{
    return qAlpha(pixel) == 255 && qRed(pixel) > 0xB0 && qGreen(pixel) < 0x50 && qBlue(pixel) < 0x50;
}

// How many red pixels a tray icon has, as drawn at 1x.
int redIn(const QIcon& icon)
{
    return pixelsWhere(icon.pixmap(QSize(23, 17), 1.0).toImage(), isRed);
}

// --- The tray icon ---

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

// The plain icon is a mask the panel recolours; the badged one draws the glyph in the
// text colour itself.
TEST_F(StatusItemTest, PlainIconIsAMaskAndTheBadgedOneHasTheGlyphInTextColourAndARedDot)
{
    EXPECT_EQ(redIn(StatusItemController::icon(false)), 0);
    // A text colour no drawing would come to by chance.
    const QPalette saved = QGuiApplication::palette();
    QPalette palette = saved;
    const QColor text(0x12, 0x7A, 0x56);
    palette.setColor(QPalette::WindowText, text);
    QGuiApplication::setPalette(palette);
    const QIcon badged = StatusItemController::icon(true);
    QGuiApplication::setPalette(saved);
    EXPECT_FALSE(badged.isMask());
    EXPECT_GT(redIn(badged), 4);
    const QImage image = badged.pixmap(QSize(23, 17), 1.0).toImage();
    EXPECT_GT(pixelsWhere(image, [&](QRgb pixel) { return pixel == text.rgb(); }), 20);
}

TEST_F(StatusItemTest, EnableShowsTheLastMenuAndBadgeOnceAndDisableRemovesTheIcon)
{
    QMenu second;
    controller.disable(); // while disabled: nothing
    controller.setBadge(true); // remembered while disabled
    EXPECT_EQ(tray(), nullptr);
    controller.enable(&menu);
    controller.enable(&second);
    ASSERT_NE(tray(), nullptr);
    EXPECT_TRUE(tray()->isVisible());
    EXPECT_EQ(tray()->contextMenu(), &second);
    EXPECT_GT(redIn(tray()->icon()), 0);
    controller.setBadge(false);
    EXPECT_TRUE(tray()->icon().isMask());
    EXPECT_EQ(clock.pendingTimers(), 0); // the host is there: no retries
    emit tray()->activated(QSystemTrayIcon::Context); // the host's own menu
    EXPECT_FALSE(second.isVisible());
    second.addAction(QStringLiteral("Lock"));
    emit tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(second.isVisible());
    second.hide();

    const QPointer<QSystemTrayIcon> shown = tray();
    controller.disable();
    controller.disable();
    EXPECT_FALSE(controller.isEnabled());
    ASSERT_FALSE(shown.isNull()); // removed once control is back in the event loop
    EXPECT_FALSE(shown->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.isNull(); }));
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
