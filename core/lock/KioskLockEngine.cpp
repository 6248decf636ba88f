#include "KioskLockEngine.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace ow {

namespace {

bool isSwallowed(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        return true;
    default:
        return false;
    }
}

// The X keysym of a modifier key event. Platforms that give no native keysym only tell
// which modifier it was, not which side: count it as the left one.
quint32 keysymOf(const QKeyEvent* event)
{
    if (event->nativeVirtualKey() != 0)
        return event->nativeVirtualKey();
    switch (event->key()) {
    case Qt::Key_Shift: return 0xffe1;   // Shift_L
    case Qt::Key_Control: return 0xffe3; // Control_L
    case Qt::Key_Meta: return 0xffeb;    // Super_L
    case Qt::Key_Alt: return 0xffe9;     // Alt_L
    case Qt::Key_AltGr: return 0xfe03;   // ISO_Level3_Shift
    default: return 0;
    }
}

} // namespace

KioskLockEngine::KioskLockEngine() = default;

KioskLockEngine::~KioskLockEngine()
{
    stop();
}

bool KioskLockEngine::start(FlagsHandler handler)
{
    m_presentationOptions = PresentationOptions::Kiosk;
    m_handler = std::move(handler);
    m_modifiers.reset();
    if (!m_running && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
        m_running = true;
    }
    return true;
}

void KioskLockEngine::stop()
{
    if (m_running && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    m_running = false;
    m_handler = nullptr;
    m_presentationOptions = PresentationOptions::None;
}

bool KioskLockEngine::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Accepting the override keeps application shortcuts from firing.
        event->accept();
        return true;
    }
    if (!isSwallowed(event->type()))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool press = key->type() == QEvent::KeyPress;
        bool changed = false;
        if (key->key() == Qt::Key_CapsLock)
            changed = press && m_modifiers.setCapsLock(!(m_modifiers.flags() & ModifierFlags::CapsLock));
        else if (!key->isAutoRepeat())
            changed = m_modifiers.update(keysymOf(key), press);
        if (changed && m_handler)
            m_handler(m_modifiers.flags());
    }
    return true;
}

} // namespace ow
