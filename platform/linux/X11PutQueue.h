#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct xcb_connection_t;

namespace ow {

// Copies the X server makes at given times, with no thread of ours waking for them: each
// copy is sent at once behind a SYNC Await on the server's clock (the SERVERTIME counter),
// on a connection of the queue's own, which the waits hold back. Closing that connection
// drops the copies not made yet. A copy whose pixmap is freed meanwhile fails, unseen.
// Main thread only.
class X11PutQueue {
public:
    using Time = std::chrono::steady_clock::time_point;
    struct Copy {
        uint32_t source = 0;
        uint32_t target = 0;
        uint32_t gc = 0;
        int16_t sourceX = 0;
        int16_t x = 0;
        int16_t y = 0;
        uint16_t width = 0;
        uint16_t height = 0;
    };

    explicit X11PutQueue(std::string display);
    ~X11PutQueue();
    X11PutQueue(const X11PutQueue&) = delete;
    X11PutQueue& operator=(const X11PutQueue&) = delete;

    // Sends copy, to be made at `when`. False where the server cannot wait (no SYNC, no
    // connection), and when `when` comes before a copy already sent, which the server
    // would make first: every copy sent is then dropped, and the caller puts its tiles
    // itself until it sends them again, in order.
    bool add(const Copy& copy, Time when);

private:
    bool open();
    void close();
    void send();

    std::string m_display;
    xcb_connection_t* m_connection = nullptr;
    bool m_unusable = false; // the server has no SYNC or no SERVERTIME
    uint32_t m_serverTime = 0;
    std::chrono::milliseconds m_offset{}; // the server's clock minus ours
    std::optional<int64_t> m_last; // when the last copy sent is made, by the server's clock
    // The copies added in one turn of the main loop go in one write, at its end.
    QObject m_sender;
    bool m_unsent = false;
};

} // namespace ow
