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

constexpr QRgb kRed = 0xFFE01B24;

bool isWhite(QRgb pixel)
{
    return qAlpha(pixel) > 0 && qRed(pixel) >= 0xF0 && qGreen(pixel) >= 0xF0 && qBlue(pixel) >= 0xF0;
}

bool isRed(QRgb pixel)
{
    return qAlpha(pixel) == 255 && qAbs(qRed(pixel) - qRed(kRed)) <= 2
        && qAbs(qGreen(pixel) - qGreen(kRed)) <= 2 && qAbs(qBlue(pixel) - qBlue(kRed)) <= 2;
}

// Unpremultiplied, so that pixel() gives the colour as seen.
QImage badge(int count, qreal diameter)
{
    return quotaBadgeImage(count, diameter).convertToFormat(QImage::Format_ARGB32);
}

QRect whiteBounds(const QImage& image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isWhite(image.pixel(x, y)))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

TEST(QuotaBadgeTest, IsARedDiscWithWhiteDigitsAndTransparentCorners)
{
    const int d = 14;
    const QImage image = badge(1, d);
    ASSERT_EQ(image.size(), QSize(d, d));
    int red = 0;
    for (int y = 0; y < d; ++y) {
        for (int x = 0; x < d; ++x)
            red += isRed(image.pixel(x, y));
    }
    EXPECT_GT(red, d * d / 3);
    EXPECT_FALSE(whiteBounds(image).isEmpty());
    for (const QPoint corner : {QPoint(0, 0), QPoint(d - 1, 0), QPoint(0, d - 1), QPoint(d - 1, d - 1)})
        EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();
    EXPECT_TRUE(quotaBadgeImage(3, 0).isNull());
}

TEST(QuotaBadgeTest, CountsBelowOneDrawAOne)
{
    const QImage one = quotaBadgeImage(1, 14);
    EXPECT_TRUE(quotaBadgeImage(0, 14) == one);
    EXPECT_TRUE(quotaBadgeImage(-5, 14) == one);
    EXPECT_FALSE(quotaBadgeImage(2, 14) == one); // the comparison can tell digits apart
}

TEST(QuotaBadgeTest, DigitsAreDrawnInFullAndCentred)
{
    // Large enough that an off-centre line would show past the image's own clipping.
    const int d = 40;
    const QRect one = whiteBounds(badge(1, d));
    for (const int count : {88, 1234}) {
        const QRect digits = whiteBounds(badge(count, d));
        EXPECT_GT(digits.width(), one.width()) << count;
        EXPECT_NEAR((digits.left() + digits.right()) / 2.0, (d - 1) / 2.0, 1.0) << count;
    }
}

// --- The brand ---

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

// --- Labels ---

TEST(MakeLabelTest, MarkupIsShownLiterally)
{
    const std::unique_ptr<QLabel> markup(makeLabel("<b>x</b>", 20, QFont::Normal, Qt::black));
    const std::unique_ptr<QLabel> plain(makeLabel("x", 20, QFont::Normal, Qt::black));
    EXPECT_EQ(markup->textFormat(), Qt::PlainText);
    // Eight characters drawn, not one bold x.
    EXPECT_GT(markup->sizeHint().width(), 4 * plain->sizeHint().width());
}

// --- The badge over a button ---

class BadgeOverButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(200, 100);
        m_button = new QPushButton("Go", &m_window);
        m_button->setGeometry(10, 10, 120, 50);
    }

    // Clicks the top-level window at the decoration's centre and counts the button's clicks.
    int clicksThrough(QLabel* decoration)
    {
        decoration->setGeometry(100, 20, 20, 20);
        decoration->raise();
        m_window.show();
        if (!QTest::qWaitForWindowExposed(&m_window))
            return -1;
        QSignalSpy clicked(m_button, &QPushButton::clicked);
        QTest::mouseClick(m_window.windowHandle(), Qt::LeftButton, {},
                          decoration->geometry().center());
        return int(clicked.count());
    }

    QWidget m_window;
    QPushButton* m_button = nullptr;
};

TEST_F(BadgeOverButtonTest, ClickOnTheBadgeReachesTheButton)
{
    auto* badgeView = new BadgeImageView(&m_window);
    badgeView->setImage(quotaBadgeImage(3, 20));
    EXPECT_EQ(clicksThrough(badgeView), 1);
}

TEST_F(BadgeOverButtonTest, APlainLabelInTheSamePlaceWouldSwallowIt)
{
    auto* label = new QLabel(&m_window);
    label->setPixmap(QPixmap::fromImage(quotaBadgeImage(3, 20)));
    EXPECT_EQ(clicksThrough(label), 0);
}

} // namespace
