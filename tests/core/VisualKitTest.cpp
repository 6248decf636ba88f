#include "BadgeImageView.h"
#include "BrandMark.h"
#include "VisualKit.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace ow;

namespace {

// The pixels of a badge, unpremultiplied so that pixel() gives the colour as seen, where a
// condition holds: how many, and their bounds.
template <typename Condition>
std::pair<int, QRect> badgePixels(int count, qreal diameter, Condition condition)
{
    const QImage image = quotaBadgeImage(count, diameter).convertToFormat(QImage::Format_ARGB32);
    std::pair<int, QRect> found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (condition(image.pixel(x, y))) {
                ++found.first;
                found.second |= QRect(x, y, 1, 1);
            }
        }
    }
    return found;
}

bool isWhite(QRgb pixel)
{
    return qAlpha(pixel) > 0 && qRed(pixel) >= 0xF0 && qGreen(pixel) >= 0xF0 && qBlue(pixel) >= 0xF0;
}

bool isRed(QRgb pixel)
{
    constexpr QRgb kRed = 0xFFE01B24;
    return qAlpha(pixel) == 255 && qAbs(qRed(pixel) - qRed(kRed)) <= 2
        && qAbs(qGreen(pixel) - qGreen(kRed)) <= 2 && qAbs(qBlue(pixel) - qBlue(kRed)) <= 2;
}

TEST(QuotaBadgeTest, IsARedDiscWithWhiteDigitsCentredAndTransparentCorners)
{
    const int d = 14;
    const QImage image = quotaBadgeImage(1, d);
    ASSERT_EQ(image.size(), QSize(d, d));
    EXPECT_GT(badgePixels(1, d, isRed).first, d * d / 3);
    EXPECT_GT(badgePixels(1, d, isWhite).first, 0);
    for (const QPoint corner : {QPoint(0, 0), QPoint(d - 1, 0), QPoint(0, d - 1), QPoint(d - 1, d - 1)})
        EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();
    EXPECT_TRUE(quotaBadgeImage(3, 0).isNull());
    // Counts below one draw a one; the comparison can tell digits apart.
    EXPECT_TRUE(quotaBadgeImage(0, d) == image);
    EXPECT_TRUE(quotaBadgeImage(-5, d) == image);
    EXPECT_FALSE(quotaBadgeImage(2, d) == image);
    // Large enough that an off-centre line would show past the image's own clipping.
    const int large = 40;
    const QRect one = badgePixels(1, large, isWhite).second;
    for (const int count : {88, 1234}) {
        const QRect digits = badgePixels(count, large, isWhite).second;
        EXPECT_GT(digits.width(), one.width()) << count;
        EXPECT_NEAR((digits.left() + digits.right()) / 2.0, (large - 1) / 2.0, 1.0) << count;
    }
}

TEST(BrandTest, TheMarkDecodesAndTheColourFollowsTheAppearance)
{
    EXPECT_FALSE(orbinMark().isNull());
    const QPalette saved = QApplication::palette();
    QPalette palette = saved;
    palette.setColor(QPalette::Window, QColor(30, 30, 32));
    QApplication::setPalette(palette);
    const QColor dark = orbinMauve();
    palette.setColor(QPalette::Window, QColor(246, 245, 244));
    QApplication::setPalette(palette);
    const QColor light = orbinMauve();
    QApplication::setPalette(saved);
    EXPECT_NE(dark, orbinMauveFixed());
    EXPECT_EQ(light, orbinMauveFixed());
}

TEST(MakeLabelTest, MarkupIsShownLiterally)
{
    const std::unique_ptr<QLabel> markup(makeLabel("<b>x</b>", 20, QFont::Normal, Qt::black));
    const std::unique_ptr<QLabel> plain(makeLabel("x", 20, QFont::Normal, Qt::black));
    EXPECT_EQ(markup->textFormat(), Qt::PlainText);
    // Eight characters drawn, not one bold x.
    EXPECT_GT(markup->sizeHint().width(), 4 * plain->sizeHint().width());
}

// A click on the badge over a button reaches the button; a plain label there would swallow it.
TEST(BadgeOverButtonTest, ClickOnTheBadgeReachesTheButton)
{
    for (const bool badgeView : {true, false}) {
        QWidget window;
        window.resize(200, 100);
        auto* button = new QPushButton("Go", &window);
        button->setGeometry(10, 10, 120, 50);
        QLabel* decoration = badgeView ? new BadgeImageView(&window) : new QLabel(&window);
        decoration->setPixmap(QPixmap::fromImage(quotaBadgeImage(3, 20)));
        decoration->setGeometry(100, 20, 20, 20);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, decoration->geometry().center());
        EXPECT_EQ(clicked.count(), badgeView ? 1 : 0) << badgeView;
    }
}

} // namespace
