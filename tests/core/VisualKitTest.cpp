#include "FakeClock.h"
#include "StatusItemController.h"
#include "VisualKit.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
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

// How many red pixels a tray icon has, as drawn at 1x.
int redIn(const QIcon& icon)
{
    return pixelsWhere(icon.pixmap(QSize(23, 17), 1.0).toImage(), [](QRgb pixel) {
        return qAlpha(pixel) == 255 && qRed(pixel) > 0xB0 && qGreen(pixel) < 0x50 && qBlue(pixel) < 0x50;
    });
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
        // An icon disabled earlier goes at the next turn of the event loop; let it go now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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

// Trays show the icon's pixels as they are, on GNOME's black bar as on a light panel: both
// icons must stand out on either, and only the badged one is red or loses the mask mark.
TEST_F(StatusItemTest, BothIconsReadOnDarkAndLightPanelsAndOnlyTheBadgeIsRed)
{
    const struct { bool badge; QRgb panel; } rows[] = {
        {false, 0xFF000000}, {false, 0xFF303030}, {false, 0xFFF6F5F4}, {false, 0xFFFFFFFF},
        {true, 0xFF000000}, {true, 0xFFF6F5F4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "badge " << row.badge << ", panel " << std::hex << row.panel);
        const QIcon icon = StatusItemController::icon(row.badge);
        EXPECT_EQ(icon.isMask(), !row.badge);
        EXPECT_EQ(redIn(icon) > 4, row.badge);
        QImage panel(23, 17, QImage::Format_ARGB32);
        panel.fill(row.panel);
        QPainter painter(&panel);
        painter.drawPixmap(0, 0, icon.pixmap(QSize(23, 17), 1.0));
        painter.end();
        // Pixels a glance tells from the panel: a third of the way to the other end.
        const int standingOut = pixelsWhere(panel, [&](QRgb pixel) { return std::abs(qGray(pixel) - qGray(row.panel)) > 85; });
        EXPECT_GT(standingOut, 60);
    }
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
// No icon is made before then: Qt picks the way to the tray as an icon is made, and one
// made without a host never reaches the host that comes (and warns of a missing signal).
TEST_F(StatusItemTest, MissingHostIsLookedForUntilItAppearsOrTheTimeIsUp)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler saved = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        warnings.append(text);
    });
    hostUp = false;
    controller.enable(&menu);
    clock.advance(10s);
    EXPECT_EQ(clock.pendingTimers(), 1);
    EXPECT_EQ(tray(), nullptr);
    EXPECT_TRUE(controller.isEnabled());
    QCoreApplication::processEvents();
    qInstallMessageHandler(saved);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(u'\n').toStdString();
    hostUp = true;
    clock.advance(2s);
    EXPECT_EQ(clock.pendingTimers(), 0);
    ASSERT_NE(tray(), nullptr);
    EXPECT_EQ(tray()->contextMenu(), &menu);

    QMenu second; // a menu given while waiting is the one the icon shows
    controller.disable();
    hostUp = false;
    controller.enable(&menu);
    controller.enable(&second);
    hostUp = true;
    clock.advance(2s);
    ASSERT_NE(tray(), nullptr);
    EXPECT_EQ(tray()->contextMenu(), &second);

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
    EXPECT_TRUE(controller.isEnabled());
    controller.disable();
    controller.enable(&menu);
    EXPECT_EQ(clock.pendingTimers(), 1);
    controller.disable();
    EXPECT_EQ(clock.pendingTimers(), 0);
}

} // namespace
