#pragma once

#include "LoginItem.h"

namespace ow {

class FakeLoginItem final : public LoginItem {
public:
    bool registerItem(QString* error) override { return change(true, error); }
    bool unregisterItem(QString* error) override { return change(false, error); }
    bool isEnabled() const override { return enabled; }

    bool enabled = false;
    // When not empty, every change fails with this text and leaves enabled as it was.
    QString failure;

private:
    bool change(bool on, QString* error)
    {
        if (!failure.isEmpty()) {
            if (error)
                *error = failure;
            return false;
        }
        enabled = on;
        return true;
    }
};

} // namespace ow
