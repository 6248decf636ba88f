#pragma once

#include "Clock.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace ow {

class ServiceClient;

// When the application checks in with the server: at launch, every hour after that
// whenever the last check-in was, and when the application is shown if the last one is
// stale. Nothing goes out while mayCheckIn says no.
class CheckInSchedule : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kInterval{3600};
    // Showing the application checks in again only if the last check-in began before this.
    static constexpr std::chrono::seconds kOnShowAfter{120};

    CheckInSchedule(ServiceClient& service, Clock& clock, std::function<bool()> mayCheckIn, QObject* parent);

    // One check-in now, then one every hour.
    void start();
    void checkInNow();
    // Only if the last check-in began more than maxAge ago; before any, one is due.
    void checkInIfOlderThan(std::chrono::seconds maxAge);

signals:
    // A check-in's reply was applied or dropped.
    void checkedIn();

private:
    ServiceClient& m_service;
    Clock& m_clock;
    std::function<bool()> m_mayCheckIn;
    std::optional<MonoTime> m_lastAt;
    std::unique_ptr<Timer> m_timer;
};

} // namespace ow
