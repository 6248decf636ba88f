#include "HomeView.h"

#include "BadgeImageView.h"
#include "Localizer.h"
#include "MessageBanner.h"
#include "ReleaseShortcut.h"
#include "SymbolIcons.h"
#include "VisualKit.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>

namespace ow {

namespace {

constexpr int kCornerMargin = 14;
constexpr int kIconButton = 30;
constexpr int kBadge = 14;
constexpr int kEnvelope = 15;

QToolButton* iconButton(const QIcon& icon, int pointSize, const QString& description, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(icon);
    button->setIconSize(QSize(pointSize, pointSize));
    button->setFixedSize(kIconButton, kIconButton);
    button->setToolTip(description);
    button->setAccessibleName(description);
    return button;
}

// Recolours the whole symbol, so that a themed icon takes the tint as the drawn one does.
QIcon tinted(const QIcon& icon, int size, const QColor& color)
{
    QPixmap pixmap = icon.pixmap(QSize(size, size));
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    return QIcon(pixmap);
}

} // namespace

HomeView::HomeView(int holdSeconds, QWidget* parent)
    : QWidget(parent)
{
    auto* icon = new QLabel(this);
    icon->setFixedSize(92, 92);
    icon->setPixmap(orbinMarkPixmap(92));

    auto* title = makeLabel(L("app.name"), 24, QFont::Bold, textColor(this, 1.0), this);
    auto* subtitle = makeLabel(L("home.subtitle"), 13, QFont::Normal, textColor(this, 0.55), this);

    m_lockButton = new QPushButton(L("lock.button"), this);
    m_lockButton->setDefault(true);
    m_lockButton->setMinimumHeight(32);
    m_lockButton->setStyleSheet(mauveButtonStyle(8, 6, 22));
    connect(m_lockButton, &QPushButton::clicked, this, &HomeView::lockPressed);
    // Return presses the lock button, as in a dialog, once the key is up again.
    m_returnShortcut = new ReleaseShortcut(this);
    connect(m_returnShortcut, &ReleaseShortcut::activated, m_lockButton, &QPushButton::click);

    m_hintLabel = makeLabel(QString(), 11, QFont::Normal, textColor(this, 0.35), this);
    setHoldSeconds(holdSeconds);

    // The column sits 4 px above the middle.
    centredColumn(this, {{icon, 14}, {title, 10}, {subtitle, 24}, {m_lockButton, 16}, {m_hintLabel, 0}}, 4);

    const QColor secondary = textColor(this, 0.55);
    m_settingsButton = iconButton(gearIcon(16, secondary), 16, L("settings.title"), this);
    connect(m_settingsButton, &QToolButton::clicked, this, &HomeView::showSettings);
    m_messagesButton = iconButton(QIcon(), kEnvelope, L("accessibility.messages"), this);
    connect(m_messagesButton, &QToolButton::clicked, this, &HomeView::showMessages);
    m_messagesBadge = new BadgeImageView(this);
    m_messagesBadge->setFixedSize(kBadge, kBadge);
    m_messagesBadge->setScaledContents(true);
    // Both shown only while there is a support conversation.
    setMessagesState(false, false);
}

void HomeView::setMessagesState(bool open, bool unread)
{
    const QColor tint = unread ? palette().color(QPalette::Highlight) : textColor(this, 0.55);
    m_messagesButton->setIcon(tinted(envelopeIcon(kEnvelope, tint), kEnvelope, tint));
    m_messagesButton->setVisible(open);
    m_messagesBadge->setImage(unread ? quotaBadgeImage(1, kBadge) : QImage());
    m_messagesBadge->setVisible(unread);
}

void HomeView::showMessageBanner(const QString& body)
{
    dismissMessageBanner();
    m_banner = new MessageBanner(body, this);
    connect(m_banner, &MessageBanner::okPressed, this, &HomeView::dismissMessageBanner);
    m_banner->layOut(width());
    m_banner->show();
    m_banner->raise();
    // Return belongs to the banner's OK while it shows.
    m_returnShortcut->setEnabled(false);
}

MessageBanner* HomeView::messageBanner() const
{
    return m_banner;
}

void HomeView::dismissMessageBanner()
{
    if (!m_banner)
        return;
    // Later, since OK's own click may be what got us here.
    m_banner->hide();
    m_banner->deleteLater();
    m_banner = nullptr;
    m_returnShortcut->setEnabled(true);
}

void HomeView::setHoldSeconds(int seconds)
{
    m_hintLabel->setText(L("home.unlock_hint", seconds));
}

void HomeView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const QRect settings(width() - kCornerMargin - kIconButton, height() - kCornerMargin - kIconButton,
                         kIconButton, kIconButton);
    m_settingsButton->setGeometry(settings);
    const QRect messages(settings.left() - 4 - kIconButton, settings.top(), kIconButton, kIconButton);
    m_messagesButton->setGeometry(messages);
    // The badge sits on the messages button's top-right corner, above it.
    m_messagesBadge->setGeometry(messages.right() + 1 - 7 - kBadge / 2, messages.top() + 7 - kBadge / 2,
                                 kBadge, kBadge);
    m_messagesBadge->raise();
    if (m_banner)
        m_banner->layOut(width());
}

} // namespace ow
