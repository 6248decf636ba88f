#include "FadingLabel.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

namespace ow {

namespace {
constexpr int kFadeMs = 250;
}

FadingLabel::FadingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
    , m_effect(new QGraphicsOpacityEffect(this))
    , m_animation(new QPropertyAnimation(m_effect, "opacity", this))
{
    setTextFormat(Qt::PlainText);
    setGraphicsEffect(m_effect);
    m_animation->setDuration(kFadeMs);
}

void FadingLabel::setAlpha(double alpha)
{
    m_animation->stop();
    m_alpha = alpha;
    m_effect->setOpacity(alpha);
}

void FadingLabel::fadeTo(double alpha)
{
    m_animation->stop();
    m_alpha = alpha;
    m_animation->setStartValue(m_effect->opacity());
    m_animation->setEndValue(alpha);
    m_animation->start();
}

} // namespace ow
