#pragma once

#include "LockEngine.h"
#include "ModifierFlags.h"

#include <QObject>

namespace ow {

// Swallows the input events delivered to this application's own windows, through an
// application-wide event filter, and reports modifier changes synchronously from them.
// It cannot fail, but it cannot stop input meant for other programs either.
class KioskLockEngine final : public QObject, public LockEngine {
    Q_OBJECT
public:
    KioskLockEngine();
    ~KioskLockEngine() override;

    bool start(FlagsHandler handler) override;
    void stop() override;

    bool isRunning() const { return m_running; }
    quint32 presentationOptions() const { return m_presentationOptions; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FlagsHandler m_handler;
    ModifierTracker m_modifiers;
    bool m_running = false;
    quint32 m_presentationOptions = PresentationOptions::None;
};

} // namespace ow
