#include "BrandMark.h"
#include "MenuBarIconStyle.h"
#include "SymbolIcons.h"

#include <QFile>
#include <QStyleFactory>
#include <QStyleOption>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace ow;

namespace {

bool imageFormatPluginsLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}

} // namespace

// The menu bar's » looks as Fusion draws it, either way round, and neither it nor the
// brand mark that the main window and the lock show loads an image format plugin. (Only
// checkable in a process that has loaded none yet, as ctest runs each test.)
TEST(MenuBarIconStyleTest, ExtensionIconIsFusionsWithoutImageFormatPlugins)
{
    const bool loadedBefore = imageFormatPluginsLoaded();
    EXPECT_FALSE(orbinMark().isNull());
    MenuBarIconStyle style;
    QStyleOption leftToRight;
    QStyleOption rightToLeft;
    rightToLeft.direction = Qt::RightToLeft;
    const QIcon ours[] = {style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, &leftToRight),
                          style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, &rightToLeft)};
    if (!loadedBefore) {
        EXPECT_FALSE(imageFormatPluginsLoaded());
    }

    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("fusion")));
    const QIcon theirs[] = {fusion->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, &leftToRight),
                            fusion->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, &rightToLeft)};
    for (int direction = 0; direction < 2; ++direction) {
        ASSERT_FALSE(theirs[direction].availableSizes().isEmpty());
        EXPECT_EQ(ours[direction].availableSizes(), theirs[direction].availableSizes());
        for (const QSize size : theirs[direction].availableSizes())
            EXPECT_EQ(ours[direction].pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32),
                      theirs[direction].pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32))
                << direction << " " << size.width();
    }
}

// The gear and the envelope as drawn where the icon theme has none: the gear's eight teeth,
// ring and hole where they belong, and the envelope's flap cut out of its body.
TEST(SymbolIconsTest, DrawnGearAndEnvelopeHaveTheirShape)
{
    constexpr int kSize = 64;
    QIcon::setThemeSearchPaths({}); // no theme's gear or envelope, whatever is installed
    QIcon::setFallbackSearchPaths({});
    ASSERT_FALSE(QIcon::hasThemeIcon(QStringLiteral("preferences-system")));
    ASSERT_FALSE(QIcon::hasThemeIcon(QStringLiteral("mail-unread")));
    const auto alphaAt = [](const QImage& image, double x, double y) {
        return qAlpha(image.pixel(int(x * kSize), int(y * kSize)));
    };
    const QImage gear = gearIcon(kSize, Qt::black).pixmap(kSize).toImage();
    EXPECT_EQ(alphaAt(gear, 0.5, 0.5), 0); // the hole
    for (int tooth = 0; tooth < 8; ++tooth) {
        SCOPED_TRACE(tooth);
        const double top = (2 * tooth + 0.5) * M_PI / 8;
        const double gap = (2 * tooth + 1.5) * M_PI / 8;
        EXPECT_EQ(alphaAt(gear, 0.5 + 0.43 * std::cos(top), 0.5 + 0.43 * std::sin(top)), 255);
        EXPECT_EQ(alphaAt(gear, 0.5 + 0.43 * std::cos(gap), 0.5 + 0.43 * std::sin(gap)), 0);
        EXPECT_EQ(alphaAt(gear, 0.5 + 0.25 * std::cos(gap), 0.5 + 0.25 * std::sin(gap)), 255); // the ring
    }
    const QImage envelope = envelopeIcon(kSize, Qt::black).pixmap(kSize).toImage();
    for (const double x : {0.3, 0.7}) {
        EXPECT_EQ(alphaAt(envelope, x, 0.385), 0) << x; // on the flap
        EXPECT_EQ(alphaAt(envelope, x, 0.48), 255) << x; // below it
        EXPECT_EQ(alphaAt(envelope, x, 0.72), 255) << x;
    }
}
