#pragma once

#include "SystemLog.h"

#include <QStringList>

namespace ow {

class FakeSystemLog final : public SystemLog {
public:
    void write(const QString& line) override { lines.append(line); }

    QStringList lines;
};

} // namespace ow
