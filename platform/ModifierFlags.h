#pragma once

#include <QtGlobal>

namespace ow {

// The flags word reported for modifier changes. Device-dependent per-key bits are in the
// low 16 bits, device-independent modifier bits above them. Both Ctrl keys and both Super
// (logo) keys count as the two Command keys: every PC keyboard has both Ctrl keys, and a
// Mac keyboard under Linux maps its Command keys to Super.
namespace ModifierFlags {
constexpr quint64 LeftShift = 0x02;
constexpr quint64 RightShift = 0x04;
constexpr quint64 LeftCommand = 0x08;
constexpr quint64 RightCommand = 0x10;
constexpr quint64 LeftOption = 0x20;
constexpr quint64 RightOption = 0x40;
constexpr quint64 CapsLock = 0x10000;
constexpr quint64 Shift = 0x20000;
constexpr quint64 Option = 0x80000;
constexpr quint64 Command = 0x100000;
} // namespace ModifierFlags

// Turns presses and releases of modifier keys, named by their X keysyms, into the flags
// word. Keys that are not modifiers, and repeated presses of a held key, change nothing.
class ModifierTracker {
public:
    static bool isModifier(quint32 keysym);

    // Returns true when the flags word changed.
    bool update(quint32 keysym, bool down);
    bool setCapsLock(bool on);
    void reset();

    quint64 flags() const { return m_flags; }

private:
    quint64 computeFlags() const;

    quint32 m_down = 0; // one bit per modifier keysym slot
    bool m_capsLock = false;
    quint64 m_flags = 0;
};

} // namespace ow
