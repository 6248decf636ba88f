#include "MessageBanner.h"

#include "Localizer.h"
#include "VisualKit.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>

#include <algorithm>

namespace ow {

namespace {

constexpr int kPadding = 12;
constexpr int kTitleTop = 9;
constexpr int kTitleToBody = 3;
constexpr int kBottomPadding = 10;
constexpr int kBodyToButton = 10;
// The body never runs wider than the host less this, whatever the button leaves free.
constexpr int kBodyWidthReserve = 74;
constexpr qreal kCornerRadius = 10;
constexpr int kSmallButtonMinWidth = 44;
constexpr int kSmallButtonPadding = 12;
constexpr float kFillAlpha = 0.13f;
constexpr float kBorderAlpha = 0.42f;

QColor mauveAt(float alpha)
{
    QColor color = orbinMauve();
    color.setAlphaF(alpha);
    return color;
}

} // namespace

MessageBanner::MessageBanner(const QString& body, QWidget* parent)
    : QWidget(parent)
    , m_text(body)
{
    m_title = makeLabel(L("messages.banner_title"), 12, QFont::DemiBold, orbinMauve(), this);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_bodyArea = new QScrollArea(this);
    m_bodyArea->setFrameShape(QFrame::NoFrame);
    m_bodyArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_bodyArea->setFocusPolicy(Qt::NoFocus);
    // The banner's tint shows through it.
    m_bodyArea->viewport()->setAutoFillBackground(false);
    // The body is what the server sent: makeLabel keeps it plain text.
    m_body = makeLabel(body, 13, QFont::Normal, palette().color(QPalette::WindowText), this);
    m_body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_body->setWordWrap(true);
    m_bodyArea->setWidget(m_body);
    m_body->setAutoFillBackground(false); // the scroll area turned it on

    m_ok = new QPushButton(L("common.ok"), this);
    QFont small = m_ok->font();
    small.setPixelSize(11);
    m_ok->setFont(small);
    m_ok->setAutoDefault(false);
    // A small button: the style's minimum width for text buttons would crowd the message.
    const int textWidth = m_ok->fontMetrics().horizontalAdvance(m_ok->text());
    m_ok->setFixedSize(qMax(kSmallButtonMinWidth, textWidth + 2 * kSmallButtonPadding), m_ok->sizeHint().height());
    connect(m_ok, &QPushButton::clicked, this, &MessageBanner::okPressed);
    // The home view gives Return to the banner while it is up.
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, m_ok, &QPushButton::click);
    }
}

void MessageBanner::layOut(int hostWidth)
{
    const int width = hostWidth - 2 * kSideInset;
    const QSize button = m_ok->size();
    const int buttonLeft = width - kPadding - button.width();
    const int textWidth = qMin(hostWidth - kBodyWidthReserve, buttonLeft - kBodyToButton - kPadding);

    const int titleHeight = m_title->sizeHint().height();
    m_title->setGeometry(kPadding, kTitleTop, textWidth, titleHeight);
    const int bodyTop = kTitleTop + titleHeight + kTitleToBody;
    const int chrome = bodyTop + kBottomPadding;

    int bodyWidth = textWidth;
    m_body->setText(elideUnbreakableRuns(m_text, m_body->fontMetrics(), bodyWidth));
    int bodyHeight = m_body->heightForWidth(bodyWidth);
    if (chrome + bodyHeight > kMaximumHeight) {
        // The scroll bar takes its width from the text.
        bodyWidth -= m_bodyArea->verticalScrollBar()->sizeHint().width();
        m_body->setText(elideUnbreakableRuns(m_text, m_body->fontMetrics(), bodyWidth));
        bodyHeight = m_body->heightForWidth(bodyWidth);
    }
    // A long message grows the banner downwards, up to the maximum; a short one gets the
    // minimum.
    const int height = std::clamp(chrome + bodyHeight, kMinimumHeight, kMaximumHeight);
    setGeometry(kSideInset, kTopInset, width, height);
    m_bodyArea->setGeometry(kPadding, bodyTop, textWidth, height - chrome);
    m_body->resize(bodyWidth, std::max(bodyHeight, height - chrome));
    m_ok->setGeometry(buttonLeft, (height - button.height()) / 2, button.width(), button.height());
}

void MessageBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(mauveAt(kBorderAlpha), 1));
    painter.setBrush(mauveAt(kFillAlpha));
    // Half a pixel in, so the 1 px border lies on whole pixels.
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
}

} // namespace ow
