#include "LinuxPlatform.h"

#include "LogindPowerKeyInhibitor.h"
#include "X11InputGrab.h"

namespace ow {

LinuxPlatform::LinuxPlatform(Options options)
    : m_defaults(std::move(options.defaultsPath))
    , m_window(options.session)
    , m_watchdog(std::move(options.watchdogHelper), std::move(options.watchdogRecord))
    , m_permission(m_guard, std::move(options.helpPage))
    , m_http(std::move(options.fetchHelper), std::move(options.userAgent))
{
}

std::unique_ptr<InputGrab> LinuxPlatform::makeInputGrab()
{
    return std::make_unique<X11InputGrab>();
}

std::unique_ptr<PowerKeyInhibitor> LinuxPlatform::makePowerKeyInhibitor()
{
    return std::make_unique<LogindPowerKeyInhibitor>();
}

} // namespace ow
