#include "MessagesWindow.h"

#include "Localizer.h"
#include "VisualKit.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>

namespace ow {

namespace {

constexpr int kInset = 22;
constexpr int kContentWidth = 416;
constexpr int kFirstEntryTop = 20;
constexpr int kHeaderToBody = 5;
constexpr int kBodyToSeparator = 16;
constexpr int kSeparatorToNext = 18;
constexpr int kDocumentBottomPadding = 10;
constexpr int kEmptyLabelTop = 60;
constexpr int kReplyTop = 428;
constexpr int kReplyHeight = 40;
constexpr int kSendBottomMargin = 14;
constexpr int kHintBottomMargin = 20;
constexpr int kHintToSend = 8;

QColor labelColor(const QWidget* widget) { return textColor(widget, 1.0); }
QColor secondaryColor(const QWidget* widget) { return textColor(widget, 0.55); }
QColor tertiaryColor(const QWidget* widget) { return textColor(widget, 0.35); }

void addSeparator(QWidget* parent, const QRect& geometry)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, textColor(parent, 0.12));
    line->setPalette(palette);
    line->setGeometry(geometry);
}

// Long date and short time in the user's own locale, in local time.
QString dateText(const QDateTime& date)
{
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), QLocale::LongFormat) + QLatin1Char(' ')
        + locale.toString(local.time(), QLocale::ShortFormat);
}

} // namespace

MessagesWindow::MessagesWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(L("messages.window_title"));
    setFixedSize(kSize);

    m_list = new QScrollArea(this);
    m_list->setGeometry(0, 0, kSize.width(), kListHeight);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The list lies on the window's own background.
    m_list->viewport()->setAutoFillBackground(false);
    addSeparator(this, QRect(0, kListHeight, kSize.width(), 1));

    m_reply = new QLineEdit(this);
    m_reply->setPlaceholderText(L("messages.reply_placeholder"));
    m_reply->setGeometry(kInset, kReplyTop, kContentWidth, kReplyHeight);

    m_send = new QPushButton(L("common.send"), this);
    m_send->setStyleSheet(mauveButtonStyle(6, 4, 16));
    const QSize send = m_send->sizeHint();
    m_send->setGeometry(kInset + kContentWidth - send.width(), kSize.height() - kSendBottomMargin - send.height(),
                        send.width(), send.height());
    connect(m_send, &QPushButton::clicked, this, &MessagesWindow::sendPressed);
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, m_send, &QPushButton::click);
    }

    auto* hintLabel = makeLabel(L("messages.hint"), 11, QFont::Normal, tertiaryColor(this), this);
    hintLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const QSize hint = hintLabel->sizeHint();
    hintLabel->setGeometry(kInset, kSize.height() - kHintBottomMargin - hint.height(),
                        qMin(hint.width(), m_send->x() - kHintToSend - kInset), hint.height());

    setHistory({});
}

void MessagesWindow::setHistory(const QList<ServiceClient::ArchivedMessage>& history)
{
    auto* document = new QWidget;
    int height = kListHeight;
    if (history.isEmpty()) {
        QLabel* empty = makeLabel(L("messages.empty"), 13, QFont::Normal, secondaryColor(this), document);
        empty->setObjectName(QStringLiteral("empty"));
        const QSize size = empty->sizeHint();
        empty->setGeometry((kSize.width() - size.width()) / 2, kEmptyLabelTop, size.width(), size.height());
    } else {
        const QString ownPrefix = L("messages.you_prefix");
        const QString serverPrefix = L("messages.orbin_labs_prefix");
        int y = kFirstEntryTop;
        for (const ServiceClient::ArchivedMessage& message : history) {
            // The prefixes end in their colon but carry no space after it.
            QLabel* header = makeLabel((message.mine ? ownPrefix : serverPrefix) + QLatin1Char(' ')
                                           + dateText(message.date),
                                       11, QFont::Medium, message.mine ? tertiaryColor(this) : orbinMauve(),
                                       document);
            header->setObjectName(QStringLiteral("header"));
            header->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            const QSize headerSize = header->sizeHint();
            header->setGeometry(kInset, y, qMin(headerSize.width(), kContentWidth), headerSize.height());
            y += header->height() + kHeaderToBody;

            // Server and user texts alike stay plain text: makeLabel sets that.
            QLabel* body = makeLabel(QString(), 13, QFont::Normal,
                                     message.mine ? secondaryColor(this) : labelColor(this), document);
            body->setText(elideUnbreakableRuns(message.body, body->fontMetrics(), kContentWidth));
            body->setObjectName(QStringLiteral("body"));
            body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            body->setWordWrap(true);
            body->setTextInteractionFlags(Qt::TextSelectableByMouse);
            body->setGeometry(kInset, y, kContentWidth, body->heightForWidth(kContentWidth));
            y += body->height() + kBodyToSeparator;

            addSeparator(document, QRect(kInset, y, kContentWidth, 1));
            y += kSeparatorToNext;
        }
        height = qMax(y + kDocumentBottomPadding, kListHeight);
    }
    document->setAutoFillBackground(false);
    document->setFixedSize(kSize.width(), height);
    // The scroll area deletes the previous list.
    m_list->setWidget(document);
}

void MessagesWindow::present()
{
    show();
    // Centred with its frame, which is only known once shown.
    if (QScreen* target = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(target->availableGeometry().center());
        move(frame.topLeft());
    }
    raise();
    activateWindow();
    m_reply->setFocus();
}

} // namespace ow
