#include "MainMenu.h"

#include "Localizer.h"

#include <QApplication>
#include <QMenu>

namespace ow {

namespace {

// Edit commands go to whatever has the keyboard focus, if it knows them.
void sendToFocus(const char* slot)
{
    if (QWidget* focus = QApplication::focusWidget())
        QMetaObject::invokeMethod(focus, slot);
}

} // namespace

MainMenu::MainMenu(Actions actions, QWidget* parent)
    : QMenuBar(parent)
{
    QMenu* app = addMenu(QApplication::applicationDisplayName());
    m_messages = app->addAction(L("messages.banner_title"));
    m_messages->setVisible(false);
    connect(m_messages, &QAction::triggered, this, actions.showMessages);
    app->addSeparator();
    connect(app->addAction(L("menu.check_updates")), &QAction::triggered, this, actions.checkForUpdates);
    connect(app->addAction(L("menu.report_problem")), &QAction::triggered, this, actions.reportProblem);
    app->addSeparator();
    QAction* quit = app->addAction(L("menu.quit"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, actions.quit);

    QMenu* file = addMenu(L("menu.file"));
    QAction* close = file->addAction(L("menu.close"));
    close->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    connect(close, &QAction::triggered, this, actions.closeOrBack);

    QMenu* edit = addMenu(L("menu.edit"));
    const struct {
        const char* key;
        const char* shortcut;
        const char* slot;
    } editItems[] = {
        {"edit.undo", "Ctrl+Z", "undo"},
        {"edit.redo", "Ctrl+Shift+Z", "redo"},
        {nullptr, nullptr, nullptr},
        {"edit.cut", "Ctrl+X", "cut"},
        {"edit.copy", "Ctrl+C", "copy"},
        {"edit.paste", "Ctrl+V", "paste"},
        {"edit.select_all", "Ctrl+A", "selectAll"},
    };
    for (const auto& item : editItems) {
        if (!item.key) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(L(item.key));
        action->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
        const char* slot = item.slot;
        connect(action, &QAction::triggered, this, [slot] { sendToFocus(slot); });
    }
}

} // namespace ow
