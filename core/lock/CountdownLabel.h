#pragma once

#include <QTextLayout>
#include <QWidget>

#include <memory>

namespace ow {

// A centred line of plain text that changes once a second, like a countdown, on the
// palette's window colour. Its size is fixed once for the widest text it will show, so a
// change lays nothing out, and a change repaints, at once, only the characters that
// differ, unless the rest of the line moved with them. The line is shaped once per text,
// for finding what changed and for painting it.
class CountdownLabel : public QWidget {
    Q_OBJECT
public:
    CountdownLabel(qreal size, QFont::Weight weight, const QColor& color, QWidget* parent = nullptr);

    QString text() const { return m_layout->text(); }
    void setText(const QString& text);
    // Fixes the size to hold this text, each of its digits as wide as the font's widest.
    void fitTo(const QString& widest);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointF originOf(const QTextLayout& layout) const;

    std::unique_ptr<QTextLayout> m_layout;
    QPointF m_origin;
};

} // namespace ow
