#include "VisualKit.h"

#include "BrandMark.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>
#include <QtMath>

namespace ow {

namespace {

// Below this HSL lightness the window background counts as dark.
constexpr int kDarkLightness = 128;
constexpr qreal kBadgeDigitScale = 0.68;
constexpr QRgb kBadgeRed = 0xFFE01B24;

bool darkAppearance()
{
    // Only a GUI application has a palette worth reading; without one, assume light.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    return QGuiApplication::palette().color(QPalette::Window).lightness() < kDarkLightness;
}

} // namespace

QLabel* makeLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
                  QWidget* parent)
{
    auto* label = new QLabel(parent);
    styleLabel(label, size, weight, color);
    label->setText(text);
    return label;
}

QFont labelFont(qreal size, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(qRound(size));
    font.setWeight(weight);
    return font;
}

void styleLabel(QLabel* label, qreal size, QFont::Weight weight, const QColor& color)
{
    // The text may come from a server or a user: never interpret it as markup.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFrameShape(QFrame::NoFrame);
    label->setAutoFillBackground(false);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(labelFont(size, weight));

    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

void wrapBeyond(QLabel* label, int width)
{
    if (label->sizeHint().width() <= width)
        return;
    label->setWordWrap(true);
    // Fixed, as a column's layout would give the label the height of its single line.
    label->setFixedSize(width, label->heightForWidth(width));
}

QString elideUnbreakableRuns(const QString& text, const QFontMetrics& metrics, int width)
{
    QString fitted;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    qsizetype start = 0;
    while (breaks.toNextBoundary() >= 0) {
        const qsizetype end = breaks.position();
        const QString run = text.mid(start, end - start);
        const QString visible = run.trimmed();
        if (metrics.horizontalAdvance(visible) > width) {
            const qsizetype lead = run.indexOf(visible);
            fitted += run.left(lead) + metrics.elidedText(visible, Qt::ElideRight, width)
                + run.mid(lead + visible.size());
        } else {
            fitted += run;
        }
        start = end;
    }
    return fitted;
}

void centredColumn(QWidget* host, std::initializer_list<std::pair<QWidget*, int>> items, int raise)
{
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    for (const auto& [widget, spacingAfter] : items) {
        column->addWidget(widget, 0, Qt::AlignHCenter);
        if (spacingAfter)
            column->addSpacing(spacingAfter);
    }
    auto* centre = new QVBoxLayout(host);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->addStretch();
    centre->addLayout(column);
    centre->addStretch();
    if (raise)
        centre->addSpacing(2 * raise);
}

QColor textColor(const QWidget* widget, qreal alpha)
{
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(float(alpha));
    return color;
}

QColor orbinMauve()
{
    if (darkAppearance())
        return QColor::fromRgbF(0.686f, 0.573f, 0.992f, 1.0f);
    return orbinMauveFixed();
}

const QColor& orbinMauveFixed()
{
    static const QColor mauve = QColor::fromRgbF(0.486f, 0.227f, 0.929f, 1.0f);
    return mauve;
}

QString mauveButtonStyle(int cornerRadius, int verticalPadding, int horizontalPadding)
{
    const QColor& mauve = orbinMauveFixed();
    return QStringLiteral("QPushButton { background: %1; color: white; border-radius: %3px; padding: %4px %5px; "
                          "font-weight: 600; }"
                          "QPushButton:pressed { background: %2; }")
        .arg(mauve.name(), mauve.darker(120).name())
        .arg(cornerRadius)
        .arg(verticalPadding)
        .arg(horizontalPadding);
}

QPixmap orbinMarkPixmap(int size)
{
    const QImage mark = orbinMark();
    if (mark.isNull())
        return {};
    return QPixmap::fromImage(mark.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QImage quotaBadgeImage(int count, qreal diameter)
{
    const int side = qCeil(diameter);
    if (side < 1)
        return {};

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(kBadgeRed));
    painter.drawEllipse(QRectF(0, 0, side, side));

    QFont font = QGuiApplication::font();
    font.setPixelSize(qMax(1, qRound(side * kBadgeDigitScale)));
    font.setWeight(QFont::Bold);
    const QString digits = QString::number(qMax(count, 1));
    const QFontMetricsF metrics(font);
    // Centre the line box, not the ink, so every count sits on the same baseline.
    const QPointF origin((side - metrics.horizontalAdvance(digits)) / 2,
                         (side - metrics.height()) / 2 + metrics.ascent());
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(origin, digits);
    return image;
}

} // namespace ow
