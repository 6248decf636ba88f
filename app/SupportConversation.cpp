#include "SupportConversation.h"

#include "Alert.h"
#include "HomeView.h"
#include "LauncherBadge.h"
#include "Localizer.h"
#include "LockController.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "MessagesWindow.h"
#include "ReportProblemDialog.h"
#include "ServiceClient.h"
#include "StatusItemController.h"
#include "TrayMenu.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace ow {

SupportConversation::SupportConversation(Services services, QObject* parent)
    : QObject(parent)
    , m_services(services)
{
}

SupportConversation::~SupportConversation() = default;

void SupportConversation::showIn(MainWindow* window, MainMenu* menu)
{
    m_window = window;
    m_menu = menu;
}

void SupportConversation::setTrayMenu(TrayMenu* menu)
{
    m_trayMenu = menu;
    m_trayMenu->setMessageWaiting(messageWaiting());
}

bool SupportConversation::messageWaiting() const
{
    return m_services.service.ticketState() == QLatin1String("open")
        && m_services.service.pendingMessage().has_value();
}

void SupportConversation::refreshBadges()
{
    const bool open = m_services.service.ticketState() == QLatin1String("open");
    const bool unread = messageWaiting();
    // Each place that shows the conversation follows these two facts.
    m_services.launcher.setBadgeLabel(unread ? QStringLiteral("1") : QString());
    if (m_window)
        m_window->homeView()->setMessagesState(open, unread);
    if (m_menu)
        m_menu->messagesAction()->setVisible(open);
    m_services.trayIcon.setBadge(unread);
    if (m_trayMenu)
        m_trayMenu->setMessageWaiting(unread);
}

void SupportConversation::presentBanner()
{
    const std::optional<ServiceClient::PendingMessage>& message = m_services.service.pendingMessage();
    if (!message || !m_window || m_services.lock.isLocked())
        return;
    m_window->homeView()->showMessageBanner(message->body);
    m_services.service.markMessageShown();
    refreshBadges();
}

void SupportConversation::dismissBanner()
{
    if (m_window)
        m_window->homeView()->dismissMessageBanner();
}

void SupportConversation::showMessages()
{
    if (m_services.lock.isLocked())
        return;
    if (m_services.service.pendingMessage()) {
        m_services.service.markMessageShown();
        refreshBadges();
    }
    if (!m_messagesWindow) {
        m_messagesWindow = std::make_unique<MessagesWindow>();
        connect(m_messagesWindow.get(), &MessagesWindow::sendPressed, this, &SupportConversation::sendReply);
    }
    m_messagesWindow->setHistory(m_services.service.messageHistory());
    m_messagesWindow->present();
}

void SupportConversation::sendReply()
{
    if (!m_messagesWindow)
        return;
    QLineEdit* field = m_messagesWindow->replyField();
    const QString text = field->text().trimmed();
    if (text.isEmpty())
        return;
    field->clear();
    m_services.service.archiveOwn(text);
    showMessages();
    m_services.service.reportProblem(text, std::nullopt, [self = QPointer<SupportConversation>(this)](bool sent) {
        if (sent || !self)
            return;
        // The reply stays in the history as written; only its delivery failed.
        Alert::run(self->m_messagesWindow.get(), QMessageBox::Warning, L("common.send_failed_title"),
                   L("messages.send_failed_message"), {L("common.ok")});
    });
}

void SupportConversation::reportProblem()
{
    if (m_reportDialog) {
        m_reportDialog->raise();
        m_reportDialog->activateWindow();
        return;
    }
    m_reportDialog = new ReportProblemDialog(m_window);
    connect(m_reportDialog, &QDialog::accepted, this, [this, dialog = m_reportDialog] {
        sendReport(dialog->textEdit()->toPlainText(), dialog->emailField()->text());
    });
    connect(m_reportDialog, &QDialog::finished, m_reportDialog, &QObject::deleteLater);
    m_reportDialog->show();
}

void SupportConversation::sendReport(const QString& typedText, const QString& email)
{
    const QString text = typedText.trimmed();
    if (text.isEmpty())
        return;
    // The address goes exactly as typed: the server decides what it accepts.
    m_services.service.reportProblem(text, email, [self = QPointer<SupportConversation>(this)](bool sent) {
        if (!self)
            return;
        if (sent)
            Alert::run(self->m_window, QMessageBox::Information, L("report.sent_title"), L("report.sent_message"),
                       {L("common.ok")});
        else
            Alert::run(self->m_window, QMessageBox::Warning, L("common.send_failed_title"),
                       L("report.failed_message"), {L("common.ok")});
    });
}

void SupportConversation::checkInFinished()
{
    refreshBadges();
    if (!m_services.service.pendingMessage())
        return;
    // A hidden window keeps the message for the next time it is shown.
    if (!m_services.lock.isLocked() && m_window && m_window->isVisible())
        presentBanner();
}

} // namespace ow
