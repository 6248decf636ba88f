#include "CheckInSchedule.h"

#include "ServiceClient.h"

#include <QPointer>

namespace ow {

CheckInSchedule::CheckInSchedule(ServiceClient& service, Clock& clock, std::function<bool()> mayCheckIn,
                                 QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_clock(clock)
    , m_mayCheckIn(std::move(mayCheckIn))
{
}

void CheckInSchedule::start()
{
    checkInNow();
    m_timer = m_clock.schedule(kInterval, true, [self = QPointer<CheckInSchedule>(this)] {
        if (self)
            self->checkInNow();
    });
}

void CheckInSchedule::checkInNow()
{
    if (!m_mayCheckIn())
        return;
    m_lastAt = m_clock.monotonicNow();
    m_service.checkWithServer([self = QPointer<CheckInSchedule>(this)] {
        if (self)
            emit self->checkedIn();
    });
}

void CheckInSchedule::checkInIfOlderThan(std::chrono::seconds maxAge)
{
    if (!m_lastAt || m_clock.monotonicNow() - *m_lastAt > maxAge)
        checkInNow();
}

} // namespace ow
