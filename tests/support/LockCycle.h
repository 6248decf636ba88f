#pragma once

#include <QString>

#include <memory>

namespace ow {
class X11Connection;
}

namespace ow::test {

class XTestInput;

// Holds both Ctrl keys, as a user does to unlock, until no other client holds the
// keyboard, then lets them go. False if the lock never ended within timeoutMs.
bool holdBothCtrlKeysUntilUnlocked(XTestInput& input, int timeoutMs);

// Watches the session for ms after an unlock, as the user would: what went wrong (an
// overlay still up half a second on, the keyboard grabbed again, an overlay mapped again,
// a key or button left held down), or an empty text when the session stayed free.
QString troubleAfterUnlock(XTestInput& input, int ms);

// Another client's grab of keyboard and pointer, held until its connection closes; null
// when it could not take both.
std::unique_ptr<X11Connection> competingGrab();

// The pid of parent's child named after the watchdog helper, or -1.
qint64 watchdogChildOf(qint64 parent);

} // namespace ow::test
