#pragma once

#include <QString>

namespace ow {

// Whether the application starts by itself when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    // On failure *error, when given, says why, in words fit for the user.
    virtual bool registerItem(QString* error) = 0;
    virtual bool unregisterItem(QString* error) = 0;
    virtual bool isEnabled() const = 0;
};

} // namespace ow
