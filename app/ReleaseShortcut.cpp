#include "ReleaseShortcut.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ow {

namespace {

bool isReturn(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers others = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && others == Qt::NoModifier;
}

} // namespace

ReleaseShortcut::ReleaseShortcut(QWidget* scope)
    : QObject(scope)
    , m_scope(scope)
{
    // Key events go to the focused child, so the scope's own filter would miss them.
    qApp->installEventFilter(this);
}

void ReleaseShortcut::setEnabled(bool enabled)
{
    m_enabled = enabled;
    m_armedKey = 0;
}

bool ReleaseShortcut::inScope(QObject* watched) const
{
    auto* widget = qobject_cast<QWidget*>(watched);
    return m_scope && widget && m_scope->isVisible() && (widget == m_scope || m_scope->isAncestorOf(widget));
}

bool ReleaseShortcut::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        break;
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        // The release of a key pressed before may never come.
        if (watched == m_scope || (m_scope && watched == m_scope->window()))
            m_armedKey = 0;
        return false;
    default:
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (!m_enabled || !isReturn(key) || !inScope(watched))
        return false;
    if (event->type() == QEvent::KeyPress) {
        // A press seen while another is armed, or a repeat, arms nothing new.
        if (!key->isAutoRepeat() && m_armedKey == 0)
            m_armedKey = key->key();
        return true;
    }
    if (key->isAutoRepeat() || key->key() != m_armedKey)
        return true; // a release whose press this window never saw gives no command
    m_armedKey = 0;
    emit activated();
    return true;
}

} // namespace ow
