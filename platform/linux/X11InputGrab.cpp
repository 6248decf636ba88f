#include "X11InputGrab.h"

#include "X11Connection.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XI2.h>
#include <X11/extensions/XI2proto.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

namespace ow {

namespace {

// A refused grab (an open menu, another locker) is retried for about this long.
constexpr int kGrabPatienceMs = 1000;
constexpr int kGrabRetryMs = 10;
// How long the lock waits for the keys and buttons of the command that started it to go
// up; a key held for longer (a cloth on the keyboard) does not stop the lock.
constexpr int kNeutralPatienceMs = 1000;
// A read that brings this many events is taken for a burst: the next read waits a moment,
// so that the main loop wakes once for many events, not once for every few.
constexpr int kBurstEvents = 16;
constexpr int kBurstPauseMs = 10;
constexpr unsigned kButtonMasks[] = {Button1Mask, Button2Mask, Button3Mask, Button4Mask, Button5Mask};

Cursor makeBlankCursor(Display* display, Window root)
{
    static const char empty[1] = {0};
    Pixmap pixmap = XCreateBitmapFromData(display, root, empty, 1, 1);
    XColor black{};
    Cursor cursor = XCreatePixmapCursor(display, pixmap, pixmap, &black, &black, 0, 0);
    XFreePixmap(display, pixmap);
    return cursor;
}

// The keys the session's core keyboard holds down, as a bit per keycode.
using Keymap = std::array<char, 32>;

Keymap keysDown(Display* display)
{
    Keymap keys{};
    XQueryKeymap(display, keys.data());
    return keys;
}

bool isDown(const Keymap& keys, int keycode)
{
    return keys[size_t(keycode / 8)] & (1 << (keycode % 8));
}

// The buttons the session's core pointer holds down, as the state bits of XQueryPointer.
unsigned buttonsDown(Display* display, Window root)
{
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    XQueryPointer(display, root, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

bool capsLockOn(Display* display, unsigned device)
{
    XkbStateRec state{};
    return XkbGetState(display, device, &state) == Success && (state.locked_mods & LockMask);
}

// The XInput 2 opcode, or -1 when the server has no XInput 2.
int xinput2Opcode(Display* display)
{
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error))
        return -1;
    // XInput 2 requests straight on XCB, whose library the toolkit has loaded already.
    xcb_connection_t* connection = XGetXCBConnection(display);
    xcb_input_xi_query_version_reply_t* version =
        xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 0), nullptr);
    const bool two = version && version->major_version >= 2;
    std::free(version);
    return two ? opcode : -1;
}

// One word of XInput 2 event bits: a device grab asks for keys; pointers get none.
constexpr uint32_t bit(int event)
{
    return uint32_t(1) << event;
}

} // namespace

X11InputGrab::X11InputGrab()
{
    m_burstPause.setSingleShot(true);
    m_burstPause.setInterval(kBurstPauseMs);
    m_burstPause.setTimerType(Qt::PreciseTimer);
    // What came meanwhile is read in this same wake-up; the socket is watched again once
    // the burst is over.
    QObject::connect(&m_burstPause, &QTimer::timeout, [this] {
        drain();
        if (m_notifier && !m_burstPause.isActive())
            m_notifier->setEnabled(true);
    });
}

X11InputGrab::~X11InputGrab()
{
    release();
}

bool X11InputGrab::grab(FlagsSink sink)
{
    if (m_connection) {
        m_sink = std::move(sink);
        return true;
    }
    m_connection = X11Connection::open();
    if (!m_connection)
        return false;
    Display* display = m_connection->display();
    // Events are taken from XCB as they come off the wire; Xlib only sends requests and
    // waits for replies here.
    XSetEventQueueOwner(display, XCBOwnsEventQueue);
    m_blankCursor = makeBlankCursor(display, m_connection->root());
    m_xiOpcode = xinput2Opcode(display);

    waitForNeutral();
    QElapsedTimer waited;
    waited.start();
    GrabResult result = grabOnce();
    while (result == GrabResult::Busy && waited.elapsed() < kGrabPatienceMs) {
        QThread::msleep(kGrabRetryMs);
        result = grabOnce();
    }
    if (result != GrabResult::Held) {
        ungrabAll();
        m_connection.reset();
        return false;
    }

    readModifierKeymap();
    // A grab broken by the server (grab-breaking keys, a window becoming unviewable)
    // shows up as focus events with NotifyUngrab on the root.
    XSelectInput(display, m_connection->root(), FocusChangeMask);
    if (m_xiOpcode >= 0) {
        // A keyboard or mouse plugged in during the lock is grabbed as it appears.
        struct {
            xcb_input_event_mask_t head{XIAllDevices, 1};
            uint32_t bits = bit(XI_HierarchyChanged);
        } hierarchy;
        xcb_input_xi_select_events(XGetXCBConnection(display), m_connection->root(), 1, &hierarchy.head);
    }
    XFlush(display);

    m_sink = std::move(sink);
    m_notifier = std::make_unique<QSocketNotifier>(m_connection->fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    drain(); // events read during the grab round trips are already queued
    return true;
}

void X11InputGrab::waitForNeutral()
{
    Display* display = m_connection->display();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kNeutralPatienceMs) {
        const Keymap keys = keysDown(display);
        const bool keyDown = std::any_of(keys.begin(), keys.end(), [](char bits) { return bits != 0; });
        if (!keyDown && !buttonsDown(display, m_connection->root()))
            return;
        QThread::msleep(kGrabRetryMs);
    }
}

X11InputGrab::GrabResult X11InputGrab::grabOnce()
{
    Display* display = m_connection->display();
    const Window root = m_connection->root();
    const int keyboard = XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    // Event mask 0: the server drops every pointer event instead of sending it to us.
    const int pointer = XGrabPointer(display, root, False, 0, GrabModeAsync, GrabModeAsync, None,
                                     m_blankCursor, CurrentTime);
    m_holdsCoreGrabs = keyboard == GrabSuccess && pointer == GrabSuccess;
    if (m_connection->isBroken() || keyboard == GrabNotViewable || pointer == GrabNotViewable)
        return GrabResult::Impossible;
    if (keyboard != GrabSuccess || pointer != GrabSuccess)
        return GrabResult::Busy;
    return grabDevices();
}

X11InputGrab::GrabResult X11InputGrab::grabDevices()
{
    if (m_xiOpcode < 0)
        return GrabResult::Held; // the core grabs are all there is
    xcb_connection_t* connection = XGetXCBConnection(m_connection->display());
    xcb_input_xi_query_device_reply_t* devices =
        xcb_input_xi_query_device_reply(connection, xcb_input_xi_query_device(connection, XIAllDevices), nullptr);
    if (!devices)
        return GrabResult::Busy;
    const uint32_t keys = bit(XI_KeyPress) | bit(XI_KeyRelease);
    const uint32_t nothing = 0;
    GrabResult result = GrabResult::Held;
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices); it.rem; xcb_input_xi_device_info_next(&it)) {
        const xcb_input_xi_device_info_t& device = *it.data;
        const bool keyboard = device.type == XISlaveKeyboard || device.type == XIFloatingSlave;
        if (!device.enabled || (!keyboard && device.type != XISlavePointer))
            continue;
        xcb_input_xi_grab_device_reply_t* grabbed = xcb_input_xi_grab_device_reply(
            connection,
            xcb_input_xi_grab_device(connection, m_connection->root(), XCB_CURRENT_TIME, m_blankCursor, device.deviceid,
                                     XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_MODE_22_ASYNC,
                                     XCB_INPUT_GRAB_OWNER_NO_OWNER, 1, keyboard ? &keys : &nothing),
            nullptr);
        const bool held = grabbed && grabbed->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(grabbed);
        if (!held) {
            result = GrabResult::Busy;
            continue;
        }
        if (std::find(m_grabbedDevices.begin(), m_grabbedDevices.end(), device.deviceid) == m_grabbedDevices.end())
            m_grabbedDevices.push_back(device.deviceid);
    }
    std::free(devices);
    return result;
}

void X11InputGrab::releaseDevices()
{
    xcb_connection_t* connection = XGetXCBConnection(m_connection->display());
    for (int device : m_grabbedDevices)
        xcb_input_xi_ungrab_device(connection, XCB_CURRENT_TIME, xcb_input_device_id_t(device));
    m_grabbedDevices.clear();
}

void X11InputGrab::liftStuckKeysAndButtons()
{
    Display* display = m_connection->display();
    xcb_connection_t* connection = XGetXCBConnection(display);
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection, &xcb_test_id);
    if (!m_holdsCoreGrabs || !xtest || !xtest->present)
        return;
    // A device grab detaches the device from the session's core keyboard and pointer, so
    // a key or button that went up during the lock went up for us alone: the core devices
    // still hold it down, and the server auto-repeats a held key for ever. A press and a
    // release of each, sent while the core grabs still take every event, leave them up
    // without any program seeing either.
    const auto tap = [connection](uint8_t press, uint8_t release, uint8_t detail) {
        xcb_test_fake_input(connection, press, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(connection, release, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    const Keymap keys = keysDown(display);
    for (int keycode = 8; keycode < 256; ++keycode) {
        if (isDown(keys, keycode))
            tap(XCB_KEY_PRESS, XCB_KEY_RELEASE, uint8_t(keycode));
    }
    const unsigned buttons = buttonsDown(display, m_connection->root());
    for (unsigned button = 1; button <= std::size(kButtonMasks); ++button) {
        if (buttons & kButtonMasks[button - 1])
            tap(XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE, uint8_t(button));
    }
    XSync(display, False);
}

void X11InputGrab::ungrabAll()
{
    Display* display = m_connection->display();
    releaseDevices();
    // The devices are back with the core keyboard and pointer before their state is read.
    XSync(display, False);
    liftStuckKeysAndButtons();
    XUngrabPointer(display, CurrentTime);
    XUngrabKeyboard(display, CurrentTime);
    m_holdsCoreGrabs = false;
    XFreeCursor(display, m_blankCursor);
    XSync(display, False);
}

void X11InputGrab::readModifierKeymap()
{
    Display* display = m_connection->display();
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    m_modifierKeysyms.fill(0);
    for (int keycode = minKeycode; keycode <= maxKeycode && keycode < 256; ++keycode) {
        const auto keysym = quint32(XkbKeycodeToKeysym(display, KeyCode(keycode), 0, 0));
        if (ModifierTracker::isModifier(keysym) || keysym == XK_Caps_Lock)
            m_modifierKeysyms[size_t(keycode)] = keysym;
    }

    // Modifiers already held when the lock begins (the keys of a shortcut) count as down,
    // so that their release is reported correctly.
    m_modifiers.reset();
    const Keymap keys = keysDown(display);
    for (int keycode = 0; keycode < 256; ++keycode) {
        const quint32 keysym = m_modifierKeysyms[size_t(keycode)];
        if (keysym && isDown(keys, keycode))
            m_modifiers.update(keysym, true);
    }
    m_modifiers.setCapsLock(capsLockOn(display, XkbUseCoreKbd));
}

void X11InputGrab::drain()
{
    if (!m_connection || m_connection->isBroken())
        return;
    xcb_connection_t* connection = XGetXCBConnection(m_connection->display());
    // XCB reads the socket only when its queue is empty, then queues all it read at once.
    // Looking at Caps Lock or grabbing a new device is a round trip, which may queue more.
    int read = 0;
    do {
        m_devicesChanged = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            handleEvent(event);
            std::free(event);
            ++read;
            if (!m_connection)
                return; // the sink ended the grab
        }
        if (m_devicesChanged)
            grabDevices();
    } while (m_devicesChanged);
    if (xcb_connection_has_error(connection)) {
        m_notifier->setEnabled(false); // the server is gone: only destruction is left
        m_burstPause.stop();
    } else if (read >= kBurstEvents) {
        m_notifier->setEnabled(false);
        m_burstPause.start();
    }
}

void X11InputGrab::handleEvent(const void* event)
{
    const auto* any = static_cast<const xcb_generic_event_t*>(event);
    switch (any->response_type & 0x7f) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: { // servers without XInput 2
        const auto* key = static_cast<const xcb_key_press_event_t*>(event);
        handleKey(key->detail, (any->response_type & 0x7f) == XCB_KEY_PRESS, XkbUseCoreKbd);
        break;
    }
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: // the server broke the grab
        if (static_cast<const xcb_focus_in_event_t*>(event)->mode == XCB_NOTIFY_MODE_UNGRAB)
            retake();
        break;
    case XCB_GE_GENERIC: {
        // The first 32 bytes are as on the wire; XCB moves what follows by 4 bytes.
        const auto* device = static_cast<const xXIDeviceEvent*>(event);
        if (device->extension != m_xiOpcode)
            break;
        if (device->evtype == XI_KeyPress || device->evtype == XI_KeyRelease)
            handleKey(device->detail, device->evtype == XI_KeyPress, device->deviceid);
        else if (device->evtype == XI_HierarchyChanged)
            m_devicesChanged = true;
        break;
    }
    default: // errors of requests that wait for no reply, which change nothing here
        break;
    }
}

void X11InputGrab::handleKey(unsigned keycode, bool press, unsigned device)
{
    const quint32 keysym = m_modifierKeysyms[keycode & 0xff];
    if (!keysym)
        return; // every other key is dropped unread
    const bool changed = keysym == XK_Caps_Lock
        ? m_modifiers.setCapsLock(capsLockOn(m_connection->display(), device))
        : m_modifiers.update(keysym, press);
    if (changed && m_sink)
        m_sink(m_modifiers.flags());
}

void X11InputGrab::retake()
{
    if (!m_connection || m_connection->isBroken())
        return;
    // Grabbing again what we still hold only confirms it; a lost grab is taken back.
    m_retakePending = grabOnce() != GrabResult::Held;
    XFlush(m_connection->display());
}

void X11InputGrab::reassert()
{
    if (!m_retakePending)
        return;
    retake();
    drain(); // the round trips may have queued events without waking the notifier
}

void X11InputGrab::release()
{
    m_burstPause.stop();
    m_notifier.reset();
    m_sink = nullptr;
    m_retakePending = false;
    if (!m_connection)
        return;
    if (!m_connection->isBroken())
        ungrabAll();
    m_connection.reset();
}

} // namespace ow
