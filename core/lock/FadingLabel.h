#pragma once

#include <QLabel>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace ow {

// A plain-text label whose opacity can be faded in and out.
class FadingLabel : public QLabel {
    Q_OBJECT
public:
    explicit FadingLabel(const QString& text, QWidget* parent = nullptr);

    // The opacity the label shows, or is fading to.
    double alpha() const { return m_alpha; }
    void setAlpha(double alpha);
    void fadeTo(double alpha);

private:
    QGraphicsOpacityEffect* m_effect;
    QPropertyAnimation* m_animation;
    double m_alpha = 1.0;
};

} // namespace ow
