#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <initializer_list>
#include <utility>

class QFontMetrics;
class QLabel;
class QWidget;

namespace ow {

// A static, centred, plain-text label in the application's font family. Sizes are in
// device-independent pixels, as the designs were drawn.
QLabel* makeLabel(const QString& text, qreal size, QFont::Weight weight, const QColor& color,
                  QWidget* parent = nullptr);

// The font of such a label.
QFont labelFont(qreal size, QFont::Weight weight);

// Gives an existing label (or a subclass of one) the same look as makeLabel.
void styleLabel(QLabel* label, qreal size, QFont::Weight weight, const QColor& color);

// A label wider than width breaks into lines of that width, so that a long translation stays
// in its place; one that fits keeps its single line.
void wrapBeyond(QLabel* label, int width);

// Word wrap cannot break a run of text without a break opportunity (a long address, a row
// of one letter); each such run wider than width ends in an ellipsis instead.
QString elideUnbreakableRuns(const QString& text, const QFontMetrics& metrics, int width);

// The widget's text colour at the given opacity, for secondary and faint texts and lines.
QColor textColor(const QWidget* widget, qreal alpha);

// The brand colour for the current light or dark appearance, read afresh at each call.
QColor orbinMauve();

// The brand colour as drawn for light surfaces, whatever the appearance.
const QColor& orbinMauveFixed();

// The style sheet of a push button filled with the fixed brand colour, white text, a darker
// fill while pressed. Sizes are pixels.
QString mauveButtonStyle(int cornerRadius, int verticalPadding, int horizontalPadding);

// The brand mark scaled to fit size × size; null if the mark cannot be read.
QPixmap orbinMarkPixmap(int size);

// Lays items out as one column centred in host, each followed by its spacing in pixels.
// raise lifts the column that many pixels above the middle.
void centredColumn(QWidget* host, std::initializer_list<std::pair<QWidget*, int>> items, int raise = 0);

// A red disc of the given diameter with a white count in it; counts below one show 1.
QImage quotaBadgeImage(int count, qreal diameter);

} // namespace ow
