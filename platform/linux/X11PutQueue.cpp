#include "X11PutQueue.h"


#include <xcb/sync.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace ow {

namespace {

int64_t value(const xcb_sync_int64_t& v)
{
    return int64_t((uint64_t(uint32_t(v.hi)) << 32) | v.lo);
}

xcb_sync_int64_t syncValue(int64_t v)
{
    return {.hi = int32_t(uint64_t(v) >> 32), .lo = uint32_t(uint64_t(v))};
}

int64_t steadyMs(X11PutQueue::Time t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// The SERVERTIME counter among the system counters, 0 where there is none. Each entry is
// a counter, its resolution, its name's length and its name, padded to four bytes; XCB's
// own iterator misses the padding, so the list is read here.
uint32_t serverTimeCounter(const xcb_sync_list_system_counters_reply_t* reply)
{
    static constexpr char kName[] = "SERVERTIME";
    static constexpr size_t kHead = 14;
    const auto* at = reinterpret_cast<const uint8_t*>(reply + 1);
    const uint8_t* end = at + size_t(reply->length) * 4;
    for (uint32_t i = 0; i < reply->counters_len && at + kHead <= end; ++i) {
        xcb_sync_systemcounter_t entry;
        std::memcpy(&entry, at, kHead);
        const auto* name = reinterpret_cast<const char*>(at + kHead);
        if (name + entry.name_len > reinterpret_cast<const char*>(end))
            break;
        if (entry.name_len == sizeof kName - 1 && std::memcmp(name, kName, entry.name_len) == 0)
            return entry.counter;
        at += (kHead + entry.name_len + 3) & ~size_t(3);
    }
    return 0;
}

} // namespace

X11PutQueue::X11PutQueue(std::string display)
    : m_display(std::move(display))
{
}

X11PutQueue::~X11PutQueue()
{
    close();
}

bool X11PutQueue::open()
{
    if (m_connection)
        return true;
    if (m_unusable)
        return false;
    m_connection = xcb_connect(m_display.c_str(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        close();
        return false;
    }
    xcb_sync_initialize_reply_t* version =
        xcb_sync_initialize_reply(m_connection, xcb_sync_initialize(m_connection, 3, 0), nullptr);
    xcb_sync_list_system_counters_reply_t* counters =
        version ? xcb_sync_list_system_counters_reply(m_connection, xcb_sync_list_system_counters(m_connection), nullptr)
                : nullptr;
    m_serverTime = counters ? serverTimeCounter(counters) : 0;
    std::free(version);
    std::free(counters);
    xcb_sync_query_counter_reply_t* now = nullptr;
    const Time asked = std::chrono::steady_clock::now();
    if (m_serverTime)
        now = xcb_sync_query_counter_reply(m_connection, xcb_sync_query_counter(m_connection, m_serverTime), nullptr);
    const Time answered = std::chrono::steady_clock::now();
    if (!now) {
        m_unusable = true;
        close();
        return false;
    }
    // The server read its clock about halfway through the round trip.
    m_offset = std::chrono::milliseconds(value(now->counter_value) - steadyMs(asked + (answered - asked) / 2));
    std::free(now);
    return true;
}

void X11PutQueue::close()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_last.reset();
    m_unsent = false;
}

void X11PutQueue::send()
{
    if (!m_unsent)
        return;
    m_unsent = false;
    xcb_flush(m_connection);
    if (xcb_connection_has_error(m_connection))
        close(); // the next add opens anew, and says so if it cannot
}

bool X11PutQueue::add(const Copy& copy, Time when)
{
    if (!open())
        return false;
    // Rounded up: a digit changes no earlier than its second begins.
    const Time ms = std::chrono::ceil<std::chrono::milliseconds>(when);
    const int64_t at = steadyMs(ms) + m_offset.count();
    if (m_last && at < *m_last) {
        close();
        return false;
    }
    m_last = at;
    xcb_sync_waitcondition_t wait{};
    wait.trigger.counter = m_serverTime;
    wait.trigger.wait_type = XCB_SYNC_VALUETYPE_ABSOLUTE;
    wait.trigger.wait_value = syncValue(at);
    wait.trigger.test_type = XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
    // No CounterNotify event when the wait ends, however late.
    wait.event_threshold = syncValue(std::numeric_limits<int64_t>::max());
    xcb_sync_await(m_connection, 1, &wait);
    xcb_copy_area(m_connection, copy.source, copy.target, copy.gc, copy.sourceX, 0, copy.x, copy.y, copy.width,
                  copy.height);
    if (!m_unsent) {
        m_unsent = true;
        QMetaObject::invokeMethod(&m_sender, [this] { send(); }, Qt::QueuedConnection);
    }
    return true;
}

} // namespace ow
