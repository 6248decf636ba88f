#pragma once

#include <QString>

namespace ow {

// The system's log, for the few events an administrator may need to find afterwards.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void write(const QString& line) = 0;
};

} // namespace ow
