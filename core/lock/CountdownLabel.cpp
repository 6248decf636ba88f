#include "CountdownLabel.h"

#include "VisualKit.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QTextLine>

#include <algorithm>
#include <cmath>

namespace ow {

namespace {

// One line that never wraps.
std::unique_ptr<QTextLayout> layOut(const QString& text, const QFont& font, const QPaintDevice* device)
{
    auto layout = std::make_unique<QTextLayout>(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->beginLayout();
    layout->createLine();
    layout->endLayout();
    return layout;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The glyphs of "0" to "9" in font, if each digit is one glyph and all are as wide.
QList<quint32> tabularDigits(const QRawFont& font)
{
    const QList<quint32> glyphs = font.glyphIndexesForString(QStringLiteral("0123456789"));
    if (glyphs.size() != 10 || glyphs.contains(0))
        return {};
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
    const bool even = std::all_of(advances.begin(), advances.end(),
                                  [&](const QPointF& advance) { return advance == advances.first(); });
    return even ? glyphs : QList<quint32>();
}

} // namespace

CountdownLabel::CountdownLabel(qreal size, QFont::Weight weight, const QColor& color, QWidget* parent)
    : QWidget(parent)
{
    setFont(labelFont(size, weight));
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, color);
    setPalette(colours);
    // Opaque, so that a change does not repaint the window beneath it too.
    setAutoFillBackground(true);
}

CountdownLabel::Line CountdownLabel::shape(const QString& text) const
{
    const std::unique_ptr<QTextLayout> layout = layOut(text, font(), this);
    const QTextLine textLine = layout->lineAt(0);
    Line line{.text = text,
              .runs = layout->glyphRuns(),
              .digitGlyphs = {},
              .digits = QList<DigitSlot>(text.size()),
              .size = QSizeF(textLine.naturalTextWidth(), textLine.height())};
    for (const QGlyphRun& run : std::as_const(line.runs))
        line.digitGlyphs.append(tabularDigits(run.rawFont()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            continue;
        // The digit's own glyph, found again among the line's by font and place.
        const QList<QGlyphRun> own = layout->glyphRuns(int(i), 1);
        if (own.size() != 1 || own[0].glyphIndexes().size() != 1)
            continue;
        for (qsizetype r = 0; r < line.runs.size() && line.digits[i].run < 0; ++r) {
            if (line.runs[r].rawFont() != own[0].rawFont() || line.digitGlyphs[r].isEmpty())
                continue;
            const qsizetype g = line.runs[r].positions().indexOf(own[0].positions()[0]);
            if (g >= 0 && line.runs[r].glyphIndexes()[g] == own[0].glyphIndexes()[0])
                line.digits[i] = {r, g};
        }
    }
    return line;
}

std::optional<std::pair<CountdownLabel::Line, QRectF>> CountdownLabel::swapDigits(const QString& text) const
{
    if (text.size() != m_line.text.size())
        return std::nullopt;
    Line next = m_line;
    next.text = text;
    QRectF swapped;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == m_line.text[i])
            continue;
        const DigitSlot slot = m_line.digits[i];
        if (!isDigit(text[i]) || slot.run < 0)
            return std::nullopt;
        QGlyphRun& run = next.runs[slot.run];
        QList<quint32> glyphs = run.glyphIndexes();
        const quint32 before = glyphs[slot.glyph];
        glyphs[slot.glyph] = next.digitGlyphs[slot.run][text[i].unicode() - '0'];
        run.setGlyphIndexes(glyphs);
        // Both glyphs' ink, and a pixel around it for antialiasing.
        const QRawFont font = run.rawFont();
        const QRectF ink = font.boundingRect(before) | font.boundingRect(glyphs[slot.glyph]);
        swapped |= ink.translated(run.positions()[slot.glyph]).adjusted(-1, -1, 1, 1);
    }
    return std::pair(std::move(next), swapped);
}

void CountdownLabel::setText(const QString& text)
{
    if (text == m_line.text)
        return;
    QRect changed = rect();
    if (auto swapped = swapDigits(text)) {
        m_line = std::move(swapped->first);
        changed &= swapped->second.translated(m_origin).toAlignedRect();
    } else {
        m_line = shape(text);
        m_origin = originOf(m_line);
    }
    setAccessibleName(text);
    // At once rather than from the event queue: one wake-up per change.
    repaint(changed);
}

void CountdownLabel::fitTo(const QString& widest)
{
    const QFontMetricsF metrics(font(), this);
    qreal widestDigit = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widestDigit = std::max(widestDigit, metrics.horizontalAdvance(QLatin1Char(digit)));
    qreal wider = 0;
    for (const QChar c : widest) {
        if (c.isDigit())
            wider += widestDigit - metrics.horizontalAdvance(c);
    }
    const QSizeF size = shape(widest).size;
    setFixedSize(int(std::ceil(size.width() + wider)), int(std::ceil(size.height())));
}

QPointF CountdownLabel::originOf(const Line& line) const
{
    return {(width() - line.size.width()) / 2, (height() - line.size.height()) / 2};
}

void CountdownLabel::resizeEvent(QResizeEvent*)
{
    m_origin = originOf(m_line);
}

void CountdownLabel::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    // Only the glyphs near the area to paint: the rest of the line is clipped away anyway.
    const qreal reach = m_line.size.height();
    const qreal left = event->rect().left() - m_origin.x() - reach;
    const qreal right = event->rect().right() + 1 - m_origin.x() + reach;
    for (const QGlyphRun& run : std::as_const(m_line.runs)) {
        const QList<QPointF> positions = run.positions();
        const QList<quint32> glyphs = run.glyphIndexes();
        QList<QPointF> shownPositions;
        QList<quint32> shownGlyphs;
        for (qsizetype g = 0; g < glyphs.size(); ++g) {
            if (positions[g].x() >= left && positions[g].x() <= right) {
                shownPositions.append(positions[g]);
                shownGlyphs.append(glyphs[g]);
            }
        }
        QGlyphRun shown = run;
        shown.setGlyphIndexes(shownGlyphs);
        shown.setPositions(shownPositions);
        painter.drawGlyphRun(m_origin, shown);
    }
}

} // namespace ow
