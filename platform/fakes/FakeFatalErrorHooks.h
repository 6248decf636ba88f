#pragma once

#include "FatalErrorHooks.h"

namespace ow {

// Installs nothing; the stack is the test's to set.
class FakeFatalErrorHooks final : public FatalErrorHooks {
public:
    void install(const QString& path) override { recordPath = path; }
    QString currentStack(int) override { return stack; }

    QString recordPath;
    QString stack;
};

} // namespace ow
