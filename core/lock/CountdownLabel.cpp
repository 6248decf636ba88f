#include "CountdownLabel.h"

#include "VisualKit.h"

#include <QPainter>
#include <QTextLine>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ow {

namespace {

// One line that never wraps; its shaped glyphs are kept for painting.
std::unique_ptr<QTextLayout> layOut(const QString& text, const QFont& font, const QPaintDevice* device)
{
    auto layout = std::make_unique<QTextLayout>(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    layout->createLine();
    layout->endLayout();
    return layout;
}

// Where the two texts differ, as a span of the line: from the first character that differs
// to the last, wherever either line puts them. What follows stays put only if the change
// kept its width; otherwise the span runs to the end of the line.
std::pair<qreal, qreal> changedSpan(const QTextLayout& before, const QTextLayout& after)
{
    const QString a = before.text();
    const QString b = after.text();
    qsizetype first = 0;
    while (first < a.size() && first < b.size() && a[first] == b[first])
        ++first;
    qsizetype endA = a.size();
    qsizetype endB = b.size();
    while (endA > first && endB > first && a[endA - 1] == b[endB - 1]) {
        --endA;
        --endB;
    }
    const QTextLine lineA = before.lineAt(0);
    const QTextLine lineB = after.lineAt(0);
    const qreal left = std::min(lineA.cursorToX(int(first)), lineB.cursorToX(int(first)));
    const qreal endXA = lineA.cursorToX(int(endA));
    const qreal endXB = lineB.cursorToX(int(endB));
    if (endXA != endXB)
        return {left, std::max(lineA.naturalTextWidth(), lineB.naturalTextWidth())};
    return {left, endXA};
}

} // namespace

CountdownLabel::CountdownLabel(qreal size, QFont::Weight weight, const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_layout(layOut(QString(), labelFont(size, weight), this))
{
    setFont(labelFont(size, weight));
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, color);
    setPalette(colours);
    // Opaque, so that a change does not repaint the window beneath it too.
    setAutoFillBackground(true);
}

QPointF CountdownLabel::originOf(const QTextLayout& layout) const
{
    const QTextLine line = layout.lineAt(0);
    return {(width() - line.naturalTextWidth()) / 2, (height() - line.height()) / 2};
}

void CountdownLabel::setText(const QString& text)
{
    if (text == m_layout->text())
        return;
    std::unique_ptr<QTextLayout> next = layOut(text, font(), this);
    const QPointF origin = originOf(*next);
    QRect changed = rect();
    if (origin == m_origin) {
        // Glyphs may reach past their advances by a little: a line's height covers it.
        const auto [left, right] = changedSpan(*m_layout, *next);
        const qreal room = next->lineAt(0).height();
        changed &= QRectF(origin.x() + left - room, 0, right - left + 2 * room, height()).toAlignedRect();
    }
    m_layout = std::move(next);
    m_origin = origin;
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
    const std::unique_ptr<QTextLayout> layout = layOut(widest, font(), this);
    const QTextLine line = layout->lineAt(0);
    setFixedSize(int(std::ceil(line.naturalTextWidth() + wider)), int(std::ceil(line.height())));
}

void CountdownLabel::resizeEvent(QResizeEvent*)
{
    m_origin = originOf(*m_layout);
}

void CountdownLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    m_layout->draw(&painter, m_origin);
}

} // namespace ow
