#pragma once

#include "WindowBlitter.h"

#include <QGlyphRun>
#include <QWidget>

#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace ow {

// A centred line of plain text that changes once a second, like a countdown, on the
// palette's window colour. Its size is fixed once for the widest text it will show, so a
// change lays nothing out, and a change repaints, at once, only what differs.
//
// A tick is cheap: where the new text differs from the old only in digits, and the font's
// digits are all as wide (as the figures of interface fonts are), the new line is the
// old line's glyphs with the digits' glyphs swapped, not shaped again; only the swapped
// glyphs are repainted. Any other change shapes the line anew and repaints all of it.
//
// Given a blitter, it goes further: once painted, it draws each digit's place with each of
// the ten digits once and hands these tiles to the display server; from then on a swap
// only asks the server to copy each place's tile onto the window, and texts can be put
// ahead of time, by the blitter's own timer, while the caller sleeps.
class CountdownLabel : public QWidget {
    Q_OBJECT
public:
    CountdownLabel(qreal size, QFont::Weight weight, const QColor& color, QWidget* parent = nullptr);

    QString text() const { return m_line.text; }
    void setText(const QString& text);
    // Fixes the size to hold this text, each of its digits as wide as the font's widest.
    void fitTo(const QString& widest);
    // Puts swapped digits onto the window through blitter once the label is painted,
    // where the window takes tiles; null repaints every change.
    void putDigitsThrough(WindowBlitter* blitter);
    // Whether the digits go onto the window as tiles, which showAfter() needs.
    bool putsTiles() const;
    // Has text put onto the window after delay, past this thread, as setText would show
    // it; false where there are no tiles, text differs from the current one in more than
    // digits, or the blitter cannot put later. text() stays the current text until setText.
    bool showAfter(const QString& text, std::chrono::nanoseconds delay);
    // Draws the tiles for text's digits now, where they are missing: text will be shown
    // later, in a line shaped otherwise than the current one.
    void prepareTiles(const QString& text);

signals:
    // The tiles were made or dropped; what was put ahead went with them.
    void tilesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where a digit of the text is drawn: a glyph of one of the line's runs.
    struct DigitSlot {
        qsizetype run = -1;
        qsizetype glyph = -1;
    };
    // A shaped line: its glyphs, positioned from the line's top left, and for each
    // character that is a digit, its glyph, when it can be swapped for another digit's.
    struct Line {
        QString text;
        QList<QGlyphRun> runs;
        // The ten digits' glyphs in each run's font; empty where they differ in width.
        QList<QList<quint32>> digitGlyphs;
        QList<DigitSlot> digits; // one per character
        QSizeF size;
    };

    Line shape(const QString& text) const;
    // The line for text made from the current one by swapping digits; none when text
    // differs in anything else.
    std::optional<Line> swapDigits(const QString& text) const;
    // What the glyphs swapped since before cover, theirs and the current ones.
    QRect swappedArea(const Line& before) const;
    QPointF originOf(const Line& line) const;
    // line with the digits at indexes, in order, swapped for those of number.
    static Line withDigits(Line line, const QList<qsizetype>& indexes, int number);
    void paintLine(QPainter& painter, const Line& line, QPointF origin, const QRect& area) const;

    // The tiles of a place of one or two digits, one for each number they can show, and
    // where they go in the window.
    struct DigitTiles {
        QList<qsizetype> indexes;
        QPoint at;
        std::unique_ptr<WindowBlitter::Tiles> tiles;
    };
    using TileSet = std::vector<DigitTiles>;
    // Lines whose texts differ in digits alone are laid out alike and share their tiles.
    static QString tileKey(const QString& text);
    const TileSet* tilesFor(const QString& text) const;
    void makeTiles(const Line& line);
    // The tile each place shows for text, made from the current line by swapping digits;
    // false when a put for later could not be made.
    bool putTiles(const QString& text, std::optional<std::chrono::nanoseconds> delay) const;
    void dropTiles();

    Line m_line;
    QPointF m_origin;
    WindowBlitter* m_blitter = nullptr;
    // By tileKey: none until tiles were tried for such a line; empty when they cannot be used.
    std::map<QString, TileSet> m_tileSets;
    bool m_tilesQueued = false;
};

} // namespace ow
