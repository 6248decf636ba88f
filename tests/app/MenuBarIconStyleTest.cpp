#include "BrandMark.h"
#include "MenuBarIconStyle.h"

#include <QFile>
#include <QStyleFactory>
#include <QStyleOption>

#include <gtest/gtest.h>

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
