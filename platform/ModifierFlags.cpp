#include "ModifierFlags.h"

namespace ow {

namespace {

// X keysyms of the modifier keys (from X11/keysymdef.h; core code includes no X11 header).
constexpr quint32 XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2, XK_Control_L = 0xffe3,
                  XK_Control_R = 0xffe4, XK_Meta_L = 0xffe7, XK_Meta_R = 0xffe8,
                  XK_Alt_L = 0xffe9, XK_Alt_R = 0xffea, XK_Super_L = 0xffeb,
                  XK_Super_R = 0xffec, XK_ISO_Level3_Shift = 0xfe03;

struct Slot {
    quint32 keysym;
    quint64 flags;
};

using namespace ModifierFlags;
constexpr Slot kSlots[] = {
    {XK_Shift_L, LeftShift | Shift},
    {XK_Shift_R, RightShift | Shift},
    {XK_Control_L, LeftCommand | Command},
    {XK_Control_R, RightCommand | Command},
    {XK_Super_L, LeftCommand | Command},
    {XK_Super_R, RightCommand | Command},
    {XK_Alt_L, LeftOption | Option},
    {XK_Alt_R, RightOption | Option},
    {XK_Meta_L, LeftOption | Option},
    {XK_Meta_R, RightOption | Option},
    {XK_ISO_Level3_Shift, RightOption | Option}, // AltGr
};

int slotOf(quint32 keysym)
{
    for (int i = 0; i < int(std::size(kSlots)); ++i) {
        if (kSlots[i].keysym == keysym)
            return i;
    }
    return -1;
}

} // namespace

bool ModifierTracker::isModifier(quint32 keysym)
{
    return slotOf(keysym) >= 0;
}

bool ModifierTracker::update(quint32 keysym, bool down)
{
    const int slot = slotOf(keysym);
    if (slot < 0)
        return false;
    if (down)
        m_down |= 1u << slot;
    else
        m_down &= ~(1u << slot);
    const quint64 before = m_flags;
    m_flags = computeFlags();
    return m_flags != before;
}

bool ModifierTracker::setCapsLock(bool on)
{
    m_capsLock = on;
    const quint64 before = m_flags;
    m_flags = computeFlags();
    return m_flags != before;
}

void ModifierTracker::reset()
{
    m_down = 0;
    m_capsLock = false;
    m_flags = 0;
}

quint64 ModifierTracker::computeFlags() const
{
    quint64 flags = m_capsLock ? CapsLock : 0;
    for (int i = 0; i < int(std::size(kSlots)); ++i) {
        if (m_down & (1u << i))
            flags |= kSlots[i].flags;
    }
    return flags;
}

} // namespace ow
