#include "BadgeImageView.h"
#include "BrandMark.h"
#include "VisualKit.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

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

std::optional<QRect> whiteBounds(const QImage& image)
{
    std::optional<QRect> bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isWhite(image.pixel(x, y)))
                continue;
            bounds = bounds ? bounds->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

qreal horizontalCentre(const QRect& rect)
{
    return (rect.left() + rect.right()) / 2.0;
}

// --- The quota badge ---

class QuotaBadgeSizeTest : public ::testing::TestWithParam<int> {};

TEST_P(QuotaBadgeSizeTest, IsARedDiscWithWhiteDigitsAndTransparentCorners)
{
    const int d = GetParam();
    const QImage image = badge(1, d);

    ASSERT_EQ(image.size(), QSize(d, d));
    for (const QPoint corner : {QPoint(0, 0), QPoint(d - 1, 0), QPoint(0, d - 1), QPoint(d - 1, d - 1)})
        EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();

    // Beside and above the digit, inside the disc, is solid red.
    const int middle = d / 2;
    EXPECT_TRUE(isRed(image.pixel(2, middle)));
    EXPECT_TRUE(isRed(image.pixel(d - 3, middle)));
    EXPECT_TRUE(isRed(image.pixel(middle, 1)));

    // The centre of the disc is opaque red and white, nothing else.
    int red = 0;
    int white = 0;
    const QPointF centre(d / 2.0, d / 2.0);
    for (int y = 0; y < d; ++y) {
        for (int x = 0; x < d; ++x) {
            const QPointF offset = QPointF(x + 0.5, y + 0.5) - centre;
            if (QPointF::dotProduct(offset, offset) > (d / 3.0) * (d / 3.0))
                continue;
            const QRgb pixel = image.pixel(x, y);
            EXPECT_EQ(qAlpha(pixel), 255) << x << "," << y;
            EXPECT_GE(qRed(pixel), qRed(kRed) - 2) << x << "," << y;
            red += isRed(pixel);
            white += isWhite(pixel);
        }
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(white, 0);
}

INSTANTIATE_TEST_SUITE_P(Diameters, QuotaBadgeSizeTest, ::testing::Values(13, 14));

TEST(QuotaBadgeTest, FractionalDiameterRoundsUp)
{
    EXPECT_EQ(quotaBadgeImage(3, 13.2).size(), QSize(14, 14));
}

TEST(QuotaBadgeTest, NoDiameterGivesANullImage)
{
    EXPECT_TRUE(quotaBadgeImage(3, 0).isNull());
}

TEST(QuotaBadgeTest, CountsBelowOneDrawAOne)
{
    const QImage one = quotaBadgeImage(1, 14);
    EXPECT_TRUE(quotaBadgeImage(0, 14) == one);
    EXPECT_TRUE(quotaBadgeImage(-5, 14) == one);
    // The comparison can tell digits apart.
    EXPECT_FALSE(quotaBadgeImage(2, 14) == one);
}

TEST(QuotaBadgeTest, LargeCountsAreDrawnInFullAndCentred)
{
    // Large enough that an off-centre line would show past the image's own clipping.
    const int d = 40;
    const std::optional<QRect> one = whiteBounds(badge(1, d));
    const std::optional<QRect> many = whiteBounds(badge(1234, d));
    ASSERT_TRUE(one && many);
    EXPECT_GT(many->width(), one->width());
    EXPECT_NEAR(horizontalCentre(*many), (d - 1) / 2.0, 1.0);
}

TEST(QuotaBadgeTest, DigitsThatFitAreCentred)
{
    const int d = 40;
    const std::optional<QRect> digits = whiteBounds(badge(88, d));
    ASSERT_TRUE(digits);
    EXPECT_NEAR(horizontalCentre(*digits), (d - 1) / 2.0, 1.0);
}

// --- The brand mark ---

struct PngChunk {
    QByteArray type;
    QByteArray data;
};

QList<PngChunk> pngChunks(const QByteArray& png)
{
    QList<PngChunk> chunks;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        chunks.append({png.mid(at + 4, 4), png.mid(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

TEST(BrandMarkTest, DecodesAt120PixelsAnd300Dpi)
{
    const QImage mark = orbinMark();
    ASSERT_FALSE(mark.isNull());
    EXPECT_EQ(mark.size(), QSize(120, 120));
    EXPECT_TRUE(mark.hasAlphaChannel());
    EXPECT_EQ(mark.dotsPerMeterX(), 11811);
    EXPECT_EQ(mark.dotsPerMeterY(), 11811);

    const QImage argb = mark.convertToFormat(QImage::Format_ARGB32);
    // A rounded square: see-through corners, a mauve edge, a white key in the middle.
    EXPECT_EQ(qAlpha(argb.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(argb.pixel(119, 119)), 0);
    const QRgb edge = argb.pixel(8, 60);
    EXPECT_EQ(qAlpha(edge), 255);
    EXPECT_GT(qBlue(edge), qRed(edge));
    EXPECT_GT(qRed(edge), qGreen(edge));
    EXPECT_TRUE(isWhite(argb.pixel(30, 90)));
}

TEST(BrandMarkTest, EmbeddedFileIsAnSrgbRgbaPngWithPhysicalSize)
{
    const QByteArray png = orbinMarkPng();
    ASSERT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
    const QList<PngChunk> chunks = pngChunks(png);
    ASSERT_FALSE(chunks.isEmpty());

    const PngChunk& header = chunks.first();
    ASSERT_EQ(header.type, "IHDR");
    ASSERT_EQ(header.data.size(), 13);
    EXPECT_EQ(qFromBigEndian<quint32>(header.data.constData()), 120u);
    EXPECT_EQ(qFromBigEndian<quint32>(header.data.constData() + 4), 120u);
    EXPECT_EQ(header.data.at(8), 8);  // bits per channel
    EXPECT_EQ(header.data.at(9), 6);  // colour type: RGBA
    EXPECT_EQ(header.data.at(12), 0); // not interlaced

    std::optional<PngChunk> srgb;
    std::optional<PngChunk> phys;
    for (const PngChunk& chunk : chunks) {
        if (chunk.type == "sRGB")
            srgb = chunk;
        if (chunk.type == "pHYs")
            phys = chunk;
    }
    ASSERT_TRUE(srgb);
    EXPECT_EQ(srgb->data.size(), 1);
    ASSERT_TRUE(phys);
    ASSERT_EQ(phys->data.size(), 9);
    EXPECT_EQ(qFromBigEndian<quint32>(phys->data.constData()), 11811u);
    EXPECT_EQ(qFromBigEndian<quint32>(phys->data.constData() + 4), 11811u);
    EXPECT_EQ(phys->data.at(8), 1); // per metre
    EXPECT_EQ(chunks.last().type, "IEND");
}

// --- The brand colour ---

TEST(BrandColourTest, FixedMauveIsOneObjectWithTheBrandComponents)
{
    const QColor& first = orbinMauveFixed();
    const QColor& second = orbinMauveFixed();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first.spec(), QColor::Rgb);
    EXPECT_NEAR(first.redF(), 0.486, 1e-5);
    EXPECT_NEAR(first.greenF(), 0.227, 1e-5);
    EXPECT_NEAR(first.blueF(), 0.929, 1e-5);
    EXPECT_EQ(first.alphaF(), 1.0);
}

class BrandColourPaletteTest : public ::testing::Test {
protected:
    void TearDown() override { QApplication::setPalette(m_saved); }

    static void useWindowColour(const QColor& window)
    {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Window, window);
        QApplication::setPalette(palette);
    }

private:
    QPalette m_saved = QApplication::palette();
};

TEST_F(BrandColourPaletteTest, FollowsALightAndADarkPalette)
{
    useWindowColour(QColor(30, 30, 32));
    const QColor dark = orbinMauve();
    EXPECT_EQ(dark.spec(), QColor::Rgb);
    EXPECT_NEAR(dark.redF(), 0.686, 1e-5);
    EXPECT_NEAR(dark.greenF(), 0.573, 1e-5);
    EXPECT_NEAR(dark.blueF(), 0.992, 1e-5);
    EXPECT_EQ(dark.alphaF(), 1.0);

    useWindowColour(QColor(246, 245, 244));
    EXPECT_EQ(orbinMauve(), orbinMauveFixed());

    useWindowColour(QColor(30, 30, 32));
    EXPECT_EQ(orbinMauve(), dark);
}

// --- Labels ---

TEST(MakeLabelTest, EmptyLabelHasTheRequestedLook)
{
    QWidget parent;
    const QColor colour(0x12, 0x34, 0x56);
    QLabel* label = makeLabel(QString(), 17, QFont::DemiBold, colour, &parent);

    EXPECT_EQ(label->parent(), &parent);
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_EQ(label->font().family(), QApplication::font().family());
    EXPECT_EQ(label->font().pixelSize(), 17);
    EXPECT_EQ(label->font().weight(), QFont::DemiBold);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), colour);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_EQ(label->frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_FALSE(label->autoFillBackground());
}

TEST(MakeLabelTest, MarkupIsShownLiterally)
{
    const std::unique_ptr<QLabel> markup(makeLabel("<b>x</b>", 20, QFont::Normal, Qt::black));
    const std::unique_ptr<QLabel> plain(makeLabel("x", 20, QFont::Normal, Qt::black));
    EXPECT_EQ(markup->text(), "<b>x</b>");
    // Eight characters drawn, not one bold x.
    EXPECT_GT(markup->sizeHint().width(), 4 * plain->sizeHint().width());
}

TEST(MakeLabelTest, DrawsInItsColourOverWhateverIsBeneath)
{
    QWidget parent;
    parent.resize(120, 60);
    QPalette background = parent.palette();
    background.setColor(QPalette::Window, QColor(0, 200, 0));
    parent.setPalette(background);
    parent.setAutoFillBackground(true);
    QLabel* label = makeLabel("H", 40, QFont::Bold, QColor(0, 0, 255), &parent);
    label->setGeometry(parent.rect());

    const QImage shot = parent.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(shot.pixel(1, 1), qRgb(0, 200, 0));
    bool inColour = false;
    for (int y = 0; y < shot.height() && !inColour; ++y) {
        for (int x = 0; x < shot.width() && !inColour; ++x)
            inColour = shot.pixel(x, y) == qRgb(0, 0, 255);
    }
    EXPECT_TRUE(inColour);
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

TEST(BadgeImageViewTest, ShowsTheImageItIsGiven)
{
    BadgeImageView view;
    view.setImage(quotaBadgeImage(7, 16));
    EXPECT_EQ(view.pixmap().size(), QSize(16, 16));
    EXPECT_EQ(view.sizeHint(), QSize(16, 16));
}

} // namespace
