#include "CountdownLabel.h"

#include "VisualKit.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QTextLine>
#include <QWindow>

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

std::optional<CountdownLabel::Line> CountdownLabel::swapDigits(const QString& text) const
{
    if (text.size() != m_line.text.size())
        return std::nullopt;
    Line next = m_line;
    next.text = text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == m_line.text[i])
            continue;
        const DigitSlot slot = m_line.digits[i];
        if (!isDigit(text[i]) || slot.run < 0)
            return std::nullopt;
        QGlyphRun& run = next.runs[slot.run];
        QList<quint32> glyphs = run.glyphIndexes();
        glyphs[slot.glyph] = next.digitGlyphs[slot.run][text[i].unicode() - '0'];
        run.setGlyphIndexes(glyphs);
    }
    return next;
}

QRect CountdownLabel::swappedArea(const Line& before) const
{
    QRectF swapped;
    for (qsizetype i = 0; i < before.text.size(); ++i) {
        if (before.text[i] == m_line.text[i])
            continue;
        const DigitSlot slot = m_line.digits[i];
        const QGlyphRun& run = m_line.runs[slot.run];
        // Both glyphs' ink, and a pixel around it for antialiasing.
        const QRawFont font = run.rawFont();
        const QRectF ink = font.boundingRect(before.runs[slot.run].glyphIndexes()[slot.glyph])
            | font.boundingRect(run.glyphIndexes()[slot.glyph]);
        swapped |= ink.translated(run.positions()[slot.glyph]).adjusted(-1, -1, 1, 1);
    }
    return swapped.translated(m_origin).toAlignedRect() & rect();
}

void CountdownLabel::setText(const QString& text)
{
    if (text == m_line.text)
        return;
    setAccessibleName(text);
    std::optional<Line> swapped = swapDigits(text);
    if (!swapped) {
        const bool hadTiles = putsTiles();
        m_line = shape(text);
        m_origin = originOf(m_line);
        // At once rather than from the event queue: one wake-up per change.
        repaint();
        if (hadTiles || putsTiles())
            emit tilesChanged();
        return;
    }
    const Line before = std::exchange(m_line, std::move(*swapped));
    if (putsTiles())
        putTiles(text, std::nullopt);
    else
        repaint(swappedArea(before));
}

bool CountdownLabel::putsTiles() const
{
    const TileSet* tiles = tilesFor(m_line.text);
    return tiles && !tiles->empty();
}

void CountdownLabel::prepareTiles(const QString& text)
{
    if (m_blitter && !tilesFor(text))
        makeTiles(shape(text));
}

QString CountdownLabel::tileKey(const QString& text)
{
    QString key = text;
    for (QChar& c : key) {
        if (isDigit(c))
            c = QLatin1Char('0');
    }
    return key;
}

const CountdownLabel::TileSet* CountdownLabel::tilesFor(const QString& text) const
{
    const auto found = m_tileSets.find(tileKey(text));
    return found == m_tileSets.end() ? nullptr : &found->second;
}

bool CountdownLabel::showAfter(const QString& text, std::chrono::nanoseconds delay)
{
    if (!putsTiles() || text.size() != m_line.text.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != m_line.text[i] && (!isDigit(text[i]) || m_line.digits[i].run < 0))
            return false;
    }
    return putTiles(text, delay);
}

void CountdownLabel::putDigitsThrough(WindowBlitter* blitter)
{
    m_blitter = blitter;
    dropTiles();
}

CountdownLabel::Line CountdownLabel::withDigits(Line line, const QList<qsizetype>& indexes, int number)
{
    for (auto index = indexes.rbegin(); index != indexes.rend(); ++index, number /= 10) {
        const DigitSlot slot = line.digits[*index];
        QGlyphRun& run = line.runs[slot.run];
        QList<quint32> glyphs = run.glyphIndexes();
        glyphs[slot.glyph] = line.digitGlyphs[slot.run][number % 10];
        run.setGlyphIndexes(glyphs);
    }
    return line;
}

void CountdownLabel::makeTiles(const Line& line)
{
    if (tilesFor(line.text) || !isVisible())
        return; // made already, or to be tried at the next paint
    TileSet& made = m_tileSets[tileKey(line.text)];
    if (!m_blitter || !qFuzzyCompare(devicePixelRatioF(), 1.0))
        return;
    const QPointF origin = originOf(line);
    // A digit's place is the ink of any digit there and a pixel around. Places that meet
    // are one place, with a tile for each number its digits make: a tile holding part of
    // a neighbour that changes apart from it would put back the neighbour's old digit.
    QList<std::pair<QList<qsizetype>, QRect>> places;
    for (qsizetype i = 0; i < line.text.size(); ++i) {
        const DigitSlot slot = line.digits[i];
        if (slot.run < 0)
            continue;
        const QGlyphRun& run = line.runs[slot.run];
        QRectF ink;
        for (const quint32 glyph : std::as_const(line.digitGlyphs[slot.run]))
            ink |= run.rawFont().boundingRect(glyph);
        QList<qsizetype> indexes{i};
        QRect place =
            ink.translated(run.positions()[slot.glyph] + origin).adjusted(-1, -1, 1, 1).toAlignedRect() & rect();
        for (auto other = places.begin(); other != places.end();) {
            if (other->second.intersects(place)) {
                indexes = other->first + indexes;
                place |= other->second;
                places.erase(other);
                other = places.begin(); // the larger place may now meet one passed over
            } else {
                ++other;
            }
        }
        // Two digits need a hundred tiles; three would need a thousand.
        if (indexes.size() > 2)
            return;
        std::sort(indexes.begin(), indexes.end());
        places.append({indexes, place});
    }
    const WId window = this->window()->winId();
    TileSet tiles;
    for (const auto& [indexes, place] : std::as_const(places)) {
        const int count = indexes.size() == 1 ? 10 : 100;
        QImage strip(place.width() * count, place.height(), QImage::Format_ARGB32_Premultiplied);
        strip.fill(palette().color(backgroundRole()));
        QPainter painter(&strip);
        for (int number = 0; number < count; ++number) {
            // Each tile clipped to its own place: a glyph's ink must not reach the next.
            painter.resetTransform();
            painter.setClipRect(QRect(QPoint(number * place.width(), 0), place.size()));
            painter.setTransform(QTransform::fromTranslate(number * place.width() - place.left(), -place.top()));
            paintLine(painter, withDigits(line, indexes, number), origin, place);
        }
        painter.end();
        std::unique_ptr<WindowBlitter::Tiles> uploaded = m_blitter->upload(window, strip, count);
        if (!uploaded)
            return;
        tiles.push_back({indexes, mapTo(this->window(), place.topLeft()), std::move(uploaded)});
    }
    made = std::move(tiles);
    // What the server shows is not in the window's buffer: when the window is exposed
    // and that buffer shown again, the line is repainted.
    this->window()->windowHandle()->installEventFilter(this);
    if (tileKey(line.text) == tileKey(m_line.text))
        emit tilesChanged();
}

bool CountdownLabel::putTiles(const QString& text, std::optional<std::chrono::nanoseconds> delay) const
{
    // Every place, changed or not: a put then also mends a place that a repaint of an
    // older line, after an expose, left behind. Every digit that can swap has a place:
    // the line was shaped with the same slots.
    bool put = true;
    for (const DigitTiles& place : *tilesFor(m_line.text)) {
        int number = 0;
        for (const qsizetype index : place.indexes)
            number = number * 10 + (text[index].unicode() - '0');
        if (delay)
            put = place.tiles->putAfter(number, place.at, *delay) && put;
        else
            place.tiles->put(number, place.at);
    }
    return put;
}

void CountdownLabel::dropTiles()
{
    const bool had = putsTiles();
    m_tileSets.clear();
    if (had)
        emit tilesChanged();
}

bool CountdownLabel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && putsTiles())
        update();
    return QWidget::eventFilter(watched, event);
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
    dropTiles();
}

void CountdownLabel::moveEvent(QMoveEvent*)
{
    dropTiles();
}

void CountdownLabel::hideEvent(QHideEvent*)
{
    dropTiles();
}

void CountdownLabel::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    paintLine(painter, m_line, m_origin, event->rect());
    // Drawn once the window shows, not in the middle of its first paint, and before the
    // first swap, which comes a second later.
    if (m_blitter && !tilesFor(m_line.text) && !m_tilesQueued) {
        m_tilesQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_tilesQueued = false;
                makeTiles(m_line);
            },
            Qt::QueuedConnection);
    }
}

void CountdownLabel::paintLine(QPainter& painter, const Line& line, QPointF origin, const QRect& area) const
{
    painter.setPen(palette().color(QPalette::WindowText));
    // Only the glyphs near the area to paint: the rest of the line is clipped away anyway.
    const qreal reach = line.size.height();
    const qreal left = area.left() - origin.x() - reach;
    const qreal right = area.right() + 1 - origin.x() + reach;
    for (const QGlyphRun& run : std::as_const(line.runs)) {
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
        painter.drawGlyphRun(origin, shown);
    }
}

} // namespace ow
