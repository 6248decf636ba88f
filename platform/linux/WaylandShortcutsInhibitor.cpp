#include "WaylandShortcutsInhibitor.h"

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>

namespace ow {

WaylandShortcutsInhibitor::~WaylandShortcutsInhibitor()
{
    for (zwp_keyboard_shortcuts_inhibitor_v1* inhibitor : std::as_const(m_inhibitors))
        zwp_keyboard_shortcuts_inhibitor_v1_destroy(inhibitor);
    if (m_manager)
        zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_queue) {
        wl_display_flush(m_display);
        wl_event_queue_destroy(m_queue);
    }
}

void WaylandShortcutsInhibitor::global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                       uint32_t)
{
    auto* self = static_cast<WaylandShortcutsInhibitor*>(data);
    if (!self->m_manager && std::strcmp(interface, zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name) == 0) {
        self->m_manager = static_cast<zwp_keyboard_shortcuts_inhibit_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1));
    } else if (!self->m_seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        // Qt's input follows the first seat too.
        self->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}

void WaylandShortcutsInhibitor::bind()
{
    m_triedBind = true;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    // Null on X11 and offscreen: nothing is asked there.
    m_display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")))
                       : nullptr;
    if (!m_display)
        return;
    m_queue = wl_display_create_queue(m_display);
    // The registry is made through a wrapper on our queue, so its events never reach Qt's.
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), m_queue);
    m_registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    static const wl_registry_listener listener = {.global = &global, .global_remove = &globalRemove};
    wl_registry_add_listener(m_registry, &listener, this);
    wl_display_roundtrip_queue(m_display, m_queue);
}

void WaylandShortcutsInhibitor::inhibit(QWindow* window)
{
    if (!m_triedBind)
        bind();
    if (!m_manager || !m_seat || !window || m_inhibitors.contains(window))
        return;
    auto* surface = static_cast<wl_surface*>(
        QGuiApplication::platformNativeInterface()->nativeResourceForWindow(QByteArrayLiteral("surface"), window));
    if (!surface)
        return;
    // Nothing here listens to the compositor's answers; they are only taken off the queue.
    wl_display_dispatch_queue_pending(m_display, m_queue);
    m_inhibitors.insert(window, zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(m_manager, surface, m_seat));
    wl_display_flush(m_display);
}

void WaylandShortcutsInhibitor::release(QWindow* window)
{
    zwp_keyboard_shortcuts_inhibitor_v1* inhibitor = m_inhibitors.take(window);
    if (!inhibitor)
        return;
    zwp_keyboard_shortcuts_inhibitor_v1_destroy(inhibitor);
    wl_display_flush(m_display);
}

} // namespace ow
