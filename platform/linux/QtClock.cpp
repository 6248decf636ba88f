#include "QtClock.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace ow {

namespace {

class QtTimer final : public Timer {
public:
    QtTimer(std::chrono::nanoseconds interval, bool repeating, std::function<void()> fn)
        : m_timer(new QTimer)
    {
        // A coarse timer may fire 5 % late: 45 s on a 15-minute lock.
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(!repeating);
        m_timer->setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(fn));
        m_timer->start();
    }

    ~QtTimer() override
    {
        // The timer may be cancelled from inside its own timeout: let Qt delete it afterwards.
        m_timer->stop();
        QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
        m_timer->deleteLater();
    }

private:
    QTimer* m_timer;
};

} // namespace

QtClock::QtClock()
{
    m_elapsed.start();
}

MonoTime QtClock::monotonicNow() const
{
    return std::chrono::nanoseconds(m_elapsed.nsecsElapsed());
}

QDateTime QtClock::wallNow() const
{
    return QDateTime::currentDateTimeUtc();
}

std::unique_ptr<Timer> QtClock::schedule(std::chrono::nanoseconds interval, bool repeating,
                                         std::function<void()> fn)
{
    return std::make_unique<QtTimer>(interval, repeating, std::move(fn));
}

void QtClock::post(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

} // namespace ow
