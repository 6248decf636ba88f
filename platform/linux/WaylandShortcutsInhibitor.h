#pragma once

#include "ShortcutsInhibitor.h"

#include <QHash>

#include <cstdint>

struct wl_display;
struct wl_event_queue;
struct wl_registry;
struct wl_seat;
struct zwp_keyboard_shortcuts_inhibit_manager_v1;
struct zwp_keyboard_shortcuts_inhibitor_v1;

namespace ow {

// The keyboard-shortcuts-inhibit request of Wayland compositors, one inhibitor per window.
// Its objects live on a queue of their own, so Qt's queue never sees them. A compositor
// without the protocol (or an application not on Wayland) gets no request at all.
class WaylandShortcutsInhibitor final : public ShortcutsInhibitor {
public:
    WaylandShortcutsInhibitor() = default;
    ~WaylandShortcutsInhibitor() override;
    WaylandShortcutsInhibitor(const WaylandShortcutsInhibitor&) = delete;
    WaylandShortcutsInhibitor& operator=(const WaylandShortcutsInhibitor&) = delete;

    void inhibit(QWindow* window) override;
    void release(QWindow* window) override;

private:
    // Binds the manager and a seat once, at the first window: the connection is Qt's,
    // there only once the application is.
    void bind();
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t);
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    bool m_triedBind = false;
    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwp_keyboard_shortcuts_inhibit_manager_v1* m_manager = nullptr;
    QHash<QWindow*, zwp_keyboard_shortcuts_inhibitor_v1*> m_inhibitors;
};

} // namespace ow
