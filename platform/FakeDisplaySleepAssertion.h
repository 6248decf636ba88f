#pragma once

#include "DisplaySleepAssertion.h"

#include <QSet>

namespace ow {

class FakeDisplaySleepAssertion final : public DisplaySleepAssertion {
public:
    quint32 create(const QString& reason) override
    {
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
};

} // namespace ow
