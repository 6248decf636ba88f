#pragma once

#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace ow {

// An input blocker. While running it stops keyboard and pointer input from reaching
// programs and reports every change of the modifier keys to its handler as a flags word
// (layout in ModifierFlags.h); interpreting the word is the lock controller's job. An
// engine that runs the unlock chord and its own timeout itself sees no keys and reports
// no flags: it tells its observer instead.
class LockEngine {
public:
    using FlagsHandler = std::function<void(quint64 flags)>;

    // Told, on the main thread, by an engine that runs the unlock chord itself.
    class Observer {
    public:
        // The chord held: rising 0..1; 0 when it is let go.
        virtual void holdProgress(double fraction) = 0;
        // Devices the engine could not take from the programs that hold them.
        virtual void devicesRefused(const QStringList& names) = 0;
        // The engine has let input go by itself (chord, timeout or failure).
        virtual void endedByItself() = 0;

    protected:
        ~Observer() = default;
    };

    virtual ~LockEngine() = default;

    // Gets what start needs without blocking, where that means asking a service: ready runs
    // once on the main thread, perhaps before this returns.
    virtual void prepare(std::function<void()> ready) { ready(); }
    // Begins blocking and reporting; true if blocking is in force.
    virtual bool start(FlagsHandler handler) = 0;
    // Ends blocking and forgets the handler. Safe on a stopped engine.
    virtual void stop() = 0;
    // Called at each tick of the lock, every second or two, while running: takes back any
    // part of the blocking that something outside broke. An engine that cannot lose it has
    // nothing to do.
    virtual void reassert() {}
    // Installs the observer, kept for the engine's life; engines that report flags ignore it.
    virtual void setObserver(Observer* /*observer*/) {}
};

// What the engine asks of the desktop's presentation while running (bits: hide the
// dock 2, hide the menu bar 8, no process switching 32, no force quit 64, no session
// termination 128, no hiding the application 256). On Linux the overlays cover panels
// and docks by themselves, so the options are recorded, not applied.
namespace PresentationOptions {
constexpr quint32 None = 0;
constexpr quint32 HideDockAndMenuBar = 10;
constexpr quint32 Kiosk = 490;
} // namespace PresentationOptions

} // namespace ow
