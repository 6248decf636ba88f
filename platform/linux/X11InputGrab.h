#pragma once

#include "InputGrab.h"
#include "ModifierFlags.h"

#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <memory>
#include <vector>

namespace ow {

class X11Connection;

// Blocks input with active grabs of the keyboard and the pointer on the root window,
// held on a connection of its own. Every physical (slave) device is grabbed as well
// through XInput 2, which detaches it from its master for the lock: clients that listen
// to a device directly get nothing either. Pointer grabs select no events at all, so the
// server discards pointer input without waking us; events are read straight from XCB's
// queue, which XCB owns on this connection, so Xlib neither converts nor queues them, and
// only modifier keys are looked at. The grab waits a moment for the keys and buttons of
// the command that started it to go up, and leaves nothing held down when it ends. A grab
// the server breaks is taken back at its ungrab notice; only a retake that lost to another
// client is tried again at the owner's reassert(), which otherwise costs nothing. A burst
// of keys (a cloth wiped over them) is read a few milliseconds at a time rather than at
// each wake-up, which would come every few keys. The server releases the grabs when the connection closes, so a crashed process
// never leaves the session locked.
class X11InputGrab final : public InputGrab {
public:
    X11InputGrab();
    ~X11InputGrab() override;

    bool grab(FlagsSink sink) override;
    void release() override;
    void reassert() override;

private:
    enum class GrabResult { Held, Busy, Impossible };

    void waitForNeutral();
    GrabResult grabOnce();
    GrabResult grabDevices();
    void releaseDevices();
    void liftStuckKeysAndButtons();
    void ungrabAll();
    void readModifierKeymap();
    void drain();
    void handleEvent(const void* event);
    void handleKey(unsigned keycode, bool press, unsigned device);
    void retake();

    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_burstPause; // while it runs, the socket is not watched
    unsigned long m_blankCursor = 0;
    int m_xiOpcode = -1; // -1 without XInput 2
    bool m_holdsCoreGrabs = false;
    bool m_devicesChanged = false; // a device came or went since the last drain
    bool m_retakePending = false; // the server broke a grab and the retake lost
    std::vector<int> m_grabbedDevices;
    // The keysym of each keycode that is a modifier or Caps Lock, 0 for every other key.
    std::array<quint32, 256> m_modifierKeysyms{};
    ModifierTracker m_modifiers;
    FlagsSink m_sink;
};

} // namespace ow
