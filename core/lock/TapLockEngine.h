#pragma once

#include "LockEngine.h"

#include <QObject>

#include <memory>

namespace ow {

class Clock;
class InputGrab;
class Platform;
class PowerKeyInhibitor;

// Blocks input for the whole desktop session through a session-wide grab: no program,
// this one included, receives a key, click, motion or scroll while it runs; the power,
// suspend and hibernate keys, which the system reads past any grab, are held off beside
// it where the system allows. Modifier changes reach the handler asynchronously, on the
// main queue.
class TapLockEngine final : public QObject, public LockEngine {
    Q_OBJECT
public:
    TapLockEngine(std::unique_ptr<InputGrab> grab, std::unique_ptr<PowerKeyInhibitor> powerKeys, Clock& clock);
    // The platform's own input grab and power-key inhibitor.
    explicit TapLockEngine(Platform& platform);
    ~TapLockEngine() override;

    bool start(FlagsHandler handler) override;
    void stop() override;
    void reassert() override;

    bool isRunning() const { return m_running; }
    quint32 presentationOptions() const { return m_presentationOptions; }

private:
    void handleFlags(quint64 flags);

    std::unique_ptr<InputGrab> m_grab;
    std::unique_ptr<PowerKeyInhibitor> m_powerKeys;
    Clock& m_clock;
    FlagsHandler m_handler;
    bool m_running = false;
    quint32 m_presentationOptions = PresentationOptions::None;
};

} // namespace ow
