#pragma once

#include "DisplaySleepAssertion.h"

#include <QSet>

#include <functional>

namespace ow {

// onCreate sees the moment of the call.
class FakeDisplaySleepAssertion final : public DisplaySleepAssertion {
public:
    quint32 create(const QString& reason) override
    {
        if (onCreate)
            onCreate();
        if (!available)
            return 0;
        lastReason = reason;
        held.insert(nextId);
        return nextId++;
    }
    void release(quint32 id) override { held.remove(id); }

    bool available = true;
    quint32 nextId = 41;
    QSet<quint32> held;
    QString lastReason;
    std::function<void()> onCreate;
};

} // namespace ow
