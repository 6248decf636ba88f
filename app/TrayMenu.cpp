#include "TrayMenu.h"

#include "Localizer.h"
#include "VisualKit.h"

namespace ow {

TrayMenu::TrayMenu(const Actions& actions, QWidget* parent)
    : QMenu(parent)
{
    connect(addAction(L("lock.button")), &QAction::triggered, this, actions.lock);
    connect(addAction(L("menu.open_app")), &QAction::triggered, this, actions.open);
    m_messages = addAction(L("messages.banner_title"));
    connect(m_messages, &QAction::triggered, this, actions.showMessages);
    setMessageWaiting(false);
    addSeparator();
    connect(addAction(L("menu.check_updates")), &QAction::triggered, this, actions.checkForUpdates);
    connect(addAction(L("menu.report_problem")), &QAction::triggered, this, actions.reportProblem);
    addSeparator();
    QAction* quit = addAction(L("menu.quit"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quit->setShortcutVisibleInContextMenu(true);
    connect(quit, &QAction::triggered, this, actions.quit);
}

void TrayMenu::setMessageWaiting(bool waiting)
{
    m_messages->setVisible(waiting);
    m_messages->setIcon(waiting ? QIcon(QPixmap::fromImage(quotaBadgeImage(1, 13))) : QIcon());
}

} // namespace ow
